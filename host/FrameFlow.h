#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "FrameContents.h"
#include "RecordingWriter.h"
#include "StreamEventQueue.h"
#include "StreamObserver.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

/// The recording side of a stream: turns the events of one acquisition
/// after another into writer calls, numbers the samples across them and
/// keeps the counts. Frames (texts or binary blocks) come numbered 1, 2, 3,
/// ... within an acquisition; a missing or malformed one is a gap where it
/// happened. An observer, when there is one, is shown what the writer is
/// given, samples read from the frame texts too.
class FrameFlow {
public:
    FrameFlow(RecordingWriter& writer, const StreamLimits& limits, StreamOutcome& outcome,
              const RecordingFacts& facts, StreamObserver* observer = nullptr)
        : writer_(writer),
          observer_(observer),
          limits_(limits),
          outcome_(outcome),
          textOnly_(writer.takesFrameText()),
          readValues_(!textOnly_ || observer != nullptr),
          device_(facts.device),
          serialNumber_(facts.serialNumber) {}

    /// True when the event ends the stream (outcome.end then says why).
    bool take(StreamEvent& event);

    /// An outage the stream was brought back from, or that was in progress
    /// when it stopped: its gap is written where it happened, and the sample
    /// indices skip the samples estimated lost. A restarted stream numbers
    /// its frames from 1 again; its samples come from `gap.device`.
    void outage(GapRecord gap);

    /// Samples per channel written or lost since the start of the run.
    std::uint64_t nextSample() const { return nextSample_; }

    /// True when a limit is reached (outcome.end then says which).
    bool limitReached();

private:
    bool takeFrame(const FrameReading& reading, FrameContents& contents, std::string_view text);
    /// Writes a whole frame, cut short where a limit falls inside it.
    void write(FrameContents& contents, std::string_view text);
    void sequence(const FrameNumbers& frame);
    void lost(std::string reason, std::uint64_t samples);
    void writeGap(GapRecord gap);

    RecordingWriter& writer_;
    StreamObserver* observer_;
    const StreamLimits& limits_;
    StreamOutcome& outcome_;
    /// The writer copies frame texts: they are checked, not read.
    const bool textOnly_;
    const bool readValues_;  ///< read the samples of a frame text, not only check it
    std::string cutText_;    ///< a frame's text cut at a limit
    std::string device_;
    std::string serialNumber_;
    std::uint64_t lastSequence_ = 0;
    std::uint64_t nextSample_ = 0;
};

}  // namespace ni_usb_daq::host
