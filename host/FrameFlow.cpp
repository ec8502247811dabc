#include "FrameFlow.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string_view>

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
            break;
    }
    return limitReached() || takeFrame(event.text);
}

bool FrameFlow::takeFrame(const std::string& text) {
    const auto numbers = scanFrameNumbers(text);
    if (!numbers) {
        ++outcome_.stats.malformedFrames;
        std::cerr << kProgramName << ": malformed sample frame: no whole \"sequence_no\", "
                  << "\"sample_count\" or \"n_channels\"\n";
        return false;
    }
    sequence(*numbers);
    if (!frameSamplesWellFormed(text, *numbers)) {
        // Written as it came, it would put text where numbers go or shift
        // every later channel; its samples are lost, so it is a gap.
        ++outcome_.stats.malformedFrames;
        std::cerr << kProgramName << ": malformed sample frame " << numbers->sequenceNo
                  << ": its samples are not \"n_channels\" arrays of \"sample_count\" "
                     "numbers; not written\n";
        lost("malformed_frame", numbers->sampleCount);
        return false;
    }
    write(text, *numbers);
    return limitReached();
}

void FrameFlow::write(std::string_view text, const FrameNumbers& numbers) {
    std::uint64_t count = numbers.sampleCount;
    std::string cut;
    std::uint64_t room = count;
    if (limits_.samples) {
        room = std::min(room, *limits_.samples - outcome_.stats.samples);
    }
    if (limits_.position) {
        room = std::min(room, *limits_.position - nextSample_);
    }
    if (room < count) {
        count = room;
        cut = truncatedFrame(text, count);
        text = cut;
    }
    writer_.frame({text, numbers.sequenceNo, numbers.timestampNs, nextSample_, count,
                   numbers.channelCount});
    outcome_.stats.writerErrors = writer_.frameErrors();
    ++outcome_.stats.frames;
    outcome_.stats.samples += count;
    nextSample_ += count;
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
    ++outcome_.stats.gaps;
    outcome_.stats.estimatedLostSamples += gap.estimatedLostSamples;
    nextSample_ += gap.estimatedLostSamples;
}

}  // namespace ni_usb_daq::host
