// The read subcommand: one finite block, or one value per channel.
#include <limits>
#include <ostream>
#include <vector>

#include "Acquisition.h"
#include "ChannelNames.h"
#include "Commands.h"
#include "CsvOutput.h"
#include "HostError.h"
#include "JsonOutput.h"

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

// A fresh stub reads this list when the user names none.
constexpr const char* kDefaultChannels = "Dev1/ai0";

int readFiniteBlock(DeviceSession& session, const ReadOptions& options, std::ostream& out) {
    const FiniteRead read = readFinite(session, options.settings);
    if (options.format == ReadFormat::Json) {
        writeDocument(out, dataToJson(read.data));
        return 0;
    }
    CsvWriter csv(out);
    csv.writeHeader(
        channelNames(configuredChannels(read.configuration), read.frame.channels.size()));
    csv.writeFrame(read.frame, 0);
    return 0;
}

std::vector<double> singleValues(const kra::device::StringMap& data) {
    const auto samples = data.find("samples");
    const json values = samples == data.end() ? json() : parseEmbeddedJson(samples->second);
    if (!values.is_array()) {
        throw HostError("read_single returned no \"samples\" array");
    }
    std::vector<double> numbers;
    for (const json& value : values) {
        if (!value.is_number() && !value.is_null()) {
            throw HostError("read_single returned a sample that is not a number");
        }
        numbers.push_back(value.is_number() ? value.get<double>()
                                            : std::numeric_limits<double>::quiet_NaN());
    }
    return numbers;
}

// read_single builds a task of its own from the channel, range and terminal
// settings it is given, so the settings go to it directly: configuring the
// engine first would only build a task that the read does not use.
int readSingleValues(DeviceSession& session, const ReadOptions& options, std::ostream& out) {
    const auto result = session.require("analog_input", "read_single", options.settings);
    if (options.format == ReadFormat::Json) {
        writeDocument(out, dataToJson(result.data));
        return 0;
    }
    const auto values = singleValues(result.data);
    const auto channels = options.settings.find("ai_channels");
    CsvWriter csv(out);
    csv.writeHeader(channelNames(
        channels != options.settings.end() ? channels->second : kDefaultChannels, values.size()));
    csv.writeRow(0, values);
    return 0;
}

}  // namespace

int runRead(DeviceSession& session, const ReadOptions& options, std::ostream& out) {
    return options.single ? readSingleValues(session, options, out)
                          : readFiniteBlock(session, options, out);
}

}  // namespace ni_usb_daq::host
