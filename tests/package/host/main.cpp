// Loads the installed plug-in by its two symbols and prints the device model.
#include <dlfcn.h>

#include <cstdio>

#include <IDeviceStub.h>

int main() {
    void* library = dlopen(PLUGIN_PATH, RTLD_NOW);
    if (library == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    auto create =
        reinterpret_cast<kra::device::IDeviceStub* (*)()>(dlsym(library, "createDeviceStub"));
    auto destroy =
        reinterpret_cast<void (*)(kra::device::IDeviceStub*)>(dlsym(library, "destroyDeviceStub"));
    if (create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "missing entry points\n");
        return 1;
    }
    kra::device::IDeviceStub* stub = create();
    int status = 0;
    try {
        stub->connect();
        std::printf("model=%s\n", stub->getDeviceInfo().model.c_str());
        stub->disconnect();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "connect: %s\n", error.what());
        status = 1;
    }
    destroy(stub);
    dlclose(library);
    return status;
}
