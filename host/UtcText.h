#pragma once

#include <chrono>
#include <string>

namespace ni_usb_daq::host {

/// "2026-12-07T03:04:05.123456Z": the time in UTC with `fractionDigits`
/// (0 to 9) digits of the second, cut rather than rounded.
std::string utcText(std::chrono::system_clock::time_point time, unsigned fractionDigits = 6);

}  // namespace ni_usb_daq::host
