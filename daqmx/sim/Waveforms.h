#pragma once

#include <cstdint>

#include "daqmx/NIDAQmx.h"

// The signals the simulated device acquires. Both are exact functions of the
// channel and the sample index, so a test can tell from a value which channel
// and which sample it came from.
namespace daqmx_sim {

/// Analogue input k (ai<k>, its position in the device's channel list) at
/// sample n (counted from 0 at the start of the task):
///     0.001 * (k + 1) + 0.000001 * (n mod 1000)   volts,
/// a slow sawtooth of 1 mV height sitting on a 1 mV step per channel. The
/// millivolt part names the channel, the microvolt part the sample; every
/// value lies inside the smallest range of any device (+-0.2 V) for the first
/// 199 channels.
double analogSample(std::uint32_t channelIndex, std::uint64_t sampleIndex);

/// Digital line i (its position in the device's line list) at sample n: bit i
/// of the counter n + 1, so the lines of one port count up the reads in binary.
uInt8 digitalSample(std::uint32_t lineIndex, std::uint64_t sampleIndex);

}  // namespace daqmx_sim
