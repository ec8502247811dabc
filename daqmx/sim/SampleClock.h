#pragma once

#include <cstddef>
#include <string>

#include "SimDevice.h"

namespace daqmx_sim {

/// The largest divisor of the sample clock timebase: the counter that divides
/// it down is 32 bits wide, as on the M-series devices the built-in rig
/// models, so the slowest internal clock is timebase / 2^32.
inline constexpr double kMaxSampleClockDivisor = 4294967296.0;

/// What the device grants for a requested sample clock.
struct GrantedClock {
    int32 status = 0;   // 0, or the error to report
    double rate = 0.0;  // samples per second per channel, when status is 0
    std::string error;  // the extended text, when status is not 0
};

/// Checks a requested rate for `channelCount` channels against the device's
/// limits (one channel: the single-channel maximum; more: the multi-channel
/// maximum shared by all) and coerces it to what the clock can make: on the
/// internal clock timebase / round(timebase / rate), refusing a rate that needs
/// a divisor beyond kMaxSampleClockDivisor; on an external clock source (or a
/// device without a timebase) exactly the requested rate. A rate that is not
/// a finite positive number is always refused.
GrantedClock grantSampleClock(const SimDevice& device, double requested, std::size_t channelCount,
                              bool internalClock);

}  // namespace daqmx_sim
