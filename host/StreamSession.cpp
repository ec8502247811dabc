#include "StreamSession.h"

#include <algorithm>
#include <future>
#include <iostream>
#include <limits>
#include <thread>

#include "FrameFlow.h"
#include "FrameKeys.h"
#include "HostError.h"
#include "StreamObserver.h"
#include "StreamRecovery.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kTickInterval{250};
constexpr std::chrono::milliseconds kLongestWait{100};
/// How often a stop that may be given up looks for a second stop request.
constexpr std::chrono::milliseconds kStopPoll{20};

}  // namespace

StreamSession::StreamSession(DeviceSession& session, std::size_t queueCapacityBytes,
                             std::string topic)
    : session_(session),
      topic_(std::move(topic)),
      queue_(std::make_shared<StreamEventQueue>(queueCapacityBytes)) {
    // The callback owns a share of the queue: whatever the plug-in does with
    // the callback after unsubscribe, it never reaches a destroyed queue.
    handle_ = session_.stub().subscribe("analog_input", topic_,
                                        [queue = queue_](const kra::device::DeviceState& state) {
                                            queueStreamState(*queue, state);
                                        });
    if (handle_.id == 0) {
        throw HostError("the plug-in refused the subscription to analog_input/" + topic_);
    }
    subscribed_ = true;
}

StreamSession::~StreamSession() {
    try {
        stop();
    } catch (const std::exception& error) {
        std::cerr << kProgramName << ": " << error.what() << '\n';
    }
}

void StreamSession::start() {
    session_.require("analog_input", "start_stream");
    started_ = true;
}

void StreamSession::stopAcquisition() {
    queue_->stopWaiting();
    if (subscribed_) {
        subscribed_ = false;
        session_.stub().unsubscribe("analog_input", topic_, handle_);
    }
    if (started_) {
        started_ = false;
        session_.require("analog_input", "stop_stream");
    }
}

void StreamSession::stop() {
    queue_->close();
    stopAcquisition();
}

namespace {

/// One run of a stream: acquisitions one after another, each until a limit,
/// a stop request or a fault, with the recovery supervisor in between.
class StreamRun {
public:
    StreamRun(DeviceSession& session, const StopSignals& signals, const StreamLimits& limits,
              RecordingWriter& writer, RecordingFacts& facts, const StreamRunHooks& hooks)
        : session_(session),
          signals_(signals),
          writer_(writer),
          hooks_(hooks),
          topic_(writer.takesFrameText() || hooks.textFrames ? kra::device::frame::kTextTopic
                                                             : kra::device::frame::kBinaryTopic),
          flow_(writer, limits, outcome_, facts, hooks.observer) {
        startStream();
        facts.start = std::chrono::system_clock::now();
        writer.begin(facts);
        if (hooks_.observer != nullptr) {
            hooks_.observer->begin(facts);
        }
        if (hooks_.recovery != nullptr) {
            hooks_.recovery->begin(facts.start);
        }
        deadline_ = limits.duration
                        ? startedAt_ + std::chrono::duration_cast<Clock::duration>(*limits.duration)
                        : Clock::time_point::max();
        if (!facts.startTriggerJson.empty()) {
            waitingForTrigger_ = true;
            outcome_.stats.state = kWaitingForTrigger;
            triggerDeadline_ =
                limits.triggerWait
                    ? startedAt_ + std::chrono::duration_cast<Clock::duration>(*limits.triggerWait)
                    : Clock::time_point::max();
        }
    }

    /// Records until the acquisition ends; true when a device fault ended it.
    bool runSegment();
    /// Hands the fault over to the supervisor; true when the stream runs again.
    bool recover();
    /// Stops what still runs and takes what was received before the stop.
    StreamOutcome finish();

private:
    using Clock = std::chrono::steady_clock;

    void startStream();
    bool stopRequested();
    std::optional<StreamEvent> nextEvent(Clock::time_point now);
    bool stopAcquisition();
    void drain(std::size_t most);
    void watchQueue();
    void tick(bool now);
    void triggered();

    DeviceSession& session_;
    const StopSignals& signals_;
    RecordingWriter& writer_;
    const StreamRunHooks& hooks_;
    const std::string topic_;
    StreamOutcome outcome_;
    FrameFlow flow_;
    std::shared_ptr<StreamSession> stream_;
    const Clock::time_point startedAt_ = Clock::now();
    Clock::time_point deadline_;
    Clock::time_point nextTick_ = startedAt_ + kTickInterval;
    /// Stalls of the streams before a recovery, each of which had its own queue.
    std::uint64_t earlierStalls_ = 0;
    bool stopSaid_ = false;
    /// A triggered stream before its first frame, and how long it may wait.
    bool waitingForTrigger_ = false;
    Clock::time_point triggerDeadline_ = Clock::time_point::max();
};

void StreamRun::startStream() {
    auto stream = std::make_shared<StreamSession>(session_, kStreamQueueBytes, topic_);
    stream->start();
    stream_ = std::move(stream);
}

bool StreamRun::stopRequested() {
    if (!signals_.requested()) {
        return false;
    }
    if (!stopSaid_) {
        stopSaid_ = true;
        std::cerr << kProgramName << ": stopping..."
                  << (hooks_.secondStopAbandons ? " (again to stop at once)" : "") << '\n';
    }
    return true;
}

/// The first frame of a triggered stream ends the wait for its trigger.
void StreamRun::triggered() {
    if (waitingForTrigger_ && outcome_.stats.frames + outcome_.stats.gaps > 0) {
        waitingForTrigger_ = false;
        outcome_.stats.state.clear();
        tick(true);
    }
}

bool StreamRun::runSegment() {
    bool ended = flow_.limitReached();
    while (!ended) {
        if (stopRequested()) {
            outcome_.end = StreamEnd::Interrupted;
            return false;
        }
        const auto now = Clock::now();
        if (now >= deadline_) {
            outcome_.end = StreamEnd::TimeLimit;
            return false;
        }
        if (waitingForTrigger_ && now >= triggerDeadline_) {
            outcome_.end = StreamEnd::TriggerTimeout;
            return false;
        }
        if (auto event = nextEvent(now)) {
            ended = flow_.take(*event);
            stream_->recycle(std::move(*event));
            triggered();
        }
        watchQueue();
        tick(ended);
    }
    return outcome_.end == StreamEnd::DeviceError;
}

std::optional<StreamEvent> StreamRun::nextEvent(Clock::time_point now) {
    auto event = stream_->next(std::chrono::milliseconds{0});
    if (!event) {
        writer_.idle();
        const auto wait = std::clamp(
            std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline_, nextTick_) - now),
            std::chrono::milliseconds{1}, kLongestWait);
        event = stream_->next(wait);
    }
    return event;
}

bool StreamRun::recover() {
    if (hooks_.recovery == nullptr) {
        return false;
    }
    earlierStalls_ += stream_->stalls();
    stream_.reset();  // stops what is left of the acquisition
    const StreamFault fault{outcome_.errorStatus, outcome_.errorMessage};
    const auto report = hooks_.recovery->recover(
        session_, fault, flow_.nextSample(), outcome_.stats.gaps,
        [this] { return stopRequested(); },
        [this](const std::string& state) {
            outcome_.stats.state = state;
            tick(true);
        },
        [this] { startStream(); });
    outcome_.stats.state.clear();
    if (report.kind == RecoveryReport::Kind::NotAttempted ||
        report.kind == RecoveryReport::Kind::GaveUp) {
        if (!report.failure.empty()) {
            outcome_.errorMessage += " (not recovered: " + report.failure + ")";
        }
        return false;
    }
    // The outage is a gap in the file, whether the stream came back or the
    // run was stopped while it waited.
    flow_.outage(report.gap);
    outcome_.errorMessage.clear();
    outcome_.errorStatus = 0;
    if (report.kind == RecoveryReport::Kind::Interrupted) {
        outcome_.end = StreamEnd::Interrupted;
        return false;
    }
    ++outcome_.stats.recoveries;
    outcome_.end = StreamEnd::FrameLimit;
    tick(true);
    return !flow_.limitReached();
}

StreamOutcome StreamRun::finish() {
    // The acquisition ends here; the writing goes on with every frame that
    // was already received, up to the limit.
    if (stream_) {
        // An abandoned stream may still be delivering: only what had come
        // when the stop was given up is taken.
        const bool stopped = stopAcquisition();
        if (outcome_.end == StreamEnd::Interrupted || outcome_.end == StreamEnd::TimeLimit) {
            drain(stopped ? std::numeric_limits<std::size_t>::max() : stream_->pending());
        }
        watchQueue();
    }
    outcome_.elapsed = Clock::now() - startedAt_;
    tick(true);
    if (stream_ && !outcome_.abandoned) {
        stream_->stop();
    }
    return std::move(outcome_);
}

/// Stops the acquisition. After a stop request it waits on another thread,
/// so that a second request can give up the wait for the block in flight:
/// the stream is then left to the end of the process.
bool StreamRun::stopAcquisition() {
    if (!hooks_.secondStopAbandons || outcome_.end != StreamEnd::Interrupted) {
        stream_->stopAcquisition();
        return true;
    }
    std::promise<void> stopped;
    auto done = stopped.get_future();
    std::thread stopper([stream = stream_, stopped = std::move(stopped)]() mutable {
        try {
            stream->stopAcquisition();
            stopped.set_value();
        } catch (...) {
            stopped.set_exception(std::current_exception());
        }
    });
    while (done.wait_for(kStopPoll) != std::future_status::ready) {
        if (signals_.count() > 1) {
            stopper.detach();
            outcome_.abandoned = true;
            return false;
        }
    }
    stopper.join();
    done.get();
    return true;
}

void StreamRun::drain(std::size_t most) {
    for (; most > 0; --most) {
        auto event = stream_->next(std::chrono::milliseconds{0});
        if (!event || flow_.take(*event)) {
            break;
        }
    }
}

void StreamRun::watchQueue() {
    if (!stream_) {
        return;
    }
    const auto stalls = earlierStalls_ + stream_->stalls();
    if (stalls > outcome_.stats.queueStalls) {
        outcome_.stats.queueStalls = stalls;
        tick(true);
    }
}

void StreamRun::tick(bool now) {
    const auto at = Clock::now();
    if (!now && at < nextTick_) {
        return;
    }
    nextTick_ = at + kTickInterval;
    if (hooks_.progress) {
        hooks_.progress(outcome_.stats, at - startedAt_);
    }
    if (hooks_.observer != nullptr) {
        hooks_.observer->progress(outcome_.stats);
    }
}

}  // namespace

StreamOutcome runStream(DeviceSession& session, const StopSignals& signals,
                        const StreamLimits& limits, RecordingWriter& writer, RecordingFacts facts,
                        const StreamRunHooks& hooks) {
    StreamRun run(session, signals, limits, writer, facts, hooks);
    while (run.runSegment() && run.recover()) {
    }
    return run.finish();
}

RecordingEnd recordingEnd(const StreamOutcome& outcome, double sampleRateHz) {
    RecordingEnd end;
    switch (outcome.end) {
        case StreamEnd::DeviceError:
            end.kind = RecordingEndKind::Error;
            end.errorMessage = outcome.errorMessage;
            end.errorStatus = outcome.errorStatus;
            break;
        case StreamEnd::Interrupted:
            end.kind = RecordingEndKind::Interrupted;
            break;
        default:
            end.kind = RecordingEndKind::Complete;
            break;
    }
    end.samplesPerChannel = outcome.stats.samples;
    end.frames = outcome.stats.frames;
    end.gaps = outcome.stats.gaps;
    end.estimatedLostSamples = outcome.stats.estimatedLostSamples;
    end.errors = outcome.stats.errors();
    // The span the recording covers: what was written and what outages lost.
    end.durationS =
        sampleRateHz > 0
            ? static_cast<double>(outcome.stats.samples + outcome.stats.estimatedLostSamples) /
                  sampleRateHz
            : outcome.elapsed.count();
    return end;
}

}  // namespace ni_usb_daq::host
