#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>
#include <vector>

#include "stubs/Clocks.h"
#include "stubs/Logging.h"
#include "stubs/acquisition/AcquisitionEngine.h"
#include "stubs/acquisition/SampleFrame.h"

namespace kra::device::stubs {

namespace {

/// Read statuses that mean "not now" rather than "broken": retried after a
/// short pause, up to kMaxTransientRetries times in a row.
constexpr std::array<int32, 6> kTransientStatuses{
    DAQmxErrorSamplesNotYetAvailable,
    DAQmxErrorSamplesNoLongerAvailable,
    DAQmxErrorSamplesWillNeverBeAvailable,
    DAQmxErrorPALResourceReserved,
    -200560,
    -200361,
};
constexpr int kMaxTransientRetries = 10;
constexpr auto kTransientPause = std::chrono::milliseconds(10);

bool isTransient(int32 status) {
    return std::find(kTransientStatuses.begin(), kTransientStatuses.end(), status) !=
           kTransientStatuses.end();
}

OperationResult streamingResult(const std::string& requestId, bool streaming) {
    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    result.data["streaming"] = streaming ? "true" : "false";
    return result;
}

OperationResult alreadyStreamingResult(const std::string& requestId) {
    OperationResult result = streamingResult(requestId, true);
    result.data["note"] = "already_streaming";
    return result;
}

[[noreturn]] void throwDeadlock() {
    throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
}

/// One digital sample per line into `bits`; `bits` stays empty when there is
/// no digital task or the read fails or delivers nothing.
void takeDigitalSnapshot(TaskHandle task, double timeoutS, std::vector<uInt8>& bytes,
                         std::vector<bool>& bits) {
    bits.clear();
    if (bytes.empty()) {
        return;
    }
    std::fill(bytes.begin(), bytes.end(), uInt8{0});
    int32 read = 0;
    int32 bytesPerSample = 0;
    const int32 status =
        DAQmxReadDigitalLines(task, 1, timeoutS, DAQmx_Val_GroupByChannel, bytes.data(),
                              static_cast<uInt32>(bytes.size()), &read, &bytesPerSample, nullptr);
    if (status != 0 || read < 1) {
        return;
    }
    for (const uInt8 byte : bytes) {
        bits.push_back(byte != 0);
    }
}

}  // namespace

SubscriptionHandle AcquisitionEngine::addSubscriber(const std::string& topic,
                                                    IDeviceStub::StateCallback callback,
                                                    std::uint64_t id) {
    if (topic != "stream" || !callback) {
        return SubscriptionHandle{0, 1};
    }
    // Only a callback runs on the stream thread, and it runs with the lock held.
    if (onStreamThread()) {
        throwDeadlock();
    }
    std::lock_guard lock(subscribersMutex);
    subscribers.insert_or_assign(id, std::move(callback));
    return SubscriptionHandle{id, 1};
}

void AcquisitionEngine::removeSubscriber(std::uint64_t id) {
    if (onStreamThread()) {
        throwDeadlock();
    }
    std::lock_guard lock(subscribersMutex);
    subscribers.erase(id);
}

bool AcquisitionEngine::onStreamThread() const {
    return streamThreadId.load() == std::this_thread::get_id();
}

OperationResult AcquisitionEngine::startStream(const std::string& requestId) {
    if (!configured) {
        return makeErrorResult(std::string(kNotConfigured), requestId);
    }
    // A callback asking for a start: its stream is running by definition, and
    // waiting for the locks could wait for a stop that is joining this thread.
    if (onStreamThread()) {
        return alreadyStreamingResult(requestId);
    }
    std::lock_guard lifecycle(lifecycleMutex);
    std::lock_guard lock(taskMutex);
    if (!configured) {
        return makeErrorResult(std::string(kNotConfigured), requestId);
    }
    if (streaming) {
        return alreadyStreamingResult(requestId);
    }

    if (DriverStatus started = aiTask.start(); !started.ok()) {
        return makeErrorResult("DAQmxStartTask failed: " + started.text, requestId);
    }
    if (diTask && !diTask.start().ok()) {
        // The stream goes on without digital snapshots until the next configure.
        diTask.clear();
        diLineCount = 0;
    }

    const bool previousStopRequest = stopRequested.exchange(false);
    streaming = true;
    sequenceCounter = 0;
    const StreamPlan plan{aiTask.get(),
                          diTask.get(),
                          aiChannelCount,
                          diLineCount,
                          settings.samples_per_channel,
                          settings.read_timeout_s};
    try {
        streamThread = std::thread([this, plan] { streamLoop(plan); });
    } catch (const std::system_error& error) {
        aiTask.stop();
        diTask.stop();
        streaming = false;
        stopRequested = previousStopRequest;
        return makeErrorResult(std::string("Failed to start stream thread: ") + error.what(),
                               requestId);
    }
    return streamingResult(requestId, true);
}

OperationResult AcquisitionEngine::stopStream(const std::string& requestId) {
    if (!streaming) {
        return streamingResult(requestId, false);
    }
    if (onStreamThread()) {
        // The thread cannot join itself; it ends after the current delivery.
        stopRequested = true;
        throwDeadlock();
    }
    std::lock_guard lifecycle(lifecycleMutex);
    // A concurrent stop (the host's and a disconnect's) may have done the work.
    if (streaming) {
        stopRequested = true;
        joinStreamThread();
        std::lock_guard lock(taskMutex);
        aiTask.stop();
        diTask.stop();
        streaming = false;
    }
    return streamingResult(requestId, false);
}

void AcquisitionEngine::stopStreaming() noexcept {
    try {
        (void)stopStream("");
    } catch (...) {
        // Teardown goes on; the destructor joins whatever is left.
    }
}

void AcquisitionEngine::joinStreamThread() {
    if (streamThread.joinable()) {
        streamThread.join();
    }
    streamThreadId = std::thread::id{};
}

void AcquisitionEngine::streamLoop(StreamPlan plan) noexcept {
    streamThreadId = std::this_thread::get_id();
    // Whatever escapes (memory, a throwing callback) ends the stream the way a
    // driver failure does, instead of terminating the host.
    auto fail = [this](const char* reason) noexcept {
        if (stopRequested) {
            return;
        }
        try {
            endStreamWithError(std::string("Streaming stopped: ") + reason);
        } catch (...) {
            // Nothing is left to report with.
        }
    };
    try {
        runStream(plan);
    } catch (const std::exception& error) {
        fail(error.what());
    } catch (...) {
        fail("unknown exception");
    }
}

void AcquisitionEngine::runStream(const StreamPlan& plan) {
    // Everything the loop needs is allocated here, once: per block the driver
    // fills these buffers and the frame text is rewritten in place.
    std::vector<double> block(
        static_cast<std::size_t>(plan.samplesPerChannel) * plan.aiChannelCount, 0.0);
    const bool digital = plan.diTask != nullptr && plan.diLineCount > 0;
    std::vector<uInt8> lineBytes(digital ? plan.diLineCount : 0);
    std::vector<bool> lineBits;
    lineBits.reserve(lineBytes.size());
    DeviceState envelope;
    envelope.code = DeviceStateCode::Connected;
    envelope.stateName = "streaming";
    envelope.message = "frame";
    envelope.properties["frame"];

    int transientErrors = 0;
    while (!stopRequested) {
        int32 read = 0;
        const DriverStatus status = checkDriver(
            DAQmxReadAnalogF64(plan.aiTask, plan.samplesPerChannel, plan.readTimeoutS,
                               DAQmx_Val_GroupByChannel, block.empty() ? nullptr : block.data(),
                               static_cast<uInt32>(block.size()), &read, nullptr));
        if (status.ok()) {
            transientErrors = 0;
            if (read < 1) {
                continue;
            }
            takeDigitalSnapshot(plan.diTask, plan.readTimeoutS, lineBytes, lineBits);
            emitFrame(plan, block, std::min(read, plan.samplesPerChannel), lineBits, envelope);
            continue;
        }
        if (stopRequested) {
            return;
        }
        const bool transient = isTransient(status.code);
        if (transient && transientErrors < kMaxTransientRetries) {
            if (status.code == DAQmxErrorSamplesNoLongerAvailable) {
                logWarn("AcquisitionEngine: samples lost ({}), continuing", status.text);
            }
            std::this_thread::sleep_for(kTransientPause);
            ++transientErrors;
            continue;
        }
        endStreamWithError((transient ? "Streaming stopped: too many transient DAQmx errors. "
                                      : "Streaming stopped: ") +
                           status.text);
        return;
    }
}

void AcquisitionEngine::emitFrame(const StreamPlan& plan, const std::vector<double>& samples,
                                  std::int32_t sampleCount, const std::vector<bool>& digitalLines,
                                  DeviceState& envelope) {
    SampleFrameView frame;
    frame.sequenceNo = sequenceCounter.fetch_add(1) + 1;
    frame.timestampNs = wallClockNs100();
    frame.sampleCount = sampleCount;
    frame.channelCount = plan.aiChannelCount;
    frame.samples = samples.data();
    frame.sampleBufferSize = samples.size();
    frame.digitalLines = &digitalLines;
    writeFrameText(frame, envelope.properties["frame"]);
    envelope.timestampNs = static_cast<std::uint64_t>(steadyClockNs());

    std::lock_guard lock(subscribersMutex);
    for (const auto& [id, callback] : subscribers) {
        if (callback) {
            callback(envelope);
        }
    }
}

void AcquisitionEngine::endStreamWithError(const std::string& message) {
    logError("{}", message);
    DeviceState record;
    record.code = DeviceStateCode::Error;
    record.stateName = "error";
    record.message = message;
    record.timestampNs = static_cast<std::uint64_t>(steadyClockNs());

    std::lock_guard lock(subscribersMutex);
    for (const auto& [id, callback] : subscribers) {
        if (!callback) {
            continue;
        }
        try {
            callback(record);
        } catch (...) {
            // Every subscriber hears of the end, even if one of them throws.
        }
    }
}

}  // namespace kra::device::stubs
