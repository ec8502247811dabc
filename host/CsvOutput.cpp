#include "CsvOutput.h"

#include <ostream>

#include "ChannelNames.h"
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
                             bool time, std::size_t digitalLines, const std::string& digitalList) {
    text += time ? "sample,time_s" : "sample";
    for (const auto& name : channelNames) {
        text += ',';
        text += csvField(name);
    }
    if (digitalLines > 0) {
        auto names = expandChannelList(digitalList);
        for (std::size_t i = 0; i < digitalLines; ++i) {
            text += ',';
            text += names && names->size() == digitalLines ? csvField((*names)[i])
                                                           : "di" + std::to_string(i);
        }
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
