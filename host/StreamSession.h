#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "Platform.h"
#include "RecordingWriter.h"
#include "StreamEventQueue.h"

namespace ni_usb_daq::host {

class StreamObserver;
class StreamRecovery;

/// While it lives, Ctrl-C (and SIGTERM, or Ctrl-Break on Windows) asks the
/// running stream to end; see platform::StopRequests.
using StopSignals = platform::StopRequests;

/// A subscription to a stream topic of "analog_input" ("stream" for frame
/// texts, "stream_binary" for binary blocks) and the stream it receives.
/// The callback only queues. stopAcquisition() lets a waiting
/// callback go, unsubscribes and stops the stream, in that order, from the
/// calling thread, leaving what was queued to be taken; stop() also closes
/// the queue. The destructor stops a session that was not stopped.
class StreamSession {
public:
    StreamSession(DeviceSession& session, std::size_t queueCapacityBytes, std::string topic);
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    /// start_stream; HostError when it fails.
    void start();
    std::optional<StreamEvent> next(std::chrono::milliseconds timeout) {
        return queue_->pop(timeout);
    }
    void recycle(StreamEvent event) { queue_->recycle(std::move(event)); }
    std::uint64_t stalls() const { return queue_->stalls(); }
    std::size_t pending() const { return queue_->pending(); }
    /// HostError when stop_stream fails.
    void stopAcquisition();
    /// HostError when stop_stream fails.
    void stop();

private:
    DeviceSession& session_;
    std::string topic_;
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
    /// Errors that ended an acquisition, the ones recovered from included.
    std::uint64_t driverErrors = 0;
    std::uint64_t gaps = 0;
    std::uint64_t estimatedLostSamples = 0;
    std::uint64_t recoveries = 0;  ///< driver errors the stream was brought back from
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
    /// How long a triggered stream may wait for its first frame; for ever when absent.
    std::optional<std::chrono::duration<double>> triggerWait;
};

/// StreamStats::state while a triggered stream has delivered nothing yet.
inline constexpr std::string_view kWaitingForTrigger = "waiting for trigger";

enum class StreamEnd {
    FrameLimit,
    SampleLimit,
    TimeLimit,
    Interrupted,
    DeviceError,
    TriggerTimeout  ///< the trigger did not come within StreamLimits::triggerWait
};

struct StreamOutcome {
    StreamEnd end = StreamEnd::FrameLimit;
    /// The device's message and status when the stream ended on an error state.
    std::string errorMessage;
    std::int32_t errorStatus = 0;
    StreamStats stats;
    std::chrono::duration<double> elapsed{0};
    /// A second stop request came while the acquisition was being stopped:
    /// the wait for the plug-in's block in flight was given up, and the
    /// stream is left running for the process's exit to end.
    bool abandoned = false;
};

/// A few times a second while the stream runs, and whenever an error is counted.
using ProgressCallback =
    std::function<void(const StreamStats& stats, std::chrono::duration<double> elapsed)>;

/// At most this many bytes of frame text or samples wait between the
/// plug-in's stream thread and the output.
inline constexpr std::size_t kStreamQueueBytes = std::size_t{32} << 20;

/// What runStream reports to and asks of its caller besides the recording.
struct StreamRunHooks {
    ProgressCallback progress;
    /// Brings the stream back after outages; none: the first one ends the run.
    StreamRecovery* recovery = nullptr;
    /// A second stop request gives up waiting for the acquisition to stop
    /// (outcome.abandoned); the caller then has to end the process once the
    /// recording is written, without unwinding past the device session.
    bool secondStopAbandons = false;
    /// Receive frame texts and read their numbers even for a writer that is
    /// handed samples, which otherwise come as binary blocks: the path every
    /// block took before there was a binary topic, kept to measure against.
    bool textFrames = false;
    /// Shown every frame and gap the writer is given, and the progress (a
    /// live view); none: only the writer.
    StreamObserver* observer = nullptr;
};

/// Subscribes (to frame texts for a writer that takes them, else to binary
/// blocks), starts the stream of an already configured engine, begins the
/// writer with `facts` (start time set) and hands it every frame until a
/// limit, a stop request to `signals` (made before configuring, so that a
/// Ctrl-C at any point counts) or a device error ends the acquisition; with
/// a recovery, an outage becomes a gap and the stream goes on. A limit or a
/// stop request ends the acquisition, not the writing: frames already
/// received are still written (up to the limit). The writer's end() is left
/// to the caller, which knows how the run is judged. Problems go to standard
/// error as they happen.
StreamOutcome runStream(DeviceSession& session, const StopSignals& signals,
                        const StreamLimits& limits, RecordingWriter& writer, RecordingFacts facts,
                        const StreamRunHooks& hooks = {});

/// The end record of an outcome: its kind, totals and error. Its duration is
/// the span of the samples written and the samples outages lost, at
/// `sampleRateHz`, or the time the stream ran when there is no sample clock (0).
RecordingEnd recordingEnd(const StreamOutcome& outcome, double sampleRateHz);

}  // namespace ni_usb_daq::host
