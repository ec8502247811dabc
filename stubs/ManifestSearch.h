#pragma once

#include <memory>
#include <string>

#include "device/DeviceManifest.h"
#include "device/DeviceRecords.h"

namespace kra::device::stubs {

/// Where the stub looks for its manifest when its creator gave it none: the
/// directory named by KRA_DEVICE_MANIFEST_DIR, then the fixed relative
/// directories, each with "/ni-usb-daq/device-manifest.json" appended.
/// Returns the first candidate that exists, or an empty text.
std::string findManifestPath();

/// Loads the manifest at `path`; a manifest that cannot be loaded is a warning
/// line and an empty pointer, never a failure.
std::unique_ptr<DeviceManifest> loadManifestOrWarn(const std::string& path);

/// Fills id, type, firmware version, manufacturer, model and properties of
/// `info` from the manifest (null: none) and the built-in defaults.
void applyManifestIdentity(const DeviceManifest* manifest, const std::string& deviceId,
                           DeviceInfo& info);

}  // namespace kra::device::stubs
