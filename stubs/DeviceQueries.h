#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/DeviceRecords.h"

namespace kra::device::stubs {

/// Cuts a driver name list at commas, trims blanks, tabs and line ends, and
/// drops empty pieces.
std::vector<std::string> splitNameList(std::string_view text);

/// The devices the driver knows, in its order; with usbOnly, only those whose
/// product type begins with "USB-". A failed call leaves its item out.
nlohmann::json scanDevices(bool usbOnly);

/// The information document of one device and, when `channel` is not empty,
/// of one of its physical channels. A failed call leaves its item out.
nlohmann::json queryDeviceDocument(const std::string& deviceName, const std::string& channel);

/// Updates model, serial number and device properties of `info` from the
/// driver; a failed call leaves its field as it was.
void refreshDeviceInfo(const std::string& deviceName, DeviceInfo& info);

}  // namespace kra::device::stubs
