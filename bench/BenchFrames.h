// Sample blocks shaped like what a voltage stream delivers, for the frame
// benchmarks: one sine of a few volts per channel, each at its own frequency
// and phase, with a little Gaussian noise, at 100 kS/s, through a 16-bit
// converter on the +-10 V range and a per-channel calibration, as a device
// scales its readings. So the numbers carry full double precision, as real
// data does, and their text is as long as real data's.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

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

/// A reading of the 16-bit converter on +-10 V, scaled back through a small
/// gain and offset error.
inline double converted(double volts, std::size_t channel) {
    constexpr double kLow = -10.0;
    constexpr double kCode = 20.0 / 65536.0;
    const double code = std::clamp(std::floor((volts - kLow) / kCode), 0.0, 65535.0);
    const double gain = 1.0 + 1.7e-4 * static_cast<double>(channel % 5 + 1);
    const double offset = -3.1e-5 * static_cast<double>(channel % 3 + 1);
    return (kLow + code * kCode) * gain + offset;
}

/// Whose calibration scales a channel's codes: its own converter's, as on a
/// simultaneous-sampling device, or the one multiplexed converter's, so that
/// every channel maps a code to the same volts.
enum class Converters { PerChannel, Multiplexed };

/// One block of the stream, starting `firstSample` samples into it (each
/// block draws its own noise).
inline std::vector<double> waveform(const Shape& shape, std::int64_t firstSample = 0,
                                    Converters converters = Converters::PerChannel) {
    std::mt19937_64 random(12345 + static_cast<std::uint64_t>(firstSample));
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<double> values(static_cast<std::size_t>(shape.samples()));
    const auto perChannel = static_cast<std::size_t>(shape.samplesPerChannel);
    for (std::size_t c = 0; c < shape.channels; ++c) {
        const double amplitude = 1.0 + 0.25 * static_cast<double>(c % 8);
        const double frequencyHz = 50.0 * static_cast<double>(c + 1);
        const double phase = 0.3 * static_cast<double>(c);
        for (std::size_t s = 0; s < perChannel; ++s) {
            const double t =
                static_cast<double>(firstSample + static_cast<std::int64_t>(s)) / 100'000.0;
            values[c * perChannel + s] =
                converted(amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * t + phase) +
                              noise(random),
                          converters == Converters::PerChannel ? c : 0);
        }
    }
    return values;
}

/// `count` consecutive blocks of one stream.
inline std::vector<std::vector<double>> stream(const Shape& shape, int count,
                                               Converters converters) {
    std::vector<std::vector<double>> blocks;
    for (int i = 0; i < count; ++i) {
        blocks.push_back(
            waveform(shape, static_cast<std::int64_t>(i) * shape.samplesPerChannel, converters));
    }
    return blocks;
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

/// What BENCHMARK_MAIN does, for programs that register benchmarks of their
/// own at run time before they run.
inline int runRegistered(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
