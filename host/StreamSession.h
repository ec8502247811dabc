#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "FrameDocument.h"
#include "Platform.h"

namespace ni_usb_daq::host {

/// What a stream callback passes on to the main thread.
struct StreamEvent {
    enum class Kind { Frame, Error, Other };
    Kind kind = Kind::Other;
    /// The frame's JSON text, or the message of any other state.
    std::string text;
};

StreamEvent toStreamEvent(const kra::device::DeviceState& state);

/// Hands events from the plug-in's stream thread to the main thread. It is
/// bounded: a full queue makes the stream thread wait, so a slow output slows
/// the stream instead of filling memory. Once closed, it drops what arrives,
/// which lets a waiting stream thread go before the host unsubscribes.
class StreamEventQueue {
public:
    explicit StreamEventQueue(std::size_t capacity) : capacity_(capacity) {}

    void push(StreamEvent event);
    /// The oldest event, or nullopt when none arrives within `timeout`.
    std::optional<StreamEvent> pop(std::chrono::milliseconds timeout);
    void close();

private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<StreamEvent> events_;
    bool closed_ = false;
};

/// While it lives, Ctrl-C (and SIGTERM, or Ctrl-Break on Windows) asks the
/// running stream to end; see platform::StopRequests.
using StopSignals = platform::StopRequests;

/// A subscription to the "stream" topic of "analog_input" and the stream it
/// receives. The callback only queues; stop() closes the queue, unsubscribes
/// and stops the stream, in that order, from the calling thread. The
/// destructor does the same for a session that was not stopped.
class StreamSession {
public:
    StreamSession(DeviceSession& session, std::size_t queueCapacity);
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    /// start_stream; HostError when it fails.
    void start();
    std::optional<StreamEvent> next(std::chrono::milliseconds timeout) {
        return queue_->pop(timeout);
    }
    /// HostError when stop_stream fails.
    void stop();

private:
    DeviceSession& session_;
    std::shared_ptr<StreamEventQueue> queue_;
    kra::device::SubscriptionHandle handle_;
    bool subscribed_ = false;
    bool started_ = false;
};

struct StreamStats {
    std::uint64_t frames = 0;   ///< frames handed to the consumer
    std::uint64_t samples = 0;  ///< samples per channel in those frames
    std::uint64_t sequenceGaps = 0;
    std::uint64_t malformedFrames = 0;

    std::uint64_t errors() const { return sequenceGaps + malformedFrames; }
};

/// What runStream does with the frames.
class StreamConsumer {
public:
    virtual ~StreamConsumer() = default;
    /// One frame, in arrival order; false ends the stream.
    virtual bool onFrame(const std::string& text, const FrameDocument& frame) = 0;
    /// A few times a second while the stream runs.
    virtual void onTick(const StreamStats& /*stats*/, std::chrono::duration<double> /*elapsed*/) {}
};

struct StreamLimits {
    std::optional<std::uint64_t> frames;
    std::optional<std::chrono::duration<double>> duration;
};

enum class StreamEnd { FrameLimit, TimeLimit, Interrupted, ConsumerStopped, DeviceError };

struct StreamOutcome {
    StreamEnd end = StreamEnd::FrameLimit;
    /// The device's message when the stream ended on an error state.
    std::string errorMessage;
    StreamStats stats;
};

/// Subscribes, starts the stream of an already configured engine, feeds the
/// consumer until a limit, a stop signal, the consumer or a device error ends
/// it, then stops it. Sequence gaps and malformed frames go to standard error.
StreamOutcome runStream(DeviceSession& session, const StreamLimits& limits,
                        StreamConsumer& consumer);

}  // namespace ni_usb_daq::host
