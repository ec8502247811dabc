#include "StreamSession.h"

#include <algorithm>
#include <iostream>

#include "HostError.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kTickInterval{250};
constexpr std::chrono::milliseconds kLongestWait{100};

}  // namespace

StreamEvent toStreamEvent(const kra::device::DeviceState& state) {
    if (state.code == kra::device::DeviceStateCode::Error) {
        return {StreamEvent::Kind::Error, state.message};
    }
    if (const auto frame = state.properties.find("frame"); frame != state.properties.end()) {
        return {StreamEvent::Kind::Frame, frame->second};
    }
    return {StreamEvent::Kind::Other, state.stateName + ": " + state.message};
}

void StreamEventQueue::push(StreamEvent event) {
    std::unique_lock lock(mutex_);
    notFull_.wait(lock, [this] { return closed_ || events_.size() < capacity_; });
    if (closed_) {
        return;
    }
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
    notFull_.notify_one();
    return event;
}

void StreamEventQueue::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    notFull_.notify_all();
}

StreamSession::StreamSession(DeviceSession& session, std::size_t queueCapacity)
    : session_(session), queue_(std::make_shared<StreamEventQueue>(queueCapacity)) {
    // The callback owns a share of the queue: whatever the plug-in does with
    // the callback after unsubscribe, it never reaches a destroyed queue.
    handle_ = session_.stub().subscribe("analog_input", "stream",
                                        [queue = queue_](const kra::device::DeviceState& state) {
                                            queue->push(toStreamEvent(state));
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

void StreamSession::stop() {
    queue_->close();
    if (subscribed_) {
        subscribed_ = false;
        session_.stub().unsubscribe("analog_input", "stream", handle_);
    }
    if (started_) {
        started_ = false;
        session_.require("analog_input", "stop_stream");
    }
}

namespace {

/// Checks that frames come numbered 1, 2, 3, ... and says so on standard
/// error when they do not.
class SequenceCheck {
public:
    /// False when `sequenceNo` is not the successor of the previous frame.
    bool accept(std::uint64_t sequenceNo) {
        const std::uint64_t expected = last_ + 1;
        last_ = sequenceNo;
        if (sequenceNo == expected) {
            return true;
        }
        if (sequenceNo > expected) {
            std::cerr << kProgramName << ": sequence gap: expected frame " << expected << ", got "
                      << sequenceNo << " (" << sequenceNo - expected << " missing)\n";
        } else {
            std::cerr << kProgramName << ": sequence went back: expected frame " << expected
                      << ", got " << sequenceNo << '\n';
        }
        return false;
    }

private:
    std::uint64_t last_ = 0;
};

}  // namespace

StreamOutcome runStream(DeviceSession& session, const StreamLimits& limits,
                        StreamConsumer& consumer) {
    using Clock = std::chrono::steady_clock;
    const StopSignals signals;
    StreamSession stream(session, 256);
    stream.start();

    const auto startedAt = Clock::now();
    const auto deadline =
        limits.duration ? startedAt + std::chrono::duration_cast<Clock::duration>(*limits.duration)
                        : Clock::time_point::max();
    auto nextTick = startedAt + kTickInterval;
    StreamOutcome outcome;
    SequenceCheck sequence;

    // Takes one event; true when it ends the stream (outcome.end then says why).
    const auto handle = [&](const StreamEvent& event) {
        switch (event.kind) {
            case StreamEvent::Kind::Error:
                outcome.errorMessage = event.text;
                outcome.end = StreamEnd::DeviceError;
                return true;
            case StreamEvent::Kind::Other:
                std::cerr << kProgramName << ": stream event " << event.text << '\n';
                return false;
            case StreamEvent::Kind::Frame:
                break;
        }
        FrameDocument frame;
        try {
            frame = parseFrame(event.text);
        } catch (const HostError& error) {
            ++outcome.stats.malformedFrames;
            std::cerr << kProgramName << ": " << error.what() << '\n';
            return false;
        }
        if (!sequence.accept(frame.sequenceNo)) {
            ++outcome.stats.sequenceGaps;
        }
        ++outcome.stats.frames;
        outcome.stats.samples += frame.sampleCount;
        if (!consumer.onFrame(event.text, frame)) {
            outcome.end = StreamEnd::ConsumerStopped;
            return true;
        }
        return false;  // the frame limit is checked at the top of the loop
    };

    while (true) {
        if (limits.frames && outcome.stats.frames >= *limits.frames) {
            outcome.end = StreamEnd::FrameLimit;
            break;
        }
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
        if (auto event = stream.next(wait); event && handle(*event)) {
            break;
        }
        now = Clock::now();
        if (now >= nextTick) {
            consumer.onTick(outcome.stats, now - startedAt);
            nextTick = now + kTickInterval;
        }
    }
    consumer.onTick(outcome.stats, Clock::now() - startedAt);
    stream.stop();
    return outcome;
}

}  // namespace ni_usb_daq::host
