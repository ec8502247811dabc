#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "FrameDocument.h"

namespace ni_usb_daq::host {

/// Samples as CSV: a "sample" index column, then one column per channel.
class CsvWriter {
public:
    explicit CsvWriter(std::ostream& out) : out_(out) {}

    /// "sample,<name>,<name>,...".
    void writeHeader(const std::vector<std::string>& channelNames);

    /// One row per sample of the frame, indexed from `firstIndex` on.
    void writeFrame(const FrameDocument& frame, std::uint64_t firstIndex);

    /// One row: the index, then the values.
    void writeRow(std::uint64_t index, std::span<const double> values);

private:
    std::ostream& out_;
};

/// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

}  // namespace ni_usb_daq::host
