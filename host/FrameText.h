#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

// Frames handled as the text the plug-in wrote, without building a document:
// a stream passes through at the speed of copying it.

/// The numbering members of a frame.
struct FrameNumbers {
    std::uint64_t sequenceNo = 0;
    std::uint64_t sampleCount = 0;
    std::uint64_t channelCount = 0;
    std::int64_t timestampNs = 0;  ///< 0 when the frame has none
};

/// "sequence_no", "sample_count" and "n_channels" read from the frame's text
/// by looking for their keys alone; nullopt when one is missing or not a
/// whole number. The frame's other members only ever hold numbers, literals
/// and "channels_first", so a key cannot be matched inside another value.
std::optional<FrameNumbers> scanFrameNumbers(std::string_view text);

/// True when the frame's "samples" are `numbers.channelCount` arrays of
/// `numbers.sampleCount` values, each a JSON number or null: what every writer
/// may copy or parse without a further check.
bool frameSamplesWellFormed(std::string_view text, const FrameNumbers& numbers);

/// The frame's text with only the first `keep` samples of each channel and
/// "sample_count" set to match; the other members and every number's text
/// stay as they were. Throws HostError when the text is not a frame.
std::string truncatedFrame(std::string_view text, std::uint64_t keep);

/// What the CSV rows carry besides the samples.
struct CsvColumns {
    bool time = false;          ///< a "time_s" column: index / sampleRateHz
    double sampleRateHz = 0.0;  ///< achieved rate, for the time column
    /// Digital columns every row has; a frame without that many digital
    /// values leaves them empty.
    std::size_t digitalLines = 0;
};

/// Writes CSV rows straight from frame text: the sample index, optionally
/// its time, the channels' values exactly as the frame spells them ("null"
/// becomes "nan"), then one 0/1 column per digital line (the frame's one
/// snapshot, repeated on each of its rows). Its buffers are kept from frame
/// to frame.
class CsvRowWriter {
public:
    /// Throws HostError when a time column is asked for without a rate.
    explicit CsvRowWriter(CsvColumns columns);

    /// One row per sample, indexed from `firstIndex`; the text stays valid
    /// until the next call. nullopt when the text is not a frame of `numbers`.
    std::optional<std::string_view> rows(std::string_view text, const FrameNumbers& numbers,
                                         std::uint64_t firstIndex);

    /// False when the last frame did not carry the digital values its
    /// columns expect (its rows have empty digital cells).
    bool digitalComplete() const { return digitalComplete_; }

private:
    bool locate(std::string_view text, const FrameNumbers& numbers);

    CsvColumns columns_;
    std::vector<const char*> cursors_;  ///< next value of each channel
    std::vector<char> digital_;         ///< '0' or '1' per line, or empty cells
    bool digitalComplete_ = true;
    std::unique_ptr<char[]> buffer_;  ///< the rows; never cleared, only overwritten
    std::size_t bufferSize_ = 0;
};

}  // namespace ni_usb_daq::host
