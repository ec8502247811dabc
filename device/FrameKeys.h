#pragma once

#include <string_view>

/// The names a stream's blocks go out under, shared by the plug-in that
/// writes them and the host that reads them: the topics, the properties of a
/// streamed state, the members of a frame's text and of a binary block's
/// header, and the values those members have.
namespace kra::device::frame {

/// Topics of feature "analog_input".
inline constexpr std::string_view kTextTopic = "stream";
inline constexpr std::string_view kBinaryTopic = "stream_binary";

/// Properties of a streamed state: the frame text on the text topic; the
/// header and the raw doubles on the binary topic.
inline constexpr std::string_view kFrameProperty = "frame";
inline constexpr std::string_view kHeaderProperty = "header";
inline constexpr std::string_view kSamplesProperty = "samples";

/// Members of a frame's text and of a block's header.
inline constexpr std::string_view kByteOrder = "byte_order";
inline constexpr std::string_view kDigitalLines = "digital_lines";
inline constexpr std::string_view kDtype = "dtype";
inline constexpr std::string_view kLayout = "layout";
inline constexpr std::string_view kChannelCount = "n_channels";
inline constexpr std::string_view kDigitalLineCount = "n_digital_lines";
/// Only in the frame of a reference-triggered finite read.
inline constexpr std::string_view kPretriggerSamples = "pretrigger_samples";
inline constexpr std::string_view kSampleCount = "sample_count";
inline constexpr std::string_view kSamples = "samples";
inline constexpr std::string_view kSequenceNo = "sequence_no";
inline constexpr std::string_view kTimestampNs = "timestamp_ns";
inline constexpr std::string_view kVersion = "version";

/// The values those members have: samples of one channel after another, as
/// IEEE-754 doubles in little-endian byte order, in version 1 of the header.
inline constexpr std::string_view kChannelsFirst = "channels_first";
inline constexpr std::string_view kFloat64 = "float64";
inline constexpr std::string_view kLittleEndian = "little";
inline constexpr int kBinaryVersion = 1;

}  // namespace kra::device::frame
