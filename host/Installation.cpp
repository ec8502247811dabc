#include "Installation.h"

#include <string_view>
#include <system_error>

#include "HostError.h"
#include "PluginLoader.h"

#ifndef NI_USB_DAQ_VERSION
#define NI_USB_DAQ_VERSION "unknown"
#endif
#ifndef NI_USB_DAQ_DATA_FROM_PROGRAM
#define NI_USB_DAQ_DATA_FROM_PROGRAM "../share/ni_usb_daq/devices"
#endif

namespace ni_usb_daq::host {

namespace {

constexpr std::string_view kManifestInDir = "ni-usb-daq/device-manifest.json";

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

std::string programVersion() {
    return std::string(kProgramName) + " " + NI_USB_DAQ_VERSION;
}

}  // namespace ni_usb_daq::host
