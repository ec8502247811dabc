#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "FrameText.h"
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
/// bounded by the bytes of text it holds: a full queue makes the stream
/// thread wait, so a slow output slows the stream instead of filling memory.
/// An empty queue takes any one event, however large. Once closed, it drops
/// what arrives, which lets a waiting stream thread go before the host
/// unsubscribes. Texts handed back with recycle() are refilled by later
/// events, so a steady stream allocates nothing per frame.
class StreamEventQueue {
public:
    explicit StreamEventQueue(std::size_t capacityBytes) : capacityBytes_(capacityBytes) {}

    void push(StreamEvent::Kind kind, const std::string& text);
    /// The oldest event, or nullopt when none arrives within `timeout`.
    std::optional<StreamEvent> pop(std::chrono::milliseconds timeout);
    /// A popped event's text, for reuse.
    void recycle(std::string text);
    void close();

private:
    const std::size_t capacityBytes_;
    std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<StreamEvent> events_;
    std::vector<std::string> spare_;
    std::size_t bytes_ = 0;
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
    StreamSession(DeviceSession& session, std::size_t queueCapacityBytes);
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    /// start_stream; HostError when it fails.
    void start();
    std::optional<StreamEvent> next(std::chrono::milliseconds timeout) {
        return queue_->pop(timeout);
    }
    void recycle(std::string text) { queue_->recycle(std::move(text)); }
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
    /// One frame as the plug-in wrote it, in arrival order; false ends the
    /// stream.
    virtual bool onFrame(const std::string& text, const FrameNumbers& frame) = 0;
    /// The queue ran empty: a moment to flush what was written.
    virtual void onIdle() {}
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

/// At most this many bytes of frame text wait between the plug-in's stream
/// thread and the output.
inline constexpr std::size_t kStreamQueueBytes = std::size_t{32} << 20;

/// Subscribes, starts the stream of an already configured engine, feeds the
/// consumer until a limit, a stop signal, the consumer or a device error ends
/// it, then stops it. Sequence gaps and malformed frames go to standard error.
/// `onStarted` runs once start_stream has succeeded, before the first frame.
StreamOutcome runStream(DeviceSession& session, const StreamLimits& limits,
                        StreamConsumer& consumer, const std::function<void()>& onStarted = {});

}  // namespace ni_usb_daq::host
