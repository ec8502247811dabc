// The plug-in's two entry points; the linker's version script (on Windows the
// module-definition file ni_usb_daq.def) hides the rest.
#include <cstdlib>
#include <string>

#include "stubs/NIUSBDAQStub.h"

namespace {

std::string environmentOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

}  // namespace

#if defined(_WIN32)
#define NI_USB_DAQ_ENTRY_POINT  // exported by ni_usb_daq.def
#else
#define NI_USB_DAQ_ENTRY_POINT __attribute__((visibility("default")))
#endif

extern "C" NI_USB_DAQ_ENTRY_POINT kra::device::IDeviceStub* createDeviceStub() {
    return new kra::device::stubs::NIUSBDAQStub(environmentOr("NI_DEVICE_NAME", "Dev1"),
                                                environmentOr("KRA_DEVICE_ID", "ni-usb-daq"),
                                                nullptr);
}

extern "C" NI_USB_DAQ_ENTRY_POINT void destroyDeviceStub(kra::device::IDeviceStub* stub) {
    delete stub;
}
