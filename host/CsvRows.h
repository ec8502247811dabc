#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// What the CSV rows carry besides the samples.
struct CsvColumns {
    bool time = false;          ///< a "time_s" column: index / sampleRateHz
    double sampleRateHz = 0.0;  ///< achieved rate, for the time column
    /// Digital columns every row has; a frame without that many digital
    /// values leaves them empty.
    std::size_t digitalLines = 0;
};

/// Writes CSV rows from a frame's samples: the sample index, optionally its
/// time, the channels' values in their shortest text that reads back as the
/// same double (a value that is not finite, which the frame text writes as
/// null, as "nan"), then one 0/1 column per digital line (the frame's one
/// snapshot, repeated on each of its rows). Its buffer is kept from frame to
/// frame.
class CsvRowWriter {
public:
    /// Throws HostError when a time column is asked for without a rate.
    explicit CsvRowWriter(CsvColumns columns);

    /// One row per sample of the frame, indexed from its first sample; the
    /// text stays valid until the next call. The frame's samples must be
    /// channelCount x sampleCount.
    std::string_view rows(const FrameRecord& frame);

    /// False when the last frame did not carry the digital values its
    /// columns expect (its rows have empty digital cells).
    bool digitalComplete() const { return digitalComplete_; }

private:
    char* reserve(std::size_t room);

    CsvColumns columns_;
    bool digitalComplete_ = true;
    std::unique_ptr<char[]> buffer_;  ///< the rows; never cleared, only overwritten
    std::size_t bufferSize_ = 0;
};

}  // namespace ni_usb_daq::host
