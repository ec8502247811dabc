#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/FrameKeys.h"
#include "stubs/acquisition/NumberTextCache.h"

namespace kra::device::stubs {

/// The value of a frame's "layout": samples of one channel after another.
inline constexpr std::string_view kFrameLayout = frame::kChannelsFirst;

/// One block of samples as a frame describes it. The view does not own the
/// sample buffer; it must outlive the calls below.
struct SampleFrameView {
    std::uint64_t sequenceNo = 0;      ///< 1, 2, 3... for streams; 0 for finite reads
    std::int64_t timestampNs = 0;      ///< wall clock, multiple of 100 ns
    std::int32_t sampleCount = 0;      ///< samples per channel the read delivered
    std::uint64_t channelCount = 0;    ///< channels of the analogue task
    const double* samples = nullptr;   ///< channel after channel, stride sampleCount
    std::size_t sampleBufferSize = 0;  ///< elements available at `samples`
    const std::vector<bool>* digitalLines = nullptr;  ///< snapshot; null or empty: none
};

/// The sample count a frame can honestly carry: the delivered count, cut down
/// so that channelCount x count never exceeds the buffer, and never negative.
/// Without channels nothing is read, and the delivered count stands as it is.
std::int32_t frameSampleCount(const SampleFrameView& frame);

/// The digital snapshot the frame carries, or null when it carries none (and
/// its text has no digital keys).
inline const std::vector<bool>* frameDigitalLines(const SampleFrameView& frame) {
    return frame.digitalLines != nullptr && !frame.digitalLines->empty() ? frame.digitalLines
                                                                         : nullptr;
}

/// Writes the frame's compact JSON text into `out`, replacing its contents and
/// reusing its capacity. The bytes are exactly those of the JSON library's
/// dump of the same frame as a document, members sorted by key.
void writeFrameText(const SampleFrameView& frame, std::string& out);

/// The same text with "pretrigger_samples" among its members when
/// `pretriggerSamples` is set: the frame of a reference-triggered read, whose
/// first samples precede the trigger. Unset, the bytes are the plain frame's.
void writeFrameText(const SampleFrameView& frame, std::optional<std::uint32_t> pretriggerSamples,
                    std::string& out);

/// The same text, with the numbers' texts taken from and kept in `numbers`:
/// for a stream, whose values repeat from block to block, most samples are a
/// copy. The bytes do not depend on what the cache holds.
void writeFrameText(const SampleFrameView& frame, std::string& out, NumberTextCache& numbers);

}  // namespace kra::device::stubs
