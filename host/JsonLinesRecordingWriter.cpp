#include "TextRecordingWriters.h"

#include <iostream>

#include <nlohmann/json.hpp>

#include "HostError.h"
#include "JsonOutput.h"
#include "UtcText.h"

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

json gapEvent(const GapRecord& gap) {
    json event = {
        {"event", "gap"},
        {"reason", gap.reason},
        {"outage_start_utc", utcText(gap.outageStart)},
        {"outage_end_utc", utcText(gap.outageEnd)},
        {"last_sample_index", gap.hasLastSample ? json(gap.lastSampleIndex) : json(nullptr)},
        {"estimated_lost_samples", gap.estimatedLostSamples},
        {"estimated_from", gap.estimatedFrom},
    };
    if (gap.status != 0) {
        event["daqmx_status"] = gap.status;
    }
    if (!gap.device.empty()) {
        event["device"] = gap.device;
    }
    if (!gap.serialNumber.empty()) {
        event["serial_number"] = gap.serialNumber;
    }
    return event;
}

json endEvent(const RecordingEnd& end) {
    return {
        {"event", "end"},
        {"status", endKindName(end.kind)},
        {"samples_per_channel", end.samplesPerChannel},
        {"frames", end.frames},
        {"duration_s", end.durationS},
        {"gaps", end.gaps},
        {"estimated_lost_samples", end.estimatedLostSamples},
        {"errors", end.errors},
    };
}

}  // namespace

json headerEvent(const RecordingFacts& facts) {
    json names = json::array();
    json ranges = json::array();
    for (const auto& channel : facts.channels) {
        names.push_back(channel.name);
        ranges.push_back({channel.rangeMinV, channel.rangeMaxV});
    }
    json event = {
        {"event", "header"},
        {"device", facts.device},
        {"product_type", facts.productType},
        {"channels", names},
        {"voltage_ranges_v", ranges},
        {"terminal_config",
         facts.channels.empty() ? std::string() : facts.channels.front().terminalConfig},
        {"units", "V"},
        {"sample_rate_hz", facts.sampleRateHz},
        {"requested_sample_rate_hz", facts.requestedSampleRateHz},
        {"sample_mode", facts.sampleMode},
        {"start_utc", utcText(facts.start)},
        {"program", facts.program},
    };
    if (!facts.serialNumber.empty()) {
        event["serial_number"] = facts.serialNumber;
    }
    if (facts.samplesPerFrame > 0) {
        event["samples_per_frame"] = facts.samplesPerFrame;
    }
    if (facts.inputBufferSamplesPerChannel > 0) {
        event["input_buffer_samples_per_channel"] = facts.inputBufferSamplesPerChannel;
    }
    if (!facts.digitalLines.empty()) {
        event["digital_lines"] = facts.digitalLines;
    }
    if (!facts.startTriggerJson.empty()) {
        event["start_trigger"] = parseEmbeddedJson(facts.startTriggerJson);
    }
    if (!facts.referenceTriggerJson.empty()) {
        event["reference_trigger"] = parseEmbeddedJson(facts.referenceTriggerJson);
    }
    if (!facts.settingsJson.empty()) {
        event["settings"] = parseEmbeddedJson(facts.settingsJson);
    }
    return event;
}

JsonLinesRecordingWriter::JsonLinesRecordingWriter(OutputTarget& target, bool header)
    : TextRecordingWriter(target), header_(header) {}

void JsonLinesRecordingWriter::begin(const RecordingFacts& facts) {
    digital_ = !facts.digitalLines.empty();
    if (header_) {
        out_ << compactLine(headerEvent(facts)) << '\n';
        recorded();
    }
}

void JsonLinesRecordingWriter::frame(const FrameRecord& frame) {
    if (frame.text.empty()) {
        throw HostError("sample frame " + std::to_string(frame.sequenceNo) +
                        " came without its text");
    }
    if (digital_ && frame.digitalLines.empty()) {
        if (firstWithoutDigital()) {
            std::cerr << kProgramName << ": frame " << frame.sequenceNo
                      << " carries no digital snapshot (further ones are counted in the end "
                         "record)\n";
        }
    }
    out_.write(frame.text.data(), static_cast<std::streamsize>(frame.text.size()));
    out_.put('\n');
    recorded({.frames = 1, .samplesPerChannel = frame.sampleCount});
}

void JsonLinesRecordingWriter::gap(const GapRecord& gap) {
    out_ << compactLine(gapEvent(gap)) << '\n';
    recorded({.gaps = 1, .estimatedLostSamples = gap.estimatedLostSamples});
}

void JsonLinesRecordingWriter::end(const RecordingEnd& end) {
    out_ << compactLine(endEvent(end)) << '\n';
    if (end.kind == RecordingEndKind::Error) {
        json error = {{"event", "error"}, {"message", end.errorMessage}};
        if (end.errorStatus != 0) {
            error["daqmx_status"] = end.errorStatus;
        }
        out_ << compactLine(error) << '\n';
    }
    recorded();
}

}  // namespace ni_usb_daq::host
