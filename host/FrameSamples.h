#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

/// The values of one frame, read from its text into buffers that are kept
/// from frame to frame: the analogue samples channel after channel, as the
/// frame lists them, and the digital snapshot, if the frame has one.
class FrameSamples {
public:
    /// Reads the frame's "samples" (`channelCount` arrays of `sampleCount`
    /// numbers; "null" becomes NaN) and its "digital_lines". False, with the
    /// buffers in no particular state, when the text holds anything else.
    bool read(std::string_view text, std::uint64_t channelCount, std::uint64_t sampleCount);

    /// Every sample, channels first: channel c's run starts at c x sampleCount.
    std::span<const double> values() const { return {values_.data(), count_}; }
    /// The digital snapshot, 1 or 0 per line; empty when the frame has none.
    std::span<const std::uint8_t> digitalLines() const { return digital_; }

private:
    std::vector<double> values_;  ///< grows to the largest frame, never shrinks
    std::size_t count_ = 0;
    std::vector<std::uint8_t> digital_;
};

}  // namespace ni_usb_daq::host
