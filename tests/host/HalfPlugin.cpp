// Looks like a plug-in but lacks destroyDeviceStub: a host must refuse it
// rather than create stubs it could never free.
#include "../support/PluginEntryPoint.h"

extern "C" TEST_PLUGIN_ENTRY_POINT void* createDeviceStub() {
    return nullptr;
}
