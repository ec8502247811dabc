#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace ni_usb_daq::host {

/// Samples as CSV: a "sample" index column, then one column per channel.
class CsvWriter {
public:
    explicit CsvWriter(std::ostream& out) : out_(out) {}

    /// Appends the line of column names: "sample", "time_s" when `time`, the
    /// channels, then the digital lines.
    static void appendHeader(std::string& text, const std::vector<std::string>& channelNames,
                             bool time, const std::vector<std::string>& digitalLines);

    /// One row: the index, then the values.
    void writeRow(std::uint64_t index, std::span<const double> values);

private:
    std::ostream& out_;
};

/// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

}  // namespace ni_usb_daq::host
