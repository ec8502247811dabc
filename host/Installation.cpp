#include "Installation.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "Output.h"
#include "PluginLoader.h"

#ifndef NI_USB_DAQ_DATA_FROM_PROGRAM
#define NI_USB_DAQ_DATA_FROM_PROGRAM "../share/ni_usb_daq/devices"
#endif

namespace ni_usb_daq::host {

namespace {

constexpr std::string_view kManifestInDir = "ni-usb-daq/device-manifest.json";

// The plug-in's own search after the variable, relative to the working folder.
constexpr std::array<std::string_view, 5> kRelativeDirs = {
    "./devices", "../devices", "../../devices", "../../../devices", "./core/cpp/devices"};

bool holdsManifest(const std::filesystem::path& dir) {
    std::error_code error;
    return std::filesystem::exists(dir / kManifestInDir, error);
}

}  // namespace

std::optional<std::filesystem::path> packagedManifestDir() {
    const auto program = programDirectory();
    if (!program) {
        return std::nullopt;
    }
    if (auto installed = (*program / NI_USB_DAQ_DATA_FROM_PROGRAM).lexically_normal();
        holdsManifest(installed)) {
        return installed;
    }
#if defined(NI_USB_DAQ_BUILD_DIR) && defined(NI_USB_DAQ_SOURCE_DEVICES_DIR)
    // The program where it was built: the manifest of the tree it came from.
    std::error_code error;
    if (std::filesystem::equivalent(*program, NI_USB_DAQ_BUILD_DIR, error) &&
        holdsManifest(NI_USB_DAQ_SOURCE_DEVICES_DIR)) {
        return std::filesystem::path(NI_USB_DAQ_SOURCE_DEVICES_DIR);
    }
#endif
    return std::nullopt;
}

std::string manifestSource(bool pointedByProgram) {
    if (const char* dir = std::getenv("KRA_DEVICE_MANIFEST_DIR"); dir != nullptr && *dir != '\0') {
        const auto candidate = pathFromUtf8(dir) / kManifestInDir;
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) {
            return utf8Text(candidate) + (pointedByProgram
                                              ? " (the manifest that came with this program)"
                                              : " (from KRA_DEVICE_MANIFEST_DIR)");
        }
    }
    for (const auto dir : kRelativeDirs) {
        const auto candidate = std::filesystem::path(dir) / kManifestInDir;
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) {
            return utf8Text(std::filesystem::absolute(candidate, error).lexically_normal()) +
                   " (found relative to the working folder)";
        }
    }
    return {};
}

}  // namespace ni_usb_daq::host
