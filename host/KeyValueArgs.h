#pragma once

#include <string>
#include <vector>

#include "DeviceRecords.h"

namespace ni_usb_daq::host {

/// Turns KEY=VALUE arguments into request parameters. The value is everything
/// after the first '=' and may be empty (an empty clock source is a setting of
/// its own). Throws UsageError naming every malformed argument (no '=', an
/// empty key, a key given twice), so nothing is sent for a bad command line.
kra::device::OperationParams parseKeyValueArgs(const std::vector<std::string>& args);

}  // namespace ni_usb_daq::host
