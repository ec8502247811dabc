#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "daqmx/NIDAQmx.h"
#include "device/DeviceRecords.h"
#include "device/IDeviceStub.h"
#include "stubs/acquisition/AcquisitionConfig.h"
#include "stubs/acquisition/DriverTask.h"

namespace kra::device::stubs {

/// The object behind the feature "analog_input": stored settings, the driver
/// tasks built from them, finite and single-point reads, and streaming.
///
/// Locks, always taken in this order and never the other way round:
/// `lifecycleMutex` (the whole of a stream start or stop, join included),
/// `taskMutex` (every use of the tasks and their counts from a host thread),
/// `settingsMutex` (a leaf, held only to copy or assign the settings). The
/// stream thread takes only `subscribersMutex`, and no other lock is held
/// together with that one.
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
    };

    // Configuration and tasks.
    OperationResult configure(const OperationParams& params, const std::string& requestId);
    OperationResult queryDeviceInfo(const OperationParams& params,
                                    const std::string& requestId) const;
    std::optional<std::string> buildTasks();
    void clearTasks() noexcept;
    void reportSampleClock();
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
    void streamLoop(StreamPlan plan) noexcept;
    void runStream(const StreamPlan& plan);
    void emitFrame(const StreamPlan& plan, const std::vector<double>& samples,
                   std::int32_t sampleCount, const std::vector<bool>& digitalLines,
                   DeviceState& envelope);
    void endStreamWithError(const std::string& message);

    AcquisitionConfig settings;  // written under taskMutex and settingsMutex
    std::atomic<bool> configured{false};
    std::uint64_t aiChannelCount = 0;   // taskMutex
    double achievedSampleRateHz = 0.0;  // taskMutex
    DriverTask aiTask;                  // taskMutex
    DriverTask diTask;                  // taskMutex
    std::uint64_t diLineCount = 0;      // taskMutex
    std::atomic<bool> streaming{false};
    std::atomic<bool> stopRequested{false};
    std::thread streamThread;  // lifecycleMutex
    std::atomic<std::thread::id> streamThreadId{};
    std::mutex subscribersMutex;
    std::unordered_map<std::uint64_t, IDeviceStub::StateCallback> subscribers;
    std::mutex taskMutex;
    std::atomic<std::uint64_t> sequenceCounter{0};
    std::mutex lifecycleMutex;
    mutable std::mutex settingsMutex;
};

}  // namespace kra::device::stubs
