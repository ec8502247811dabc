#include "PluginLoader.h"

#include <dlfcn.h>

#include <string>
#include <system_error>

#include "HostError.h"

#ifndef NI_USB_DAQ_PLUGIN_FILE_NAME
#define NI_USB_DAQ_PLUGIN_FILE_NAME "libni_usb_daq.so"
#endif

namespace ni_usb_daq::host {

namespace {

std::string lastDlError() {
    const char* text = ::dlerror();
    return text != nullptr ? std::string(text) : std::string("unknown error");
}

// dlsym hands out data pointers; POSIX guarantees they convert to function
// pointers, which is what the two entry points are.
template <typename Function>
Function resolve(void* handle, const char* name, const std::filesystem::path& path) {
    ::dlerror();
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        throw HostError("plug-in '" + path.string() + "' does not export " + name);
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
    // RTLD_NOW: an unresolved symbol in the plug-in shows here, with the
    // loader's reason, rather than as a crash in the middle of a command.
    void* raw = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (raw == nullptr) {
        throw HostError("cannot load plug-in '" + path_.string() + "': " + lastDlError());
    }
    handle_ = std::shared_ptr<void>(raw, [](void* handle) { ::dlclose(handle); });
    create_ = resolve<CreateFunction>(handle_.get(), "createDeviceStub", path_);
    destroy_ = resolve<StubDeleter::DestroyFunction>(handle_.get(), "destroyDeviceStub", path_);
}

StubPtr PluginLibrary::createStub() const {
    StubPtr stub(create_(), StubDeleter(destroy_, handle_));
    if (!stub) {
        throw HostError("plug-in '" + path_.string() + "' created no device stub");
    }
    return stub;
}

std::filesystem::path defaultPluginPath() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw HostError("cannot locate this program (/proc/self/exe: " + error.message() +
                        "); name the plug-in with --library");
    }
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
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    return executable.parent_path();
}

}  // namespace ni_usb_daq::host
