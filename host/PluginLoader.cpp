#include "PluginLoader.h"

#include <string>
#include <system_error>

#include "HostError.h"
#include "Platform.h"
#include "Utf8Path.h"

#ifndef NI_USB_DAQ_PLUGIN_FILE_NAME
#define NI_USB_DAQ_PLUGIN_FILE_NAME "libni_usb_daq.so"
#endif

namespace ni_usb_daq::host {

using kra::device::pathToUtf8;

namespace {

// The loader hands out untyped addresses; both systems guarantee they convert
// to function pointers, which is what the two entry points are.
template <typename Function>
Function resolve(void* handle, const char* name, const std::filesystem::path& path) {
    void* symbol = platform::findSymbol(handle, name);
    if (symbol == nullptr) {
        throw HostError("plug-in '" + pathToUtf8(path) + "' does not export " + name);
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

void StubDeleter::operator()(kra::device::IDeviceStub* stub) const {
    if (stub != nullptr && destroy_ != nullptr) {
        destroy_(stub);
    }
}

PluginLibrary::PluginLibrary(std::filesystem::path path) : path_(std::move(path)) {
    handle_ = platform::loadLibrary(path_);
    create_ = resolve<CreateFunction>(handle_.get(), "createDeviceStub", path_);
    destroy_ = resolve<StubDeleter::DestroyFunction>(handle_.get(), "destroyDeviceStub", path_);
}

StubPtr PluginLibrary::createStub() const {
    StubPtr stub(create_(), StubDeleter(destroy_, handle_));
    if (!stub) {
        throw HostError("plug-in '" + pathToUtf8(path_) + "' created no device stub");
    }
    return stub;
}

std::filesystem::path defaultPluginPath() {
    std::error_code error;
    const auto executable = platform::executablePath();
    const auto beside = executable.parent_path() / NI_USB_DAQ_PLUGIN_FILE_NAME;
    if (std::filesystem::exists(beside, error)) {
        return beside;
    }
    // An installed program lives in bin/, the plug-in in the devices folder of lib/.
    for (const char* libdir : {"lib", "lib64"}) {
        const auto installed = executable.parent_path().parent_path() / libdir / "ni_usb_daq" /
                               "devices" / "ni-usb-daq" / NI_USB_DAQ_PLUGIN_FILE_NAME;
        if (std::filesystem::exists(installed, error)) {
            return installed;
        }
    }
    return beside;
}

std::optional<std::filesystem::path> programDirectory() {
    try {
        return platform::executablePath().parent_path();
    } catch (const HostError&) {
        return std::nullopt;
    }
}

}  // namespace ni_usb_daq::host
