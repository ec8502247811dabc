// Sample blocks shaped like what a voltage stream delivers, for the frame
// benchmarks: one sine of a few volts per channel, each at its own frequency
// and phase, with a little Gaussian noise, at 100 kS/s.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "stubs/acquisition/SampleFrame.h"

namespace bench {

struct Shape {
    std::uint64_t channels;
    std::int32_t samplesPerChannel;

    std::string label() const {
        return std::to_string(channels) + "x" + std::to_string(samplesPerChannel);
    }
    std::int64_t samples() const { return static_cast<std::int64_t>(channels) * samplesPerChannel; }
};

inline std::vector<double> waveform(const Shape& shape) {
    std::mt19937_64 random(12345);
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<double> values(static_cast<std::size_t>(shape.samples()));
    const auto perChannel = static_cast<std::size_t>(shape.samplesPerChannel);
    for (std::size_t c = 0; c < shape.channels; ++c) {
        const double amplitude = 1.0 + 0.25 * static_cast<double>(c % 8);
        const double frequencyHz = 50.0 * static_cast<double>(c + 1);
        const double phase = 0.3 * static_cast<double>(c);
        for (std::size_t s = 0; s < perChannel; ++s) {
            const double t = static_cast<double>(s) / 100'000.0;
            values[c * perChannel + s] =
                amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * t + phase) +
                noise(random);
        }
    }
    return values;
}

/// A stream frame over `values` (which must outlive it).
inline kra::device::stubs::SampleFrameView frameOf(const Shape& shape,
                                                   const std::vector<double>& values) {
    kra::device::stubs::SampleFrameView view;
    view.sequenceNo = 1234;
    view.timestampNs = 1'718'000'000'000'000'000;
    view.sampleCount = shape.samplesPerChannel;
    view.channelCount = shape.channels;
    view.samples = values.data();
    view.sampleBufferSize = values.size();
    return view;
}

}  // namespace bench
