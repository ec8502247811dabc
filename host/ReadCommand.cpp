// The read subcommand: one finite block, or one value per channel.
#include "ReadCommand.h"

#include <chrono>
#include <limits>
#include <memory>
#include <ostream>
#include <vector>

#include "Acquisition.h"
#include "ChannelNames.h"
#include "FrameReaders.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "Settings.h"
#include "TextRecordingWriters.h"

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

/// How long a triggered read waits for its trigger unless told otherwise.
constexpr double kDefaultTriggerTimeoutS = 60.0;

/// A triggered read's timeout covers the wait for the trigger as well as the
/// block, so a trigger that does not come within `triggerTimeoutS` ends the
/// read with the driver's timeout. A read_timeout_s of the user's stands.
kra::device::OperationParams withTriggerWait(kra::device::OperationParams settings,
                                             double triggerTimeoutS) {
    const bool triggered = settingValue(settings, "start_trigger_type") != "NONE" ||
                           settingValue(settings, "reference_trigger_type") != "NONE";
    if (!triggered || settings.contains("read_timeout_s")) {
        return settings;
    }
    const auto finite = finiteSettings(settings);
    const auto block = parseNumber(settingValue(finite, "read_timeout_s")).value_or(0.0);
    settings["read_timeout_s"] = formatNumber(block + triggerTimeoutS);
    return settings;
}

/// One block as a whole recording: facts, its one frame, the end.
void writeRecording(OutputTarget& target, const RecordingOutput& output,
                    const RecordingFacts& facts, const std::string& frameText) {
    const auto recording = RecordingOptions::writer(target, output);
    RecordingWriter& writer = *recording;
    const bool text = writer.takesFrameText();
    FrameContents contents;
    if (readTextFrame(frameText, text ? FrameValues::Check : FrameValues::Read, contents).kind !=
        FrameReading::Kind::Whole) {
        throw HostError("malformed sample frame from the read");
    }
    const FrameNumbers& numbers = contents.numbers;
    writer.begin(facts);
    writer.frame({.sequenceNo = numbers.sequenceNo,
                  .timestampNs = numbers.timestampNs,
                  .firstSample = 0,
                  .sampleCount = numbers.sampleCount,
                  .channelCount = numbers.channelCount,
                  .samples = contents.samples(),
                  .digitalLines = contents.digitalLines,
                  .text = text ? std::string_view(frameText) : std::string_view()});
    if (writer.frameErrors() > 0) {
        throw HostError("malformed sample frame from the read");
    }
    RecordingEnd end;
    end.samplesPerChannel = numbers.sampleCount;
    end.frames = 1;
    end.durationS = facts.sampleRateHz > 0
                        ? static_cast<double>(numbers.sampleCount) / facts.sampleRateHz
                        : 0.0;
    writer.end(end);
}

int readFiniteBlock(DeviceSession& session, const ReadOptions& options, OutputTarget& target) {
    const FiniteRead read = readFinite(session, options.settings, &target, "read");
    // A finite read carries no digital snapshot, so its recording has none.
    RecordingFacts facts = recordingFacts(session, options.settings, read.configuration, false);
    facts.start = read.start;
    if (options.output.format == OutputFormat::Csv || options.output.format == OutputFormat::Hdf5) {
        writeRecording(target, options.output, facts, read.frameText);
        return 0;
    }
    json document = dataToJson(read.data);
    if (options.output.header) {
        document["header"] = headerEvent(facts);
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
    if (options.output.format == OutputFormat::Json) {
        writeDocument(target.stream(), dataToJson(result.data));
        return 0;
    }
    const auto values = singleValues(result.data);
    // No configure ran: the facts are the request's, with one sample per
    // channel in a frame made for the recording writer.
    kra::device::StringMap configuration = {
        {"ai_channels", settingValue(options.settings, "ai_channels")},
        {"n_channels", std::to_string(values.size())},
        {"sample_mode", "ON_DEMAND"},
        {"sample_rate_hz", "0"}};
    RecordingFacts facts = recordingFacts(session, options.settings, configuration, false);
    facts.start = start;
    json samples = json::array();
    for (const double value : values) {
        samples.push_back(json::array({value}));
    }
    // The frame's time is the read's: the moment it was asked for.
    const auto timestampNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    const json frame = {{"layout", "channels_first"}, {"n_channels", values.size()},
                        {"sample_count", 1},          {"samples", samples},
                        {"sequence_no", 0},           {"timestamp_ns", timestampNs}};
    RecordingOutput output = options.output;
    output.time = false;  // no sample clock: no time to give
    writeRecording(target, output, facts, compactLine(frame));
    return 0;
}

int runRead(DeviceSession& session, const ReadOptions& options, OutputTarget& target) {
    const int status = options.single ? readSingleValues(session, options, target)
                                      : readFiniteBlock(session, options, target);
    target.check();
    return status;
}

}  // namespace

ReadCommand::ReadCommand(CLI::App& app)
    : AcquisitionCommand(app, "read", "read one finite block (or one value per channel)"),
      output_(command_, "json (default), csv or hdf5") {
    command_.add_flag("--single", options_.single, "one value per channel (read_single)");
    command_
        .add_option("--trigger-timeout", triggerTimeout_,
                    "with a start or reference trigger: give up (exit 1) when it has not come "
                    "after S seconds (default 60)")
        ->type_name("S");
}

SessionAction ReadCommand::prepare(const GlobalOptions& global) {
    ReadOptions options = options_;
    options.settings = checkedSettings();
    if (!options.single) {
        requireFinite(options.settings, "read");
    }
    if (!settingValue(options.settings, "digital_input_lines").empty()) {
        throw UsageError(
            "read takes no digital_input_lines: its block carries no digital snapshot (stream "
            "records the lines with every frame)");
    }
    global.requireDeviceChannels(options.settings);
    constexpr double kLongestWaitS = 1e7;
    const double triggerTimeout =
        triggerTimeout_
            ? checkOptionNumber({"--trigger-timeout", false, 0.0, kLongestWaitS}, *triggerTimeout_)
            : kDefaultTriggerTimeoutS;
    options.settings = withTriggerWait(std::move(options.settings), triggerTimeout);
    options.output = output_.resolve({OutputFormat::Json, OutputFormat::Csv, OutputFormat::Hdf5},
                                     OutputFormat::Json, false);
    return RecordingOptions::action(options, runRead);
}

}  // namespace ni_usb_daq::host
