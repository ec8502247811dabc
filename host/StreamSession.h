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
#include <string_view>
#include <vector>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "FrameText.h"
#include "Platform.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

class StreamRecovery;

/// What a stream callback passes on to the main thread.
struct StreamEvent {
    enum class Kind { Frame, Error, Other };
    Kind kind = Kind::Other;
    /// The frame's JSON text, or the message of any other state.
    std::string text;
    /// Error: the driver status that ended the stream; 0 when unknown.
    std::int32_t status = 0;
};

/// The driver status of an error state: its "daqmx_status" property; 0 when
/// it has none.
std::int32_t errorStatus(const kra::device::DeviceState& state);

StreamEvent toStreamEvent(const kra::device::DeviceState& state);

/// Hands events from the plug-in's stream thread to the main thread. It is
/// bounded by the bytes of text it holds: a full queue makes the stream
/// thread wait, so a slow output slows the stream instead of filling memory.
/// An empty queue takes any one event, however large. Once it stops waiting
/// it takes everything at once, which lets a waiting stream thread go before
/// the host unsubscribes while keeping the frames that still come; once
/// closed, it drops what arrives. Texts handed back with recycle() are
/// refilled by later events, so a steady stream allocates nothing per frame.
class StreamEventQueue {
public:
    explicit StreamEventQueue(std::size_t capacityBytes) : capacityBytes_(capacityBytes) {}

    void push(StreamEvent::Kind kind, const std::string& text, std::int32_t status = 0);
    /// The oldest event, or nullopt when none arrives within `timeout`.
    std::optional<StreamEvent> pop(std::chrono::milliseconds timeout);
    /// A popped event's text, for reuse.
    void recycle(std::string text);
    /// From now on push() never waits.
    void stopWaiting();
    void close();
    /// How many times a push found the queue full and had to wait.
    std::uint64_t stalls() const;

private:
    const std::size_t capacityBytes_;
    mutable std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<StreamEvent> events_;
    std::vector<std::string> spare_;
    std::size_t bytes_ = 0;
    std::uint64_t stalls_ = 0;
    bool waits_ = true;
    bool closed_ = false;
};

/// While it lives, Ctrl-C (and SIGTERM, or Ctrl-Break on Windows) asks the
/// running stream to end; see platform::StopRequests.
using StopSignals = platform::StopRequests;

/// A subscription to the "stream" topic of "analog_input" and the stream it
/// receives. The callback only queues. stopAcquisition() lets a waiting
/// callback go, unsubscribes and stops the stream, in that order, from the
/// calling thread, leaving what was queued to be taken; stop() also closes
/// the queue. The destructor stops a session that was not stopped.
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
    std::uint64_t stalls() const { return queue_->stalls(); }
    /// HostError when stop_stream fails.
    void stopAcquisition();
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
    std::uint64_t frames = 0;   ///< frames handed to the writer
    std::uint64_t samples = 0;  ///< samples per channel in those frames
    std::uint64_t sequenceGaps = 0;
    std::uint64_t malformedFrames = 0;
    std::uint64_t writerErrors = 0;  ///< frames the writer could not write whole
    std::uint64_t queueStalls = 0;   ///< times the output fell behind and the queue filled
    std::uint64_t driverErrors = 0;  ///< the error that ended the stream
    std::uint64_t gaps = 0;
    std::uint64_t estimatedLostSamples = 0;
    std::uint64_t recoveries = 0;  ///< outages the stream was brought back from
    /// What the stream is doing besides recording ("waiting for Dev1"); empty while it records.
    std::string state;

    std::uint64_t errors() const {
        return sequenceGaps + malformedFrames + writerErrors + queueStalls + driverErrors;
    }
};

struct StreamLimits {
    std::optional<std::uint64_t> frames;
    std::optional<std::uint64_t> samples;  ///< per channel; the last frame is cut to fit
    /// Sample index to end at, per channel: samples written and samples an
    /// outage lost alike, so that a run covers a span of time.
    std::optional<std::uint64_t> position;
    /// Wall-clock time, for an acquisition without a sample clock.
    std::optional<std::chrono::duration<double>> duration;
};

enum class StreamEnd { FrameLimit, SampleLimit, TimeLimit, Interrupted, DeviceError };

struct StreamOutcome {
    StreamEnd end = StreamEnd::FrameLimit;
    /// The device's message and status when the stream ended on an error state.
    std::string errorMessage;
    std::int32_t errorStatus = 0;
    StreamStats stats;
    std::chrono::duration<double> elapsed{0};
};

/// A few times a second while the stream runs, and whenever an error is counted.
using ProgressCallback =
    std::function<void(const StreamStats& stats, std::chrono::duration<double> elapsed)>;

/// At most this many bytes of frame text wait between the plug-in's stream
/// thread and the output.
inline constexpr std::size_t kStreamQueueBytes = std::size_t{32} << 20;

/// Subscribes, starts the stream of an already configured engine, begins the
/// writer with `facts` (start time set) and hands it every frame until a
/// limit, a stop request to `signals` (made before configuring, so that a
/// Ctrl-C at any point counts) or a device error ends the acquisition. A limit or a
/// stop request ends the acquisition, not the writing: frames already
/// received are still written (up to the limit). Sequence gaps become gap
/// records. The writer's end() is left to the caller, which knows how the
/// run is judged. Problems go to standard error as they happen.
StreamOutcome runStream(DeviceSession& session, const StopSignals& signals,
                        const StreamLimits& limits, RecordingWriter& writer, RecordingFacts facts,
                        const ProgressCallback& progress = {}, StreamRecovery* recovery = nullptr);

/// The end record of an outcome: its kind, totals and error. Its duration is
/// the span of the samples written and the samples outages lost, at
/// `sampleRateHz`, or the time the stream ran when there is no sample clock (0).
RecordingEnd recordingEnd(const StreamOutcome& outcome, double sampleRateHz);

}  // namespace ni_usb_daq::host
