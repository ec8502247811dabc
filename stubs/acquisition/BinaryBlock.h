#pragma once

#include <string>

#include "stubs/acquisition/SampleFrame.h"

namespace kra::device::stubs {

/// The "version" of the header below; a reader refuses a version it does not know.
inline constexpr int kBinaryBlockVersion = frame::kBinaryVersion;

/// Writes the header of the block's binary form into `out`, replacing its
/// contents and reusing its capacity: compact JSON with the members sorted by
/// key, as the JSON library dumps them:
///   "byte_order" "little", "digital_lines" and "n_digital_lines" (exactly
///   when the frame text of the block has them), "dtype" "float64", "layout"
///   "channels_first", "n_channels", "sample_count", "sequence_no",
///   "timestamp_ns", "version".
/// The counts and stamps are the frame's, so both forms of a block agree.
void writeBinaryBlockHeader(const SampleFrameView& frame, std::string& out);

/// Writes the block's samples into `out` as raw little-endian IEEE-754
/// doubles, channel after channel with the delivered count as stride:
/// sample_count x n_channels x 8 bytes, the bits the driver returned
/// (non-finite values included). Reuses the capacity of `out`.
void writeBinaryBlockSamples(const SampleFrameView& frame, std::string& out);

}  // namespace kra::device::stubs
