#include "stubs/acquisition/AcquisitionEngine.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "stubs/DeviceQueries.h"
#include "stubs/TextFormat.h"
#include "stubs/acquisition/RequestParams.h"

namespace kra::device::stubs {

namespace {

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

}  // namespace

AcquisitionEngine::~AcquisitionEngine() {
    // Whatever this leaves running, `stream` joins before the rest goes.
    stopStreaming();
}

OperationResult AcquisitionEngine::executeAnalogInputOperation(const std::string& operation,
                                                               const OperationParams& params,
                                                               const std::string& requestId) {
    if (operation == "query") {
        return queryDeviceInfo(params, requestId);
    }
    if (operation == "configure") {
        return configure(params, requestId);
    }
    if (operation == "start_stream") {
        return startStream(requestId);
    }
    if (operation == "stop_stream") {
        return stopStream(requestId);
    }
    if (operation == "read_finite") {
        return readFinite(params, requestId);
    }
    if (operation == "read_single") {
        return readSingle(params, requestId);
    }
    return makeErrorResult("Unsupported analog_input operation: " + operation, requestId);
}

AcquisitionConfig AcquisitionEngine::settingsSnapshot() const {
    std::lock_guard lock(settingsMutex);
    return settings;
}

OperationResult AcquisitionEngine::configure(const OperationParams& params,
                                             const std::string& requestId) {
    static const std::string kWhileStreaming =
        "Cannot configure while streaming. Call stop_stream first.";
    if (streaming) {
        return makeErrorResult(kWhileStreaming, requestId);
    }
    std::lock_guard lock(taskMutex);
    // A start may have taken the lock between the test above and here; tasks
    // must never be rebuilt under a running stream.
    if (streaming) {
        return makeErrorResult(kWhileStreaming, requestId);
    }

    AcquisitionConfig next = settings;
    if (auto invalid = mergeConfigureParams(next, params)) {
        return makeErrorResult(std::move(*invalid), requestId);
    }
    {
        std::lock_guard settingsLock(settingsMutex);
        settings = std::move(next);
    }

    if (auto failure = tasks.build(settings)) {
        configured = false;
        return makeErrorResult(std::move(*failure), requestId);
    }
    configured = true;

    const double requested = settings.sample_clock_rate_hz;
    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    result.data["ai_channels"] = settings.ai_channels;
    result.data["n_channels"] = std::to_string(tasks.aiChannelCount);
    result.data["sample_rate_hz"] =
        formatFixed(sampleRateInUse(settings, tasks.achievedSampleRateHz));
    result.data["requested_sample_rate_hz"] = formatFixed(requested);
    result.data["achieved_sample_rate_hz"] = formatFixed(tasks.achievedSampleRateHz);
    result.data["sample_mode"] = settings.sample_mode;
    result.data["samples_per_channel"] = std::to_string(settings.samples_per_channel);
    result.data["achieved_sample_rate_hz_exact"] = exactNumberText(tasks.achievedSampleRateHz);
    if (tasks.inputBufferSamplesPerChannel) {
        result.data["input_buffer_samples_per_channel"] =
            std::to_string(*tasks.inputBufferSamplesPerChannel);
    }
    if (tasks.channelReadback.channelsJson) {
        result.data["ai_physical_channels"] = *tasks.channelReadback.channelsJson;
    }
    if (tasks.channelReadback.rangesJson) {
        result.data["ai_voltage_ranges_v"] = *tasks.channelReadback.rangesJson;
    }
    if (tasks.triggers.startJson) {
        result.data["start_trigger"] = *tasks.triggers.startJson;
    }
    if (tasks.triggers.referenceJson) {
        result.data["reference_trigger"] = *tasks.triggers.referenceJson;
    }
    return result;
}

OperationResult AcquisitionEngine::queryDeviceInfo(const OperationParams& params,
                                                   const std::string& requestId) const {
    std::string storedName;
    {
        std::lock_guard lock(settingsMutex);
        storedName = settings.device_name;
    }
    const std::string deviceName = getStringParam(params, "device_name", storedName);
    const std::string channel = getStringParam(params, "channel", "");
    // The JSON writer throws on malformed UTF-8; name the culprit instead.
    if (!isValidUtf8(deviceName)) {
        return makeErrorResult("Invalid device_name: not valid UTF-8", requestId);
    }
    if (!isValidUtf8(channel)) {
        return makeErrorResult("Invalid channel: not valid UTF-8", requestId);
    }

    const nlohmann::json document = queryDeviceDocument(deviceName, channel);
    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    try {
        result.data["info"] = document.dump();
    } catch (const nlohmann::json::type_error& error) {
        // Texts that came from the driver itself.
        return makeErrorResult(std::string("Invalid device information: ") + error.what(),
                               requestId);
    }
    return result;
}

SubscriptionHandle AcquisitionEngine::addSubscriber(const std::string& topic,
                                                    IDeviceStub::StateCallback callback,
                                                    std::uint64_t id) {
    const std::optional<StreamTopic> served = streamTopicNamed(topic);
    if (!served || !callback) {
        return SubscriptionHandle{0, 1};
    }
    subscribers.add(id, *served, std::move(callback));
    return SubscriptionHandle{id, 1};
}

OperationResult AcquisitionEngine::startStream(const std::string& requestId) {
    if (!configured) {
        return makeErrorResult(std::string(kNotConfigured), requestId);
    }
    // A callback asking for a start: its stream is running by definition, and
    // waiting for the locks could wait for a stop that is joining its thread.
    if (subscribers.calledFromCallback()) {
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

    if (DriverStatus started = tasks.aiTask.start(); !started.ok()) {
        return makeErrorResult("DAQmxStartTask failed: " + started.text, requestId);
    }
    if (tasks.diTask && !tasks.diTask.start().ok()) {
        // The stream goes on without digital snapshots until the next configure.
        tasks.diTask.clear();
        tasks.diLineCount = 0;
    }

    streaming = true;
    const auto finiteSamples =
        static_cast<std::uint64_t>(std::max(settings.samples_per_channel, 1));
    const StreamPlan plan{tasks.aiTask.get(), tasks.diTask.get(), tasks.aiChannelCount,
                          tasks.diLineCount, settings.samples_per_channel, settings.read_timeout_s,
                          // frames are timed at it
                          sampleRateInUse(settings, tasks.achievedSampleRateHz),
                          settings.sample_mode != "ON_DEMAND",
                          settings.sample_mode == "FINITE" ? finiteSamples : 0, tasks.triggered};
    if (auto failure = stream.start(plan)) {
        tasks.aiTask.stop();
        tasks.diTask.stop();
        streaming = false;
        return makeErrorResult(std::move(*failure), requestId);
    }
    return streamingResult(requestId, true);
}

OperationResult AcquisitionEngine::stopStream(const std::string& requestId) {
    if (!streaming) {
        return streamingResult(requestId, false);
    }
    if (subscribers.calledFromCallback()) {
        // The thread cannot join itself; it ends after the current delivery.
        stream.requestStop();
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
    std::lock_guard lifecycle(lifecycleMutex);
    // A concurrent stop (the host's and a disconnect's) may have done the work.
    if (streaming) {
        stream.requestStop();
        stream.join();
        std::lock_guard lock(taskMutex);
        tasks.aiTask.stop();
        tasks.diTask.stop();
        streaming = false;
    }
    return streamingResult(requestId, false);
}

void AcquisitionEngine::stopStreaming() noexcept {
    try {
        (void)stopStream("");
    } catch (...) {
        // Teardown goes on; the stream object joins whatever is left.
    }
}

}  // namespace kra::device::stubs
