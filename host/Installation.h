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

/// Where the plug-in will find its manifest, following its own search:
/// KRA_DEVICE_MANIFEST_DIR, then the folders relative to the working folder.
/// Empty when it will find none. `pointedByProgram`: the variable was set by
/// this program, not by the user.
std::string manifestSource(bool pointedByProgram);

}  // namespace ni_usb_daq::host
