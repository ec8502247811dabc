// Looks like a plug-in but lacks destroyDeviceStub: a host must refuse it
// rather than create stubs it could never free.
extern "C" __attribute__((visibility("default"))) void* createDeviceStub() {
    return nullptr;
}
