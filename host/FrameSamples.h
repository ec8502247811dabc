#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

/// The values of one frame, read from its text in one pass into buffers that
/// are kept from frame to frame: the analogue samples, and the digital
/// snapshot, if the frame has one.
class FrameSamples {
public:
    /// How values() holds the samples.
    enum class Order {
        ChannelsFirst,  ///< as the frame lists them: channel c's run starts at c x sampleCount
        SamplesFirst,   ///< one row per sample: sample s's channels start at s x channelCount
    };

    /// Reads the frame's "samples" (`channelCount` arrays of `sampleCount`
    /// numbers; "null" becomes NaN) and its "digital_lines". False, with the
    /// buffers in no particular state, when the text holds anything else.
    bool read(std::string_view text, std::uint64_t channelCount, std::uint64_t sampleCount,
              Order order = Order::ChannelsFirst);

    /// Every sample, in the order read() was asked for.
    std::span<const double> values() const { return {values_.data(), count_}; }
    /// The digital snapshot, 1 or 0 per line; empty when the frame has none.
    std::span<const std::uint8_t> digitalLines() const { return digital_; }

private:
    std::vector<double> values_;  ///< grows to the largest frame, never shrinks
    std::size_t count_ = 0;
    std::vector<std::uint8_t> digital_;
};

}  // namespace ni_usb_daq::host
