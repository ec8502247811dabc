#include "stubs/ManifestSearch.h"

#include <array>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "stubs/Logging.h"
#include "device/Utf8Path.h"

namespace kra::device::stubs {
namespace {

constexpr std::string_view kManifestSuffix = "/ni-usb-daq/device-manifest.json";

/// Tried in this order after KRA_DEVICE_MANIFEST_DIR: the usual places
/// relative to the directory a host or a test runs in.
constexpr std::array<std::string_view, 5> kManifestSearchDirs = {
    "./devices", "../devices", "../../devices", "../../../devices", "./core/cpp/devices"};

/// Any kind of entry counts. A candidate that cannot even be checked (access
/// denied, name too long, a symbolic link loop) is not here: one bad directory
/// on the path must not make the stub impossible to create.
bool entryExists(const std::string& candidate) {
    std::error_code error;
    const bool exists = std::filesystem::exists(pathFromUtf8(candidate), error);
    if (error) {
        logWarn("NIUSBDAQStub: cannot check manifest candidate {}: {}", candidate, error.message());
        return false;
    }
    return exists;
}

std::string candidateIn(std::string_view directory) {
    // Plain concatenation: a directory ending in a slash gives a double slash.
    return std::string(directory).append(kManifestSuffix);
}

std::string textOrDefault(const DeviceManifest* manifest, std::string DeviceManifest::*field,
                          std::string_view fallback) {
    if (manifest != nullptr && !(manifest->*field).empty()) {
        return manifest->*field;
    }
    return std::string(fallback);
}

}  // namespace

std::string findManifestPath() {
    if (const char* directory = std::getenv("KRA_DEVICE_MANIFEST_DIR");
        directory != nullptr && *directory != '\0') {
        std::string candidate = candidateIn(directory);
        if (entryExists(candidate)) {
            return candidate;
        }
    }
    for (const std::string_view directory : kManifestSearchDirs) {
        std::string candidate = candidateIn(directory);
        if (entryExists(candidate)) {
            return candidate;
        }
    }
    return {};
}

std::unique_ptr<DeviceManifest> loadManifestOrWarn(const std::string& path) {
    try {
        return std::make_unique<DeviceManifest>(loadDeviceManifest(path));
    } catch (const std::exception& error) {
        logWarn("NIUSBDAQStub: failed to load manifest at {}: {}", path, error.what());
        return nullptr;
    }
}

void applyManifestIdentity(const DeviceManifest* manifest, const std::string& deviceId,
                           DeviceInfo& info) {
    info.id = deviceId;
    info.type = textOrDefault(manifest, &DeviceManifest::deviceType, "ni-usb-daq");
    info.firmwareVersion = textOrDefault(manifest, &DeviceManifest::firmwareVersion, "n/a");
    info.manufacturer =
        textOrDefault(manifest, &DeviceManifest::manufacturer, "National Instruments");
    info.model = textOrDefault(manifest, &DeviceManifest::model, "USB-DAQ");
    if (manifest != nullptr) {
        for (const auto& [key, value] : manifest->metadata) {
            info.properties.insert_or_assign(key, value);
        }
    }
}

}  // namespace kra::device::stubs
