// Several devices' streams run as one: started in order, read side by side,
// stopped and brought back together.
#include "RigStream.h"

#include <algorithm>
#include <iostream>

#include "FrameFlow.h"
#include "FrameKeys.h"
#include "HostError.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kTickInterval{250};
/// Longest wait for one device's next block while none has anything.
constexpr std::chrono::milliseconds kLongestWait{20};

/// One device while the rig runs.
struct Lane {
    Lane(RigMember& member, RecordingWriter& writer, const RigRunHooks& hooks)
        : member(member), writer(writer), flow(writer, member.limits, outcome, member.facts) {
        if (hooks.recovery && hooks.clock != nullptr) {
            recovery.emplace(*hooks.recovery, member.settings, member.facts, *hooks.clock);
        }
    }

    RigMember& member;
    RecordingWriter& writer;
    StreamOutcome outcome;
    FrameFlow flow;
    std::shared_ptr<StreamSession> stream;
    std::optional<StreamRecovery> recovery;
    std::uint64_t earlierStalls = 0;
    bool done = false;  ///< its limit reached, or it ended on an error

    /// Takes one event; true when it ended the device's stream.
    bool take(StreamEvent& event) {
        const bool ended = flow.take(event);
        stream->recycle(std::move(event));
        done = done || ended;
        return ended;
    }
    /// Takes what is queued; false when nothing was.
    bool takeQueued() {
        bool any = false;
        while (!done) {
            auto event = stream->next(std::chrono::milliseconds{0});
            if (!event) {
                break;
            }
            any = true;
            take(*event);
        }
        return any;
    }
    bool failed() const { return outcome.end == StreamEnd::DeviceError; }
};

class RigRun {
public:
    RigRun(std::vector<std::unique_ptr<RigMember>>& members, const RigPlan& plan,
           RigRecording& recording, const StopSignals& signals, const RigRunHooks& hooks)
        : plan_(plan), signals_(signals), hooks_(hooks) {
        for (std::size_t i = 0; i < members.size(); ++i) {
            lanes_.push_back(std::make_unique<Lane>(*members[i], recording.writer(i), hooks));
        }
        startAll();
        const auto start = std::chrono::system_clock::now();
        for (auto& lane : lanes_) {
            lane->member.facts.start = start;
            lane->writer.begin(lane->member.facts);
            if (lane->recovery) {
                lane->recovery->begin(start);
            }
        }
        recording.begun();
    }

    RigOutcome run();

private:
    using Clock = std::chrono::steady_clock;

    void startAll();
    /// The lane that failed, if any did.
    Lane* failedLane();
    bool recover(Lane& failed);
    void gapForOthers(const Lane& failed, const GapRecord& gap);
    void finish(StreamEnd end);
    void tick(bool now);
    void waitForAny();

    const RigPlan& plan_;
    const StopSignals& signals_;
    const RigRunHooks& hooks_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    const Clock::time_point startedAt_ = Clock::now();
    Clock::time_point nextTick_ = startedAt_ + kTickInterval;
    std::string state_;
    bool finished_ = false;
};

void RigRun::startAll() {
    // Followers first: they wait for the leader's start trigger, so that all
    // take their first sample on the same tick.
    for (const std::size_t index : plan_.startOrder()) {
        Lane& lane = *lanes_[index];
        if (lane.stream) {
            lane.earlierStalls += lane.stream->stalls();
        }
        lane.stream.reset();
        auto stream = std::make_shared<StreamSession>(
            lane.member.session, kStreamQueueBytes, std::string(kra::device::frame::kBinaryTopic));
        stream->start();
        lane.stream = std::move(stream);
    }
}

Lane* RigRun::failedLane() {
    const auto found =
        std::find_if(lanes_.begin(), lanes_.end(), [](const auto& lane) { return lane->failed(); });
    return found == lanes_.end() ? nullptr : found->get();
}

void RigRun::waitForAny() {
    for (auto& lane : lanes_) {
        lane->writer.idle();
    }
    const auto waiting =
        std::find_if(lanes_.begin(), lanes_.end(), [](const auto& lane) { return !lane->done; });
    if (waiting == lanes_.end()) {
        return;
    }
    if (auto event = (*waiting)->stream->next(kLongestWait)) {
        (*waiting)->take(*event);
    }
}

RigOutcome RigRun::run() {
    while (!finished_) {
        if (signals_.requested()) {
            std::cerr << kProgramName << ": stopping...\n";
            finish(StreamEnd::Interrupted);
            continue;
        }
        bool any = false;
        for (auto& lane : lanes_) {
            any = lane->takeQueued() || any;
        }
        if (!any) {
            waitForAny();
        }
        if (Lane* failed = failedLane()) {
            if (!recover(*failed)) {
                finish(StreamEnd::DeviceError);
            }
            continue;
        }
        if (std::all_of(lanes_.begin(), lanes_.end(), [](const auto& l) { return l->done; })) {
            finish(lanes_.front()->outcome.end);
            continue;
        }
        tick(false);
    }
    RigOutcome outcome;
    for (auto& lane : lanes_) {
        outcome.devices.push_back(lane->outcome);
    }
    if (const Lane* failed = failedLane()) {
        outcome.end = StreamEnd::DeviceError;
        outcome.errorMessage =
            failed->member.session.device().name + ": " + failed->outcome.errorMessage;
        outcome.errorStatus = failed->outcome.errorStatus;
    } else {
        outcome.end = lanes_.front()->outcome.end;
    }
    return outcome;
}

bool RigRun::recover(Lane& failed) {
    if (!failed.recovery) {
        return false;
    }
    // What the others had delivered is theirs to keep; then all stop, since
    // the followers' clock and start come from the leader.
    for (auto& lane : lanes_) {
        if (lane.get() != &failed) {
            lane->takeQueued();
        }
        lane->earlierStalls += lane->stream->stalls();
        lane->stream.reset();
    }
    const StreamFault fault{failed.outcome.errorStatus, failed.outcome.errorMessage};
    const auto report = failed.recovery->recover(
        failed.member.session, fault, failed.flow.nextSample(), failed.outcome.stats.gaps,
        [this] { return signals_.requested(); },
        [this](const std::string& state) {
            state_ = state;
            tick(true);
        },
        [this] { startAll(); });
    state_.clear();
    if (report.kind == RecoveryReport::Kind::NotAttempted ||
        report.kind == RecoveryReport::Kind::GaveUp) {
        if (!report.failure.empty()) {
            failed.outcome.errorMessage += " (not recovered: " + report.failure + ")";
        }
        return false;
    }
    GapRecord gap = report.gap;
    // A device that had delivered more than the failed one before the fault
    // keeps its samples; the failed one's gap reaches to where it stopped.
    for (const auto& lane : lanes_) {
        const std::uint64_t next = lane->flow.nextSample();
        if (next > failed.flow.nextSample() + gap.estimatedLostSamples) {
            gap.estimatedLostSamples = next - failed.flow.nextSample();
        }
    }
    gapForOthers(failed, gap);
    failed.flow.outage(gap);
    for (auto& lane : lanes_) {
        lane->outcome.errorMessage.clear();
        lane->outcome.errorStatus = 0;
        lane->outcome.end = StreamEnd::FrameLimit;
        lane->done = lane->flow.limitReached();
    }
    if (report.kind == RecoveryReport::Kind::Interrupted) {
        finish(StreamEnd::Interrupted);
        return true;
    }
    ++failed.outcome.stats.recoveries;
    tick(true);
    return true;
}

/// The devices that did not fail lost samples for the same outage: each gets
/// a gap that brings its sample index to where the failed one's goes on, so
/// that the devices stay in step.
void RigRun::gapForOthers(const Lane& failed, const GapRecord& gap) {
    const std::uint64_t resume = failed.flow.nextSample() + gap.estimatedLostSamples;
    for (auto& lane : lanes_) {
        if (lane.get() == &failed) {
            continue;
        }
        GapRecord own = gap;
        const std::uint64_t next = lane->flow.nextSample();
        own.hasLastSample = next > 0;
        own.lastSampleIndex = next > 0 ? next - 1 : 0;
        own.estimatedLostSamples = resume > next ? resume - next : 0;
        own.device = lane->member.session.device().name;
        own.serialNumber = lane->member.session.device().serialNumber;
        lane->flow.outage(std::move(own));
    }
}

void RigRun::finish(StreamEnd end) {
    finished_ = true;
    for (auto& lane : lanes_) {
        if (!lane->stream) {
            continue;
        }
        lane->stream->stopAcquisition();
        if (end == StreamEnd::Interrupted) {
            // Every block received before the stop is written.
            lane->takeQueued();
            if (!lane->failed() && !lane->flow.limitReached()) {
                lane->outcome.end = StreamEnd::Interrupted;
            }
        }
        lane->outcome.stats.queueStalls = lane->earlierStalls + lane->stream->stalls();
        lane->stream->stop();
    }
    for (auto& lane : lanes_) {
        lane->outcome.elapsed = Clock::now() - startedAt_;
    }
    tick(true);
}

void RigRun::tick(bool now) {
    const auto at = Clock::now();
    if ((!now && at < nextTick_) || !hooks_.progress) {
        return;
    }
    nextTick_ = at + kTickInterval;
    StreamStats stats = lanes_.front()->outcome.stats;
    stats.state = state_;
    for (std::size_t i = 1; i < lanes_.size(); ++i) {
        const StreamStats& other = lanes_[i]->outcome.stats;
        stats.sequenceGaps += other.sequenceGaps;
        stats.malformedFrames += other.malformedFrames;
        stats.writerErrors += other.writerErrors;
        stats.queueStalls += other.queueStalls;
        stats.driverErrors += other.driverErrors;
        stats.recoveries += other.recoveries;
    }
    hooks_.progress(stats, at - startedAt_);
}

}  // namespace

RigOutcome runRig(std::vector<std::unique_ptr<RigMember>>& members, const RigPlan& plan,
                  RigRecording& recording, const StopSignals& signals, const RigRunHooks& hooks) {
    RigRun run(members, plan, recording, signals, hooks);
    return run.run();
}

}  // namespace ni_usb_daq::host
