#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "daqmx/NIDAQmx.h"
#include "device/DeviceRecords.h"

namespace kra::device::stubs {

/// The device's product type, read the same way wherever it is needed: a
/// 256-byte buffer, read again at the driver's size when the text is longer.
/// On failure `failedStatus` (when given) receives the driver's status, its
/// extended error text still the thread's latest.
std::optional<std::string> readProductType(const std::string& device,
                                           int32* failedStatus = nullptr);

/// Cuts a driver name list at commas, trims blanks, tabs and line ends, and
/// drops empty pieces.
std::vector<std::string> splitNameList(std::string_view text);

/// The devices the driver knows, in its order; with usbOnly, only those whose
/// product type begins with "USB-". A failed call leaves its item out.
nlohmann::json scanDevices(bool usbOnly);

/// The information document of one device and, when `channel` is not empty,
/// of one of its physical channels. A failed call leaves its item out.
nlohmann::json queryDeviceDocument(const std::string& deviceName, const std::string& channel);

/// Which start triggers the device has ("DIGITAL_EDGE", "ANALOG_EDGE") and
/// its PFI terminals, as the information document states
/// them under "triggers"; null when the driver could not say.
nlohmann::json deviceTriggers(const std::string& deviceName);

/// Updates model, serial number and device properties of `info` from the
/// driver; a failed call leaves its field as it was.
void refreshDeviceInfo(const std::string& deviceName, DeviceInfo& info);

}  // namespace kra::device::stubs
