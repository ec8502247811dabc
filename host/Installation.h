#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ni_usb_daq::host {

/// The folder that holds ni-usb-daq/device-manifest.json for this program:
/// the package's data folder beside an installed program, or the source
/// tree's devices folder for the program in its build folder; nullopt when
/// neither holds a manifest.
std::optional<std::filesystem::path> packagedManifestDir();

/// "ni-usb-daq-host 0.1.0".
std::string programVersion();

}  // namespace ni_usb_daq::host
