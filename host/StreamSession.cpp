#include "StreamSession.h"

#include <algorithm>
#include <iostream>

#include "HostError.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kTickInterval{250};
constexpr std::chrono::milliseconds kLongestWait{100};

}  // namespace

namespace {

void pushStreamEvent(StreamEventQueue& queue, const kra::device::DeviceState& state) {
    // Frames, by far the most events, are copied once: into a recycled text.
    if (state.code != kra::device::DeviceStateCode::Error) {
        if (const auto frame = state.properties.find("frame"); frame != state.properties.end()) {
            queue.push(StreamEvent::Kind::Frame, frame->second);
            return;
        }
    }
    const StreamEvent event = toStreamEvent(state);
    queue.push(event.kind, event.text);
}

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

void StreamEventQueue::push(StreamEvent::Kind kind, const std::string& text) {
    std::unique_lock lock(mutex_);
    notFull_.wait(
        lock, [&] { return closed_ || events_.empty() || bytes_ + text.size() <= capacityBytes_; });
    if (closed_) {
        return;
    }
    StreamEvent event{kind, {}};
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

void StreamEventQueue::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        spare_.clear();
    }
    notFull_.notify_all();
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
                        StreamConsumer& consumer, const std::function<void()>& onStarted) {
    using Clock = std::chrono::steady_clock;
    const StopSignals signals;
    StreamSession stream(session, kStreamQueueBytes);
    stream.start();
    if (onStarted) {
        onStarted();
    }

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
        const auto frame = scanFrameNumbers(event.text);
        if (!frame) {
            ++outcome.stats.malformedFrames;
            std::cerr << kProgramName << ": malformed sample frame: no whole \"sequence_no\", "
                      << "\"sample_count\" or \"n_channels\"\n";
            return false;
        }
        if (!sequence.accept(frame->sequenceNo)) {
            ++outcome.stats.sequenceGaps;
        }
        ++outcome.stats.frames;
        outcome.stats.samples += frame->sampleCount;
        if (!consumer.onFrame(event.text, *frame)) {
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
        auto event = stream.next(std::chrono::milliseconds{0});
        if (!event) {
            consumer.onIdle();
            event = stream.next(wait);
        }
        if (event) {
            const bool ends = handle(*event);
            stream.recycle(std::move(event->text));
            if (ends) {
                break;
            }
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
