#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

/// A sample frame as the plug-in delivers it, channels first: channels[c][s]
/// is sample s of channel c, in volts (NaN where the frame holds null).
struct FrameDocument {
    std::uint64_t sequenceNo = 0;
    std::int64_t timestampNs = 0;
    std::size_t sampleCount = 0;
    std::vector<std::vector<double>> channels;
};

/// Parses the compact JSON text of a frame. Throws HostError when the text is
/// not a frame: missing members, or channel arrays that disagree with
/// "sample_count" or "n_channels".
FrameDocument parseFrame(const std::string& text);

/// The frame's text with only the first `keep` samples of each channel and
/// "sample_count" set to match; the other members and every number's text
/// stay as they were. Throws HostError when the text is not a frame.
std::string truncatedFrame(std::string_view text, std::uint64_t keep);

}  // namespace ni_usb_daq::host
