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

void CsvWriter::appendHeader(std::string& text, const std::vector<std::string>& channelNames,
                             bool time, const std::vector<std::string>& digitalLines) {
    text += time ? "sample,time_s" : "sample";
    for (const auto& name : channelNames) {
        text += ',';
        text += csvField(name);
    }
    for (const auto& name : digitalLines) {
        text += ',';
        text += csvField(name);
    }
    text += '\n';
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
