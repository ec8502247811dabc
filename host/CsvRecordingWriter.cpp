#include "TextRecordingWriters.h"

#include <algorithm>
#include <iostream>

#include "HostError.h"
#include "NumberFormat.h"
#include "UtcText.h"

namespace ni_usb_daq::host {

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : " ") + name;
    }
    return text;
}

std::string rangeText(const ChannelFacts& channel) {
    return formatNumber(channel.rangeMinV) + " to " + formatNumber(channel.rangeMaxV);
}

/// One range for all channels when they share it, else each channel's.
std::string rangesText(const std::vector<ChannelFacts>& channels) {
    bool shared = true;
    for (const auto& channel : channels) {
        shared = shared && channel.rangeMinV == channels.front().rangeMinV &&
                 channel.rangeMaxV == channels.front().rangeMaxV;
    }
    if (channels.empty() || shared) {
        return channels.empty() ? "" : rangeText(channels.front());
    }
    std::string text;
    for (const auto& channel : channels) {
        text += (text.empty() ? "" : "; ") + channel.name + " " + rangeText(channel);
    }
    return text;
}

std::string comments(const RecordingFacts& facts) {
    std::vector<std::string> names;
    for (const auto& channel : facts.channels) {
        names.push_back(channel.name);
    }
    std::string text = "# device: " + facts.device;
    text += facts.productType.empty() ? "\n" : " (" + facts.productType + ")\n";
    if (!facts.serialNumber.empty()) {
        text += "# serial_number: " + facts.serialNumber + "\n";
    }
    text += "# channels: " + joined(names) + "\n";
    if (!facts.digitalLines.empty()) {
        text += "# digital_lines: " + joined(facts.digitalLines) + " (one snapshot per frame)\n";
    }
    if (facts.sampleRateHz > 0) {
        text += "# sample_rate_hz: " + formatNumber(facts.sampleRateHz) + " (achieved; requested " +
                formatNumber(facts.requestedSampleRateHz) + ")\n";
    }
    if (!facts.sampleMode.empty()) {
        text += "# sample_mode: " + facts.sampleMode + "\n";
    }
    if (facts.samplesPerFrame > 0) {
        text += "# samples_per_frame: " + std::to_string(facts.samplesPerFrame) + "\n";
    }
    if (!facts.startTriggerJson.empty()) {
        text += "# start_trigger: " + facts.startTriggerJson + "\n";
    }
    if (!facts.referenceTriggerJson.empty()) {
        text += "# reference_trigger: " + facts.referenceTriggerJson +
                " (the row with sample = pretrigger_samples is the trigger)\n";
    }
    text += "# voltage_range_v: " + rangesText(facts.channels) + "\n";
    text += "# terminal_config: " +
            (facts.channels.empty() ? std::string() : facts.channels.front().terminalConfig) + "\n";
    text += "# units: V\n";
    text += "# start_utc: " + utcText(facts.start) + "\n";
    text += "# program: " + facts.program + "\n";
    return text;
}

/// A CSV field, quoted when it holds a comma, a quote or a line break.
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

/// The line of column names: "sample", "time_s" when `time`, the channels,
/// then the digital lines.
std::string columnNames(const RecordingFacts& facts, bool time) {
    std::string text = time ? "sample,time_s" : "sample";
    for (const auto& channel : facts.channels) {
        text += ',' + csvField(channel.name);
    }
    for (const auto& name : facts.digitalLines) {
        text += ',' + csvField(name);
    }
    return text + '\n';
}

std::string gapText(const GapRecord& gap) {
    std::string text = "# gap: reason=" + gap.reason;
    if (gap.status != 0) {
        text += " daqmx_status=" + std::to_string(gap.status);
    }
    text += " outage_start_utc=" + utcText(gap.outageStart) +
            " outage_end_utc=" + utcText(gap.outageEnd);
    text += " last_sample_index=" +
            (gap.hasLastSample ? std::to_string(gap.lastSampleIndex) : std::string("none"));
    text += " estimated_lost_samples=" + std::to_string(gap.estimatedLostSamples);
    if (!gap.device.empty()) {
        text += " device=" + gap.device;
    }
    if (!gap.serialNumber.empty()) {
        text += " serial_number=" + gap.serialNumber;
    }
    text += " estimated_from=" + gap.estimatedFrom + "\n";
    return text;
}

/// "# end: complete; samples_per_channel=..." and the rest of the summary.
std::string endSummaryText(const RecordingEnd& end) {
    return "# end: " + std::string(endKindName(end.kind)) +
           "; samples_per_channel=" + std::to_string(end.samplesPerChannel) +
           " frames=" + std::to_string(end.frames) + " duration_s=" + formatNumber(end.durationS) +
           " gaps=" + std::to_string(end.gaps) +
           " estimated_lost_samples=" + std::to_string(end.estimatedLostSamples) +
           " errors=" + std::to_string(end.errors);
}

}  // namespace

CsvRecordingWriter::CsvRecordingWriter(OutputTarget& target, bool timeColumn)
    : TextRecordingWriter(target), timeColumn_(timeColumn) {}

void CsvRecordingWriter::begin(const RecordingFacts& facts) {
    rows_.emplace(CsvColumns{timeColumn_, facts.sampleRateHz, facts.digitalLines.size()});
    const std::string text = comments(facts) + columnNames(facts, timeColumn_);
    out_ << text;
    recorded();
}

void CsvRecordingWriter::frame(const FrameRecord& frame) {
    // Frames reach a writer checked, so this is the check of last resort.
    if (frame.samples.size() != frame.channelCount * frame.sampleCount) {
        throw HostError("sample frame " + std::to_string(frame.sequenceNo) +
                        " does not hold its samples");
    }
    const std::string_view rows = rows_->rows(frame);
    if (!rows_->digitalComplete()) {
        if (firstWithoutDigital()) {
            std::cerr << kProgramName << ": frame " << frame.sequenceNo
                      << " carries no digital snapshot; its digital cells are empty (further "
                         "ones are counted in the end record)\n";
        }
    }
    out_.write(rows.data(), static_cast<std::streamsize>(rows.size()));
    recorded({.frames = 1, .samplesPerChannel = frame.sampleCount});
}

void CsvRecordingWriter::gap(const GapRecord& gap) {
    out_ << gapText(gap);
    recorded({.gaps = 1, .estimatedLostSamples = gap.estimatedLostSamples});
}

void CsvRecordingWriter::end(const RecordingEnd& end) {
    std::string text = endSummaryText(end) + "\n";
    if (end.kind == RecordingEndKind::Error) {
        std::string message = end.errorMessage;
        std::replace_if(
            message.begin(), message.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        text += "# error: " + message;
        if (end.errorStatus != 0) {
            text += " (driver status " + std::to_string(end.errorStatus) + ")";
        }
        text += "\n";
    }
    out_ << text;
    recorded();
}

}  // namespace ni_usb_daq::host
