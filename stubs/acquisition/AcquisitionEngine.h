#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "daqmx/NIDAQmx.h"
#include "device/DeviceRecords.h"
#include "device/IDeviceStub.h"
#include "stubs/acquisition/AcquisitionConfig.h"
#include "stubs/acquisition/ChannelReadback.h"
#include "stubs/acquisition/DriverTask.h"
#include "stubs/acquisition/NumberTextCache.h"

namespace kra::device::stubs {

/// The object behind the feature "analog_input": stored settings, the driver
/// tasks built from them, finite and single-point reads, and streaming.
///
/// Locks, always taken in this order and never the other way round:
/// `lifecycleMutex` (the whole of a stream start or stop, join included),
/// `taskMutex` (every use of the tasks and their counts from a host thread),
/// `settingsMutex` (a leaf, held only to copy or assign the settings). The
/// stream thread takes only `subscribersMutex` (held for each delivery) and
/// `stopMutex` (a leaf around the stop flag, which its waits sleep on).
class AcquisitionEngine {
public:
    AcquisitionEngine();
    ~AcquisitionEngine();

    AcquisitionEngine(const AcquisitionEngine&) = delete;
    AcquisitionEngine& operator=(const AcquisitionEngine&) = delete;

    /// Runs one "analog_input" operation; expected failures come back in the result.
    OperationResult executeAnalogInputOperation(const std::string& operation,
                                                const OperationParams& params,
                                                const std::string& requestId);

    /// Registers a "stream" subscriber under `id`; id 0 in the handle means refused.
    SubscriptionHandle addSubscriber(const std::string& topic, IDeviceStub::StateCallback callback,
                                     std::uint64_t id);
    void removeSubscriber(std::uint64_t id);

    /// Ends a running stream (thread joined, tasks stopped). Never throws.
    void stopStreaming() noexcept;

private:
    /// Refusal of "read_finite" and "start_stream" before a successful configure.
    static constexpr std::string_view kNotConfigured = "Not configured. Call configure first.";

    /// What the stream thread works with, copied under `taskMutex` at start so
    /// the thread never touches engine members the host threads write.
    struct StreamPlan {
        TaskHandle aiTask = nullptr;
        TaskHandle diTask = nullptr;
        std::uint64_t aiChannelCount = 0;
        std::uint64_t diLineCount = 0;
        std::int32_t samplesPerChannel = 0;
        double readTimeoutS = 0.0;
        double sampleRateHz = 0.0;  ///< achieved rate, for pacing the waits
        /// Wait for a whole block by watching the driver's count of available
        /// samples, so a stop never waits for a block. Off for tasks whose
        /// reads the driver answers at once (on-demand), which keep the plain
        /// blocking read.
        bool waitInSlices = false;
        /// Samples per channel a finite task acquires in all; 0 for a
        /// continuous one. Once fewer than a block remain, the driver answers
        /// the read at once, so that read is made without the sliced wait.
        std::uint64_t finiteSamples = 0;
    };

    /// How the wait for a block ended.
    enum class BlockWait { Ready, TimedOut, Stopped, CountUnavailable };

    // Configuration and tasks.
    OperationResult configure(const OperationParams& params, const std::string& requestId);
    OperationResult queryDeviceInfo(const OperationParams& params,
                                    const std::string& requestId) const;
    std::optional<std::string> buildTasks();
    void clearTasks() noexcept;
    void reportSampleClock();
    /// Makes the input buffer of a continuous task hold at least two blocks.
    std::optional<std::string> sizeInputBuffer();
    AcquisitionConfig settingsSnapshot() const;

    // Reads.
    OperationResult readFinite(const OperationParams& params, const std::string& requestId);
    OperationResult readSingle(const OperationParams& params, const std::string& requestId) const;
    std::optional<std::string> finiteReadRefusal(const AcquisitionConfig& config) const;

    // Streaming.
    OperationResult startStream(const std::string& requestId);
    OperationResult stopStream(const std::string& requestId);
    bool onStreamThread() const;
    void joinStreamThread();
    void requestStop();
    /// Sleeps up to `pause` on the stream thread; true when a stop was requested.
    bool pauseUnlessStopped(std::chrono::nanoseconds pause);
    BlockWait waitForBlock(const StreamPlan& plan, double& samplesPerSecond);
    void streamLoop(StreamPlan plan) noexcept;
    void runStream(const StreamPlan& plan);
    void emitFrame(const StreamPlan& plan, const std::vector<double>& samples,
                   std::int32_t sampleCount, const std::vector<bool>& digitalLines,
                   DeviceState& envelope, NumberTextCache& numberTexts);
    /// The one Error record that ends a stream; `status` is the driver's, when it failed.
    void endStreamWithError(const std::string& message, std::optional<int32> status = {});
    /// Calls every subscriber with `state`, each in isolation, then applies the
    /// subscription changes its callbacks asked for.
    void deliver(const DeviceState& state);
    void noteSubscriberFailure(std::uint64_t id, const char* what);
    void reportRepeatedSubscriberFailures();

    AcquisitionConfig settings;  // written under taskMutex and settingsMutex
    std::atomic<bool> configured{false};
    std::uint64_t aiChannelCount = 0;   // taskMutex
    double achievedSampleRateHz = 0.0;  // taskMutex
    // Samples per channel the driver buffers for a continuous task.
    std::optional<std::uint64_t> inputBufferSamplesPerChannel;  // taskMutex
    ChannelReadback channelReadback;                            // taskMutex
    DriverTask aiTask;                                          // taskMutex
    DriverTask diTask;                                          // taskMutex
    std::uint64_t diLineCount = 0;                              // taskMutex
    std::atomic<bool> streaming{false};
    std::atomic<bool> stopRequested{false};
    std::thread streamThread;  // lifecycleMutex
    /// The text of values the streams wrote, for the stream thread alone. A
    /// value's text never changes, so one table serves every stream.
    std::unique_ptr<NumberTextCache> numberTextCache;  // made under lifecycleMutex
    std::atomic<std::thread::id> streamThreadId{};
    std::mutex subscribersMutex;
    std::unordered_map<std::uint64_t, IDeviceStub::StateCallback> subscribers;
    // Subscription changes made by callbacks, applied when their delivery ends
    // (an empty callback is a removal), and the ids removed meanwhile, which
    // get nothing more. Stream thread, under subscribersMutex.
    std::vector<std::pair<std::uint64_t, IDeviceStub::StateCallback>> queuedSubscriptionChanges;
    std::unordered_set<std::uint64_t> removedDuringDelivery;
    // Throws per subscriber in the current stream. Stream thread only.
    std::unordered_map<std::uint64_t, std::uint64_t> subscriberThrows;
    std::mutex taskMutex;
    std::atomic<std::uint64_t> sequenceCounter{0};
    std::mutex lifecycleMutex;
    mutable std::mutex settingsMutex;
    std::mutex stopMutex;
    std::condition_variable stopSignal;
};

}  // namespace kra::device::stubs
