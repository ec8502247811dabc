// The plug-in's two entry points; the linker's version script hides the rest.
#include <cstdlib>
#include <string>

#include "stubs/NIUSBDAQStub.h"

namespace {

std::string environmentOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) kra::device::IDeviceStub* createDeviceStub() {
    return new kra::device::stubs::NIUSBDAQStub(environmentOr("NI_DEVICE_NAME", "Dev1"),
                                                environmentOr("KRA_DEVICE_ID", "ni-usb-daq"),
                                                nullptr);
}

extern "C" __attribute__((visibility("default"))) void destroyDeviceStub(
    kra::device::IDeviceStub* stub) {
    delete stub;
}
