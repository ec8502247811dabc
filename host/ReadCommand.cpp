// The read subcommand: one finite block, or one value per channel.
#include <limits>
#include <ostream>
#include <vector>

#include "Acquisition.h"
#include "ChannelNames.h"
#include "Commands.h"
#include "CsvOutput.h"
#include "FrameText.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "Settings.h"

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

/// The CSV of one frame: the header comments, the column names, the rows.
void writeCsvRecording(std::ostream& out, const RecordingHeader& header, bool time,
                       const std::string& frameText, const FrameNumbers& numbers) {
    CsvRowWriter writer({time, header.sampleRateHz});
    const auto rows = writer.rows(frameText, numbers, 0);
    if (!rows) {
        throw HostError("malformed sample frame from read_finite");
    }
    std::string text = csvComments(header);
    CsvWriter::appendHeader(text, header.channels, time, writer.digitalLineCount(),
                            header.digitalLines);
    out << text << *rows;
}

int readFiniteBlock(DeviceSession& session, const ReadOptions& options, OutputTarget& target) {
    const FiniteRead read = readFinite(session, options.settings);
    const auto numbers = scanFrameNumbers(read.frameText);
    if (!numbers) {
        throw HostError("malformed sample frame from read_finite");
    }
    const RecordingHeader header =
        recordingHeader(session, options.settings, read.configuration,
                        static_cast<std::size_t>(numbers->channelCount), read.start);
    if (options.output.format == OutputFormat::Csv) {
        writeCsvRecording(target.stream(), header, options.output.time, read.frameText, *numbers);
        return 0;
    }
    json document = dataToJson(read.data);
    if (options.output.header) {
        document["header"] = headerJson(header);
    }
    writeDocument(target.stream(), document);
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
int readSingleValues(DeviceSession& session, const ReadOptions& options, OutputTarget& target) {
    const auto start = std::chrono::system_clock::now();
    const auto result = session.require("analog_input", "read_single", options.settings);
    if (options.output.format != OutputFormat::Csv) {
        writeDocument(target.stream(), dataToJson(result.data));
        return 0;
    }
    const auto values = singleValues(result.data);
    RecordingHeader header;
    header.device = session.device().name;
    header.productType = session.device().productType;
    header.channels = channelNames(settingValue(options.settings, "ai_channels"), values.size());
    header.voltageRangeMin = settingValue(options.settings, "voltage_range_min");
    header.voltageRangeMax = settingValue(options.settings, "voltage_range_max");
    header.terminalConfig = settingValue(options.settings, "terminal_config");
    header.start = start;
    std::string text = csvComments(header);
    CsvWriter::appendHeader(text, header.channels, false, 0, {});
    target.stream() << text;
    CsvWriter(target.stream()).writeRow(0, values);
    return 0;
}

}  // namespace

int runRead(DeviceSession& session, const ReadOptions& options, OutputTarget& target) {
    const int status = options.single ? readSingleValues(session, options, target)
                                      : readFiniteBlock(session, options, target);
    target.check();
    return status;
}

}  // namespace ni_usb_daq::host
