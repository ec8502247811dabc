#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "device/DeviceRecords.h"
#include "device/IDeviceStub.h"
#include "stubs/acquisition/AcquisitionConfig.h"
#include "stubs/acquisition/StreamLoop.h"
#include "stubs/acquisition/SubscriberRegistry.h"
#include "stubs/acquisition/TaskSet.h"

namespace kra::device::stubs {

/// The object behind the feature "analog_input": it stores the settings and
/// answers the operations, with the tasks, the subscribers and the stream
/// thread each kept by an object of its own.
///
/// Locks, always taken in this order and never the other way round:
/// `lifecycleMutex` (the whole of a stream start or stop, join included),
/// `taskMutex` (every use of `tasks` from a host thread), `settingsMutex` (a
/// leaf, held only to copy or assign the settings). The stream thread takes
/// only the locks of `subscribers` and `stream`.
class AcquisitionEngine {
public:
    AcquisitionEngine() = default;
    ~AcquisitionEngine();

    AcquisitionEngine(const AcquisitionEngine&) = delete;
    AcquisitionEngine& operator=(const AcquisitionEngine&) = delete;

    /// Runs one "analog_input" operation; expected failures come back in the result.
    OperationResult executeAnalogInputOperation(const std::string& operation,
                                                const OperationParams& params,
                                                const std::string& requestId);

    /// Registers a "stream" or "stream_binary" subscriber under `id`; id 0 in
    /// the handle means refused.
    SubscriptionHandle addSubscriber(const std::string& topic, IDeviceStub::StateCallback callback,
                                     std::uint64_t id);
    void removeSubscriber(std::uint64_t id) { subscribers.remove(id); }

    /// Ends a running stream (thread joined, tasks stopped). Never throws.
    void stopStreaming() noexcept;

private:
    /// Refusal of "read_finite" and "start_stream" before a successful configure.
    static constexpr std::string_view kNotConfigured = "Not configured. Call configure first.";

    OperationResult configure(const OperationParams& params, const std::string& requestId);
    OperationResult queryDeviceInfo(const OperationParams& params,
                                    const std::string& requestId) const;
    AcquisitionConfig settingsSnapshot() const;

    OperationResult readFinite(const OperationParams& params, const std::string& requestId);
    OperationResult readSingle(const OperationParams& params, const std::string& requestId) const;
    std::optional<std::string> finiteReadRefusal(const AcquisitionConfig& config) const;

    OperationResult startStream(const std::string& requestId);
    OperationResult stopStream(const std::string& requestId);

    // Declared so that the stream thread, whose callbacks may call back in,
    // is joined before anything else goes.
    std::mutex lifecycleMutex;
    std::mutex taskMutex;
    mutable std::mutex settingsMutex;
    AcquisitionConfig settings;  // written under taskMutex and settingsMutex
    std::atomic<bool> configured{false};
    std::atomic<bool> streaming{false};
    TaskSet tasks;  // taskMutex
    SubscriberRegistry subscribers;
    StreamLoop stream{subscribers};  // started and stopped under lifecycleMutex
};

}  // namespace kra::device::stubs
