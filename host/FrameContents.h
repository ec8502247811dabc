#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

/// The numbering members of a frame or a binary block.
struct FrameNumbers {
    std::uint64_t sequenceNo = 0;
    std::uint64_t sampleCount = 0;  ///< per channel
    std::uint64_t channelCount = 0;
    std::int64_t timestampNs = 0;  ///< 0 when the frame has none
};

/// What a frame reader made of a frame.
struct FrameReading {
    enum class Kind {
        Whole,      ///< numbers and samples agree: it can be written
        Malformed,  ///< the numbers were read, the samples cannot be trusted: a gap
        Unreadable  ///< not even its numbers: only the next frame tells what was lost
    };
    Kind kind = Kind::Unreadable;
    /// Why it is not whole, for a message: "its samples are not ...".
    std::string_view problem;
};

/// One frame's numbers, samples and digital snapshot, in buffers that are
/// kept from frame to frame: once they have grown to the largest frame,
/// reading another allocates nothing.
class FrameContents {
public:
    FrameNumbers numbers;

    /// Room for `count` samples, channels first; the values are left to the
    /// caller to write.
    std::span<double> prepare(std::size_t count) {
        if (values_.size() < count) {
            values_.resize(count);
        }
        count_ = count;
        return {values_.data(), count_};
    }
    /// Drops the samples, keeping the room.
    void clearSamples() { count_ = 0; }

    /// The samples, channel after channel: channel c's run starts at c x
    /// numbers.sampleCount. Empty when only the frame's form was checked.
    std::span<const double> samples() const { return {values_.data(), count_}; }

    /// Keeps the first `keep` samples of each channel, closing up the runs,
    /// and sets numbers.sampleCount to match.
    void cut(std::uint64_t keep) {
        const std::uint64_t count = numbers.sampleCount;
        if (keep >= count) {
            return;
        }
        if (count_ != 0) {
            double* const values = values_.data();
            for (std::uint64_t c = 1; c < numbers.channelCount; ++c) {
                // Runs only move to the front, so each copy reads ahead of what it writes.
                std::copy_n(values + c * count, keep, values + c * keep);
            }
            count_ = static_cast<std::size_t>(numbers.channelCount * keep);
        }
        numbers.sampleCount = keep;
    }

    /// The digital snapshot, 1 or 0 per line; empty when the frame has none.
    std::vector<std::uint8_t> digitalLines;

    /// Storage in bytes, for a queue that bounds what it holds.
    std::size_t capacityBytes() const {
        return values_.capacity() * sizeof(double) + digitalLines.capacity();
    }

private:
    std::vector<double> values_;  ///< grows to the largest frame, never shrinks
    std::size_t count_ = 0;
};

}  // namespace ni_usb_daq::host
