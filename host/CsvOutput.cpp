#include "CsvOutput.h"

#include <ostream>

#include "NumberFormat.h"

namespace ni_usb_daq::host {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

void CsvWriter::writeHeader(const std::vector<std::string>& channelNames) {
    std::string line = "sample";
    for (const auto& name : channelNames) {
        line += ',';
        line += csvField(name);
    }
    out_ << line << '\n';
}

void CsvWriter::writeFrame(const FrameDocument& frame, std::uint64_t firstIndex) {
    std::string line;
    for (std::size_t s = 0; s < frame.sampleCount; ++s) {
        line = std::to_string(firstIndex + s);
        for (const auto& channel : frame.channels) {
            line += ',';
            line += formatNumber(channel[s]);
        }
        out_ << line << '\n';
    }
}

void CsvWriter::writeRow(std::uint64_t index, std::span<const double> values) {
    std::string line = std::to_string(index);
    for (const double value : values) {
        line += ',';
        line += formatNumber(value);
    }
    out_ << line << '\n';
}

}  // namespace ni_usb_daq::host
