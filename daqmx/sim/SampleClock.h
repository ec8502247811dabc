#pragma once

#include <cstddef>
#include <string>

#include "SimDevice.h"

namespace daqmx_sim {

/// What the device grants for a requested sample clock.
struct GrantedClock {
    int32 status = 0;   // 0, or the error to report
    double rate = 0.0;  // samples per second per channel, when status is 0
    std::string error;  // the extended text, when status is not 0
};

/// Checks a requested rate for `channelCount` channels against the device's
/// limits (one channel: the single-channel maximum; more: the multi-channel
/// maximum shared by all) and coerces it to what the clock can make: on the
/// internal clock timebase / round(timebase / rate); on an external clock
/// source exactly the requested rate.
GrantedClock grantSampleClock(const SimDevice& device, double requested, std::size_t channelCount,
                              bool internalClock);

}  // namespace daqmx_sim
