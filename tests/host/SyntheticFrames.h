// Frame texts as the plug-in writes them (the JSON library's compact dump),
// and their samples as numbers, with values that tell their channel and
// sample index, for recording tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace host_tests {

/// Channel c's value at sample index i; every 7th of channel 1 is missing.
inline double syntheticValue(std::uint64_t channel, std::uint64_t index) {
    if (channel == 1 && index % 7 == 3) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return (static_cast<double>(channel) + 1.0) * 0.001 * static_cast<double>(index) - 3.25;
}

/// The samples of such a frame, channel after channel.
inline std::vector<double> syntheticSamples(std::uint64_t channels, std::uint64_t count,
                                            std::uint64_t first) {
    std::vector<double> samples;
    for (std::uint64_t c = 0; c < channels; ++c) {
        for (std::uint64_t s = 0; s < count; ++s) {
            samples.push_back(syntheticValue(c, first + s));
        }
    }
    return samples;
}

/// A frame of `channels` x `count` samples from index `first`, with the
/// digital snapshot `lines` (none when empty).
inline std::string syntheticFrame(std::uint64_t sequenceNo, std::uint64_t channels,
                                  std::uint64_t count, std::uint64_t first,
                                  const std::vector<bool>& lines = {}) {
    nlohmann::json frame = nlohmann::json::object();
    frame["sequence_no"] = sequenceNo;
    frame["timestamp_ns"] = 1'700'000'000'000'000'000 + static_cast<std::int64_t>(sequenceNo) * 100;
    frame["sample_count"] = count;
    frame["n_channels"] = channels;
    frame["layout"] = "channels_first";
    nlohmann::json samples = nlohmann::json::array();
    for (std::uint64_t c = 0; c < channels; ++c) {
        nlohmann::json channel = nlohmann::json::array();
        for (std::uint64_t s = 0; s < count; ++s) {
            channel.push_back(syntheticValue(c, first + s));
        }
        samples.push_back(channel);
    }
    frame["samples"] = samples;
    if (!lines.empty()) {
        frame["digital_lines"] = lines;
        frame["n_digital_lines"] = lines.size();
    }
    return frame.dump();
}

}  // namespace host_tests
