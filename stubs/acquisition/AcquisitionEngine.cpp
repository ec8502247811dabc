#include "stubs/acquisition/AcquisitionEngine.h"

#include <utility>

#include <nlohmann/json.hpp>

#include "stubs/DeviceQueries.h"
#include "stubs/TextFormat.h"
#include "stubs/acquisition/RequestParams.h"

namespace kra::device::stubs {

AcquisitionEngine::AcquisitionEngine() = default;

AcquisitionEngine::~AcquisitionEngine() {
    stopStreaming();
    if (streamThread.joinable()) {
        // Only reachable if the stop above could not take its lock.
        requestStop();
        streamThread.join();
    }
    std::lock_guard lock(taskMutex);
    clearTasks();
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

    if (auto failure = buildTasks()) {
        configured = false;
        return makeErrorResult(std::move(*failure), requestId);
    }
    configured = true;

    const double requested = settings.sample_clock_rate_hz;
    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    result.data["ai_channels"] = settings.ai_channels;
    result.data["n_channels"] = std::to_string(aiChannelCount);
    result.data["sample_rate_hz"] = formatFixed(sampleRateInUse(settings, achievedSampleRateHz));
    result.data["requested_sample_rate_hz"] = formatFixed(requested);
    result.data["achieved_sample_rate_hz"] = formatFixed(achievedSampleRateHz);
    result.data["sample_mode"] = settings.sample_mode;
    result.data["samples_per_channel"] = std::to_string(settings.samples_per_channel);
    result.data["achieved_sample_rate_hz_exact"] = exactNumberText(achievedSampleRateHz);
    if (inputBufferSamplesPerChannel) {
        result.data["input_buffer_samples_per_channel"] =
            std::to_string(*inputBufferSamplesPerChannel);
    }
    if (channelReadback.channelsJson) {
        result.data["ai_physical_channels"] = *channelReadback.channelsJson;
    }
    if (channelReadback.rangesJson) {
        result.data["ai_voltage_ranges_v"] = *channelReadback.rangesJson;
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
    try {
        result.data["info"] = document.dump();
    } catch (const nlohmann::json::type_error& error) {
        // Texts that came from the driver itself.
        return makeErrorResult(std::string("Invalid device information: ") + error.what(),
                               requestId);
    }
    result.success = true;
    result.requestId = requestId;
    return result;
}

}  // namespace kra::device::stubs
