#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "IDeviceStub.h"

namespace ni_usb_daq::host {

/// Frees a stub through the plug-in's own destroy function. It also holds a
/// share of the library mapping, so the code a stub runs on stays loaded for as
/// long as the stub exists, whatever order the owners are destroyed in.
class StubDeleter {
public:
    using DestroyFunction = void (*)(kra::device::IDeviceStub*);

    StubDeleter() = default;
    StubDeleter(DestroyFunction destroy, std::shared_ptr<void> library)
        : destroy_(destroy), library_(std::move(library)) {}

    void operator()(kra::device::IDeviceStub* stub) const;

private:
    DestroyFunction destroy_ = nullptr;
    std::shared_ptr<void> library_;
};

using StubPtr = std::unique_ptr<kra::device::IDeviceStub, StubDeleter>;

/// The plug-in library opened with the system's loader, its two entry points resolved.
/// Construction throws HostError when the file cannot be loaded or lacks one
/// of the entry points; the mapping is released when the last owner (this
/// object or a stub made from it) goes away.
class PluginLibrary {
public:
    explicit PluginLibrary(std::filesystem::path path);

    /// A new stub, made by createDeviceStub from the current environment.
    StubPtr createStub() const;

    const std::filesystem::path& path() const { return path_; }

private:
    using CreateFunction = kra::device::IDeviceStub* (*)();

    std::filesystem::path path_;
    std::shared_ptr<void> handle_;
    CreateFunction create_ = nullptr;
    StubDeleter::DestroyFunction destroy_ = nullptr;
};

/// The plug-in built next to this program: its directory is this program's
/// own, so the program finds it wherever the build tree lies.
std::filesystem::path defaultPluginPath();

/// The folder of this program's own file (links resolved); nullopt when it
/// cannot be told.
std::optional<std::filesystem::path> programDirectory();

}  // namespace ni_usb_daq::host
