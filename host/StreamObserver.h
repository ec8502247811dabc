#pragma once

#include "RecordingWriter.h"

namespace ni_usb_daq::host {

struct StreamStats;

/// A consumer beside the recording (a live view) that is shown what the
/// recording is given, as it is given: the same frames, positions and gaps.
/// It is called from the thread that writes, so it must never block on
/// anything slow (a network peer); whatever it cannot keep up with is its
/// own to drop.
class StreamObserver {
public:
    virtual ~StreamObserver() = default;
    virtual void begin(const RecordingFacts& facts) = 0;
    virtual void frame(const FrameRecord& frame) = 0;
    virtual void gap(const GapRecord& gap) = 0;
    /// A few times a second and on every change of state.
    virtual void progress(const StreamStats& stats) = 0;
};

}  // namespace ni_usb_daq::host
