#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "FrameContents.h"

namespace ni_usb_daq::host {

// The two forms a block of a stream arrives in, each read in one place:
// the frame text of topic "stream" (and of a finite read), and the binary
// block of topic "stream_binary". Both fill the same FrameContents.

/// What readTextFrame does with the frame's samples.
enum class FrameValues {
    Check,  ///< only check their form: a writer of the text needs no numbers
    Read,   ///< read them into the contents, "null" as NaN
};

/// Reads a frame's text: its numbers, its digital snapshot and, as asked,
/// its samples. Whole when the samples are "n_channels" arrays of
/// "sample_count" JSON numbers or nulls, in layout "channels_first".
FrameReading readTextFrame(std::string_view text, FrameValues values, FrameContents& into);

/// The frame's text with only the first `keep` samples of each channel and
/// "sample_count" set to match; every other byte as it was. False when the
/// text is not a whole frame.
bool cutTextFrame(std::string_view text, std::uint64_t keep, std::string& out);

/// Reads a binary block: its header (compact JSON: "version" 1, "byte_order"
/// "little", "dtype" "float64", "layout" "channels_first", the numbers and
/// the digital snapshot) and its payload of "sample_count" x "n_channels"
/// doubles, which are copied into the contents. Whole when all of that agrees.
FrameReading readBinaryBlock(std::string_view header, std::string_view payload,
                             FrameContents& into);

}  // namespace ni_usb_daq::host
