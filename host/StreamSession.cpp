#include "StreamSession.h"

#include <algorithm>
#include <charconv>
#include <iostream>

#include "FrameText.h"
#include "HostError.h"
#include "NumberFormat.h"
#include "StreamRecovery.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kTickInterval{250};
constexpr std::chrono::milliseconds kLongestWait{100};

void pushStreamEvent(StreamEventQueue& queue, const kra::device::DeviceState& state) {
    // Frames, by far the most events, are copied once: into a recycled text.
    if (state.code != kra::device::DeviceStateCode::Error) {
        if (const auto frame = state.properties.find("frame"); frame != state.properties.end()) {
            queue.push(StreamEvent::Kind::Frame, frame->second);
            return;
        }
    }
    const StreamEvent event = toStreamEvent(state);
    queue.push(event.kind, event.text, event.status);
}

}  // namespace

std::int32_t errorStatus(const kra::device::DeviceState& state) {
    std::int32_t status = 0;
    if (const auto given = state.properties.find("daqmx_status"); given != state.properties.end()) {
        const std::string& text = given->second;
        std::from_chars(text.data(), text.data() + text.size(), status);
    }
    return status;
}

StreamEvent toStreamEvent(const kra::device::DeviceState& state) {
    if (state.code == kra::device::DeviceStateCode::Error) {
        return {StreamEvent::Kind::Error, state.message, errorStatus(state)};
    }
    if (const auto frame = state.properties.find("frame"); frame != state.properties.end()) {
        return {StreamEvent::Kind::Frame, frame->second};
    }
    return {StreamEvent::Kind::Other, state.stateName + ": " + state.message};
}

void StreamEventQueue::push(StreamEvent::Kind kind, const std::string& text, std::int32_t status) {
    std::unique_lock lock(mutex_);
    const auto room = [&] {
        return closed_ || !waits_ || events_.empty() || bytes_ + text.size() <= capacityBytes_;
    };
    if (!room()) {
        // The output fell behind: the stream thread now waits, and the
        // driver's buffer fills meanwhile. Said from here, at once: the main
        // thread may itself be stuck in a write to the slow output.
        if (++stalls_ == 1) {
            lock.unlock();
            const std::string warning =
                std::string(kProgramName) + ": warning: the output cannot keep up: the host's " +
                std::to_string(capacityBytes_ >> 20) +
                " MiB frame queue is full and the driver's stream thread waits; the driver's "
                "buffer overflows if this goes on\n";
            // Straight to the buffer: std::cerr would first flush std::cout,
            // which is what is stuck.
            std::cerr.rdbuf()->sputn(warning.data(), static_cast<std::streamsize>(warning.size()));
            std::cerr.rdbuf()->pubsync();
            lock.lock();
        }
        notFull_.wait(lock, room);
    }
    if (closed_) {
        return;
    }
    StreamEvent event{kind, {}, status};
    if (!spare_.empty()) {
        event.text = std::move(spare_.back());
        spare_.pop_back();
    }
    event.text.assign(text);
    bytes_ += event.text.size();
    events_.push_back(std::move(event));
    notEmpty_.notify_one();
}

std::optional<StreamEvent> StreamEventQueue::pop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!notEmpty_.wait_for(lock, timeout, [this] { return !events_.empty(); })) {
        return std::nullopt;
    }
    StreamEvent event = std::move(events_.front());
    events_.pop_front();
    bytes_ -= event.text.size();
    notFull_.notify_one();
    return event;
}

void StreamEventQueue::recycle(std::string text) {
    const std::lock_guard lock(mutex_);
    // As many spares as texts can wait at once, counted by their capacity.
    std::size_t spareBytes = text.capacity();
    for (const auto& spare : spare_) {
        spareBytes += spare.capacity();
    }
    if (spareBytes <= capacityBytes_ && !closed_) {
        spare_.push_back(std::move(text));
    }
}

void StreamEventQueue::stopWaiting() {
    {
        const std::lock_guard lock(mutex_);
        waits_ = false;
    }
    notFull_.notify_all();
}

void StreamEventQueue::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        spare_.clear();
    }
    notFull_.notify_all();
}

std::uint64_t StreamEventQueue::stalls() const {
    const std::lock_guard lock(mutex_);
    return stalls_;
}

StreamSession::StreamSession(DeviceSession& session, std::size_t queueCapacityBytes)
    : session_(session), queue_(std::make_shared<StreamEventQueue>(queueCapacityBytes)) {
    // The callback owns a share of the queue: whatever the plug-in does with
    // the callback after unsubscribe, it never reaches a destroyed queue.
    handle_ = session_.stub().subscribe("analog_input", "stream",
                                        [queue = queue_](const kra::device::DeviceState& state) {
                                            pushStreamEvent(*queue, state);
                                        });
    if (handle_.id == 0) {
        throw HostError("the plug-in refused the subscription to analog_input/stream");
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
        session_.stub().unsubscribe("analog_input", "stream", handle_);
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

/// The stream loop's state: turns events into writer calls and counts.
class FrameFlow {
public:
    FrameFlow(RecordingWriter& writer, const StreamLimits& limits, StreamOutcome& outcome)
        : writer_(writer), limits_(limits), outcome_(outcome) {}

    /// True when the event ends the stream (outcome_.end then says why).
    bool take(StreamEvent& event) {
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
        if (limitReached()) {
            return true;
        }
        const auto numbers = scanFrameNumbers(event.text);
        if (!numbers) {
            ++outcome_.stats.malformedFrames;
            std::cerr << kProgramName << ": malformed sample frame: no whole \"sequence_no\", "
                      << "\"sample_count\" or \"n_channels\"\n";
            return false;
        }
        sequence(*numbers);
        if (!frameSamplesWellFormed(event.text, *numbers)) {
            // Written as it came, it would put text where numbers go or shift
            // every later channel; its samples are lost, so it is a gap.
            ++outcome_.stats.malformedFrames;
            std::cerr << kProgramName << ": malformed sample frame " << numbers->sequenceNo
                      << ": its samples are not \"n_channels\" arrays of \"sample_count\" "
                         "numbers; not written\n";
            lost("malformed_frame", numbers->sampleCount);
            return false;
        }
        std::uint64_t count = numbers->sampleCount;
        std::string_view text = event.text;
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
        writer_.frame({text, numbers->sequenceNo, numbers->timestampNs, nextSample_, count,
                       numbers->channelCount});
        outcome_.stats.writerErrors = writer_.frameErrors();
        ++outcome_.stats.frames;
        outcome_.stats.samples += count;
        nextSample_ += count;
        return limitReached();
    }

    /// An outage the stream was brought back from: its gap is written where
    /// it happened, and the sample indices skip the samples estimated lost.
    /// The restarted stream numbers its frames from 1 again.
    void outage(GapRecord gap) {
        writeGap(std::move(gap));
        lastSequence_ = 0;
    }

    /// Samples per channel written since the last (re)start of the acquisition.
    std::uint64_t nextSample() const { return nextSample_; }

    bool limitReached() {
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

private:
    /// Frames come numbered 1, 2, 3, ...; a missing stretch is a gap in the
    /// recording, said on standard error and written where it happened.
    void sequence(const FrameNumbers& frame) {
        const std::uint64_t expected = lastSequence_ + 1;
        lastSequence_ = frame.sequenceNo;
        if (frame.sequenceNo == expected) {
            return;
        }
        ++outcome_.stats.sequenceGaps;
        if (frame.sequenceNo < expected) {
            std::cerr << kProgramName << ": sequence went back: expected frame " << expected
                      << ", got " << frame.sequenceNo << '\n';
            return;
        }
        const std::uint64_t missing = frame.sequenceNo - expected;
        std::cerr << kProgramName << ": sequence gap: expected frame " << expected << ", got "
                  << frame.sequenceNo << " (" << missing << " missing)\n";
        // The missing frames were the size of this one, as every block is.
        lost("sequence_gap", missing * frame.sampleCount);
    }

    /// Samples that never reach the file: a gap written where they were.
    void lost(std::string reason, std::uint64_t samples) {
        GapRecord gap;
        gap.reason = std::move(reason);
        gap.outageStart = gap.outageEnd = std::chrono::system_clock::now();
        gap.estimatedLostSamples = samples;
        writeGap(std::move(gap));
    }

    void writeGap(GapRecord gap) {
        gap.hasLastSample = nextSample_ > 0;
        gap.lastSampleIndex = nextSample_ > 0 ? nextSample_ - 1 : 0;
        writer_.gap(gap);
        ++outcome_.stats.gaps;
        outcome_.stats.estimatedLostSamples += gap.estimatedLostSamples;
        nextSample_ += gap.estimatedLostSamples;
    }

    RecordingWriter& writer_;
    const StreamLimits& limits_;
    StreamOutcome& outcome_;
    std::uint64_t lastSequence_ = 0;
    std::uint64_t nextSample_ = 0;
};

}  // namespace

StreamOutcome runStream(DeviceSession& session, const StopSignals& signals,
                        const StreamLimits& limits, RecordingWriter& writer, RecordingFacts facts,
                        const ProgressCallback& progress, StreamRecovery* recovery) {
    using Clock = std::chrono::steady_clock;
    std::optional<StreamSession> stream(std::in_place, session, kStreamQueueBytes);
    stream->start();
    facts.start = std::chrono::system_clock::now();
    writer.begin(facts);

    const auto startedAt = Clock::now();
    const auto deadline =
        limits.duration ? startedAt + std::chrono::duration_cast<Clock::duration>(*limits.duration)
                        : Clock::time_point::max();
    auto nextTick = startedAt + kTickInterval;
    StreamOutcome outcome;
    FrameFlow flow(writer, limits, outcome);
    const auto tick = [&] {
        if (progress) {
            progress(outcome.stats, Clock::now() - startedAt);
        }
    };
    // Stalls of the streams before a recovery, each of which had its own queue.
    std::uint64_t earlierStalls = 0;
    const auto watchQueue = [&] {
        const auto stalls = earlierStalls + stream->stalls();
        if (stalls > outcome.stats.queueStalls) {
            outcome.stats.queueStalls = stalls;
            tick();
        }
    };
    // When the running acquisition started, and the index of its first sample.
    auto segmentStart = facts.start;
    std::uint64_t segmentFirst = 0;

    // Brings the stream back after the error that just ended it; false when
    // the run ends instead (outcome.end says why).
    const auto recover = [&]() -> bool {
        const auto action = recoveryAction(outcome.errorStatus);
        if (recovery == nullptr || !recovery->options().enabled || action == RecoveryAction::None) {
            return false;
        }
        if (recovery->options().maxGaps && outcome.stats.gaps >= *recovery->options().maxGaps) {
            std::cerr << kProgramName << ": not recovering: " << outcome.stats.gaps
                      << " gap(s) already, --max-gaps " << *recovery->options().maxGaps << '\n';
            return false;
        }
        const auto errorAt = std::chrono::system_clock::now();
        // The samples stopped where the running acquisition's last one lies in
        // time, or when the error came, whichever is earlier.
        auto outageStart = errorAt;
        if (facts.sampleRateHz > 0) {
            const auto delivered = std::chrono::duration<double>(
                static_cast<double>(flow.nextSample() - segmentFirst) / facts.sampleRateHz);
            outageStart = std::min(
                errorAt,
                segmentStart +
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(delivered));
        }
        std::cerr << kProgramName << ": " << outcome.errorMessage << "; recovering\n";
        earlierStalls += stream->stalls();
        stream.reset();  // stops what is left of the acquisition
        outcome.stats.state = "recovering";
        tick();
        const auto result =
            recovery->recover(session, action, signals, [&](const std::string& state) {
                outcome.stats.state = state;
                tick();
            });
        if (result.interrupted) {
            outcome.end = StreamEnd::Interrupted;
            return false;
        }
        if (result.recovered) {
            try {
                stream.emplace(session, kStreamQueueBytes);
                stream->start();
            } catch (const HostError& error) {
                outcome.errorMessage += " (not recovered: " + std::string(error.what()) + ")";
                return false;
            }
        } else {
            outcome.errorMessage += " (not recovered: " + result.failure + ")";
            return false;
        }
        const auto outageEnd = std::chrono::system_clock::now();
        GapRecord gap;
        gap.reason = gapReason(outcome.errorStatus, result.deviceWentAway);
        gap.status = outcome.errorStatus;
        gap.outageStart = outageStart;
        gap.outageEnd = outageEnd;
        const std::chrono::duration<double> outage = outageEnd - outageStart;
        gap.estimatedLostSamples = static_cast<std::uint64_t>(
            std::llround(std::max(0.0, outage.count()) * facts.sampleRateHz));
        flow.outage(gap);
        segmentStart = outageEnd;
        segmentFirst = flow.nextSample();
        ++outcome.stats.recoveries;
        --outcome.stats.driverErrors;  // recovered from: a gap, not the run's end
        outcome.stats.state.clear();
        std::cerr << kProgramName << ": recovered on " << recovery->deviceName() << " after "
                  << formatNumber(outage.count()) << " s (" << gap.reason << "); "
                  << gap.estimatedLostSamples << " samples per channel estimated lost\n";
        outcome.errorMessage.clear();
        outcome.errorStatus = 0;
        outcome.end = StreamEnd::FrameLimit;
        tick();
        return !flow.limitReached();
    };

    bool ended = flow.limitReached();
    while (!ended) {
        if (signals.requested()) {
            outcome.end = StreamEnd::Interrupted;
            break;
        }
        auto now = Clock::now();
        if (now >= deadline) {
            outcome.end = StreamEnd::TimeLimit;
            break;
        }
        const auto wait = std::clamp(
            std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline, nextTick) - now),
            std::chrono::milliseconds{1}, kLongestWait);
        auto event = stream->next(std::chrono::milliseconds{0});
        if (!event) {
            writer.idle();
            event = stream->next(wait);
        }
        if (event) {
            ended = flow.take(*event);
            stream->recycle(std::move(event->text));
            if (ended && outcome.end == StreamEnd::DeviceError && recover()) {
                ended = false;
            }
        }
        if (!stream) {
            break;  // a recovery that did not bring it back
        }
        watchQueue();
        now = Clock::now();
        if (now >= nextTick || ended) {
            tick();
            nextTick = now + kTickInterval;
        }
    }

    outcome.elapsed = Clock::now() - startedAt;
    if (!stream) {
        tick();
        return outcome;
    }
    // The acquisition ends here; the writing goes on with every frame that
    // was already received, up to the limit.
    stream->stopAcquisition();
    if (outcome.end == StreamEnd::Interrupted || outcome.end == StreamEnd::TimeLimit) {
        while (auto event = stream->next(std::chrono::milliseconds{0})) {
            if (flow.take(*event)) {
                break;
            }
        }
    }
    watchQueue();
    outcome.elapsed = Clock::now() - startedAt;
    tick();
    stream->stop();
    return outcome;
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
