#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceRecords.h"
#include "DeviceSession.h"

namespace ni_usb_daq::host {

/// Every device the driver lists, on every bus; nullopt when the plug-in
/// cannot list them.
std::optional<std::vector<DeviceIdentity>> listDevices(DeviceSession& session);

/// True when two device or channel names are the same to the driver, which
/// ignores case.
bool sameDriverName(std::string_view a, std::string_view b);

/// "the driver lists Dev1 (USB-6211), Dev2 (USB-6002)", for messages about a
/// device name the driver does not know.
std::string deviceListText(const std::vector<DeviceIdentity>& devices);

/// The device list: as `lines`, one aligned line per device (name, product,
/// serial, channel count, highest rate) for a person to read; otherwise JSON,
/// each device with its voltage ranges and the highest rate per channel for
/// 1..N channels.
int runScan(DeviceSession& session, bool allBuses, bool lines, std::ostream& out);

struct QueryOptions {
    std::optional<std::string> deviceName;
    std::optional<std::string> channel;
};
/// The device's description (and the channel's). A device the driver does not
/// list, or a channel that is not one of the device's, is a HostError.
int runQuery(DeviceSession& session, const QueryOptions& options, std::ostream& out);

}  // namespace ni_usb_daq::host
