#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Envelope.h"
#include "StreamObserver.h"

namespace ni_usb_daq::host::view {

/// What a page asked to see: `columns` pixel columns across `windowS` seconds.
struct PageWindow {
    std::uint32_t columns = 0;
    double windowS = 0.0;
};

/// How far one page's updates have come.
struct PageCursor {
    std::optional<PageWindow> window;  ///< none until the page has said
    std::uint64_t bucketsPerColumn = 0;
    std::uint64_t nextColumn = 0;   ///< the first column it lacks
    std::uint64_t samplesSeen = 0;  ///< samples added when it was last sent an update
    std::uint32_t updates = 0;
    bool snapshotDue = true;
};

/// The live view's side of a run, shared by the thread that records (which
/// tells it every frame, gap and count) and the server's (which reads it
/// for each page). Everything is under one lock held for a frame's worth of
/// minimum and maximum at most, so recording never waits on a page.
class ViewState final : public StreamObserver {
public:
    /// `recordingFile` is empty when nothing is recorded.
    explicit ViewState(std::string recordingFile);

    void begin(const RecordingFacts& facts) override;
    void frame(const FrameRecord& frame) override;
    void gap(const GapRecord& gap) override;
    void progress(const StreamStats& stats) override;
    /// The run is over: stopped as asked, or ended by `error` (non-empty).
    void ended(const std::string& error);

    /// The status as JSON text when it changed since `version`, which is
    /// moved on; nothing otherwise.
    std::optional<std::string> statusSince(std::uint64_t& version) const;

    /// The next binary update for a page into `message`: a snapshot of its
    /// window when one is due, else the columns completed since the last
    /// one. False when there is nothing new to send.
    bool update(PageCursor& cursor, std::vector<std::uint8_t>& message) const;

private:
    void changed() { ++statusVersion_; }

    mutable std::mutex mutex_;
    std::optional<Envelope> envelope_;
    nlohmann::json status_;
    std::deque<nlohmann::json> gaps_;
    double sampleRateHz_ = 0.0;
    std::uint64_t samplesAdded_ = 0;
    std::uint64_t statusVersion_ = 1;
};

}  // namespace ni_usb_daq::host::view
