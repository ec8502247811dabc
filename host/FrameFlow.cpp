#include "FrameFlow.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string_view>

#include "FrameReaders.h"
#include "HostError.h"

namespace ni_usb_daq::host {

bool FrameFlow::take(StreamEvent& event) {
    switch (event.kind) {
        case StreamEvent::Kind::Error:
            outcome_.errorMessage = event.text;
            outcome_.errorStatus = event.status;
            outcome_.end = StreamEnd::DeviceError;
            ++outcome_.stats.driverErrors;
            return true;
        case StreamEvent::Kind::Other:
            std::cerr << kProgramName << ": stream event " << event.text << '\n';
            return false;
        case StreamEvent::Kind::Frame:
            if (limitReached()) {
                return true;
            }
            return takeFrame(
                readTextFrame(event.text, readValues_ ? FrameValues::Read : FrameValues::Check,
                              event.contents),
                event.contents, event.text);
        case StreamEvent::Kind::Block:
            break;
    }
    return limitReached() || takeFrame(event.reading, event.contents, {});
}

bool FrameFlow::takeFrame(const FrameReading& reading, FrameContents& contents,
                          std::string_view text) {
    if (reading.kind == FrameReading::Kind::Unreadable) {
        ++outcome_.stats.malformedFrames;
        std::cerr << kProgramName << ": malformed sample frame: " << reading.problem << '\n';
        return false;
    }
    sequence(contents.numbers);
    if (reading.kind == FrameReading::Kind::Malformed) {
        // Written as it came, it would put text where numbers go or shift
        // every later channel; its samples are lost, so it is a gap.
        ++outcome_.stats.malformedFrames;
        std::cerr << kProgramName << ": malformed sample frame " << contents.numbers.sequenceNo
                  << ": " << reading.problem << "; not written\n";
        lost("malformed_frame", contents.numbers.sampleCount);
        return false;
    }
    write(contents, text);
    return limitReached();
}

void FrameFlow::write(FrameContents& contents, std::string_view text) {
    const std::uint64_t count = contents.numbers.sampleCount;
    std::uint64_t room = count;
    if (limits_.samples) {
        room = std::min(room, *limits_.samples - outcome_.stats.samples);
    }
    if (limits_.position) {
        room = std::min(room, *limits_.position - nextSample_);
    }
    if (room < count) {
        contents.cut(room);
        if (textOnly_) {
            if (!cutTextFrame(text, room, cutText_)) {
                throw HostError("sample frame " + std::to_string(contents.numbers.sequenceNo) +
                                " cannot be cut");
            }
            text = cutText_;
        }
    }
    const FrameNumbers& numbers = contents.numbers;
    const FrameRecord record{.sequenceNo = numbers.sequenceNo,
                             .timestampNs = numbers.timestampNs,
                             .firstSample = nextSample_,
                             .sampleCount = numbers.sampleCount,
                             .channelCount = numbers.channelCount,
                             .samples = contents.samples(),
                             .digitalLines = contents.digitalLines,
                             .text = textOnly_ ? text : std::string_view()};
    writer_.frame(record);
    if (observer_ != nullptr) {
        observer_->frame(record);
    }
    outcome_.stats.writerErrors = writer_.frameErrors();
    ++outcome_.stats.frames;
    outcome_.stats.samples += numbers.sampleCount;
    nextSample_ += numbers.sampleCount;
}

void FrameFlow::outage(GapRecord gap) {
    device_ = gap.device;
    serialNumber_ = gap.serialNumber;
    writeGap(std::move(gap));
    lastSequence_ = 0;
}

bool FrameFlow::limitReached() {
    if (limits_.position && nextSample_ >= *limits_.position) {
        outcome_.end = StreamEnd::SampleLimit;
        return true;
    }
    if (limits_.samples && outcome_.stats.samples >= *limits_.samples) {
        outcome_.end = StreamEnd::SampleLimit;
        return true;
    }
    if (limits_.frames && outcome_.stats.frames >= *limits_.frames) {
        outcome_.end = StreamEnd::FrameLimit;
        return true;
    }
    return false;
}

void FrameFlow::sequence(const FrameNumbers& frame) {
    const std::uint64_t expected = lastSequence_ + 1;
    lastSequence_ = frame.sequenceNo;
    if (frame.sequenceNo == expected) {
        return;
    }
    ++outcome_.stats.sequenceGaps;
    if (frame.sequenceNo < expected) {
        std::cerr << kProgramName << ": sequence went back: expected frame " << expected << ", got "
                  << frame.sequenceNo << '\n';
        return;
    }
    const std::uint64_t missing = frame.sequenceNo - expected;
    std::cerr << kProgramName << ": sequence gap: expected frame " << expected << ", got "
              << frame.sequenceNo << " (" << missing << " missing)\n";
    // The missing frames were the size of this one, as every block is.
    lost("sequence_gap", missing * frame.sampleCount);
}

void FrameFlow::lost(std::string reason, std::uint64_t samples) {
    GapRecord gap;
    gap.reason = std::move(reason);
    gap.outageStart = gap.outageEnd = std::chrono::system_clock::now();
    gap.estimatedLostSamples = samples;
    gap.device = device_;
    gap.serialNumber = serialNumber_;
    writeGap(std::move(gap));
}

void FrameFlow::writeGap(GapRecord gap) {
    gap.hasLastSample = nextSample_ > 0;
    gap.lastSampleIndex = nextSample_ > 0 ? nextSample_ - 1 : 0;
    writer_.gap(gap);
    if (observer_ != nullptr) {
        observer_->gap(gap);
    }
    ++outcome_.stats.gaps;
    outcome_.stats.estimatedLostSamples += gap.estimatedLostSamples;
    nextSample_ += gap.estimatedLostSamples;
}

}  // namespace ni_usb_daq::host
