#include <algorithm>
#include <exception>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/FrameKeys.h"
#include "stubs/Clocks.h"
#include "stubs/acquisition/AcquisitionEngine.h"
#include "stubs/acquisition/RequestParams.h"
#include "stubs/acquisition/SampleFrame.h"
#include "stubs/acquisition/TerminalConfig.h"

namespace kra::device::stubs {

namespace {

/// A zero-filled buffer, or nothing when memory is short: a read that cannot
/// get its buffer fails the request instead of the host.
std::optional<std::vector<double>> allocateSamples(std::size_t count) {
    try {
        return std::vector<double>(count, 0.0);
    } catch (const std::exception&) {  // too large (std::length_error) or std::bad_alloc
        return std::nullopt;
    }
}

std::string allocationFailure(std::size_t count) {
    return "Failed to allocate a buffer of " + std::to_string(count) + " samples";
}

}  // namespace

std::optional<std::string> AcquisitionEngine::finiteReadRefusal(
    const AcquisitionConfig& config) const {
    if (streaming) {
        return "Cannot read_finite while streaming. Call stop_stream first.";
    }
    if (!configured) {
        return std::string(kNotConfigured);
    }
    if (config.sample_mode != "FINITE") {
        return "read_finite requires sample_mode=FINITE";
    }
    return std::nullopt;
}

OperationResult AcquisitionEngine::readFinite(const OperationParams& params,
                                              const std::string& requestId) {
    if (auto refusal = finiteReadRefusal(settingsSnapshot())) {
        return makeErrorResult(std::move(*refusal), requestId);
    }
    std::lock_guard lock(taskMutex);
    // Again under the lock: a start or a configure may have run in between.
    if (auto refusal = finiteReadRefusal(settings)) {
        return makeErrorResult(std::move(*refusal), requestId);
    }

    const std::int32_t count =
        getIntParam(params, "samples_per_channel", settings.samples_per_channel);
    if (auto invalid = checkSamplesPerChannel(count)) {
        return makeErrorResult(std::move(*invalid), requestId);
    }
    const auto perChannel = static_cast<std::uint64_t>(count);
    if (auto tooLarge = checkBlockSize(perChannel, tasks.aiChannelCount)) {
        return makeErrorResult(std::move(*tooLarge), requestId);
    }
    const auto bufferSize = static_cast<std::size_t>(perChannel * tasks.aiChannelCount);
    auto buffer = allocateSamples(bufferSize);
    if (!buffer) {
        return makeErrorResult(allocationFailure(bufferSize), requestId);
    }

    if (DriverStatus started = tasks.aiTask.start(); !started.ok()) {
        return makeErrorResult("DAQmxStartTask failed: " + started.text, requestId);
    }
    int32 read = 0;
    const DriverStatus status = checkDriver(
        DAQmxReadAnalogF64(tasks.aiTask.get(), count, settings.read_timeout_s,
                           DAQmx_Val_GroupByChannel, buffer->empty() ? nullptr : buffer->data(),
                           static_cast<uInt32>(buffer->size()), &read, nullptr));
    const std::int64_t timestampNs = wallClockNs100();
    tasks.aiTask.stop();
    if (!status.ok()) {
        return makeErrorResult("DAQmxReadAnalogF64 failed: " + status.text, requestId);
    }

    SampleFrameView frame;
    frame.sequenceNo = 0;
    frame.timestampNs = timestampNs;
    // A driver that reports more than it was asked for must not make the
    // frame read past the buffer.
    frame.sampleCount = std::min(read, count);
    frame.channelCount = tasks.aiChannelCount;
    frame.samples = buffer->data();
    frame.sampleBufferSize = buffer->size();

    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    writeFrameText(frame, tasks.pretriggerSamples, result.data[std::string(frame::kFrameProperty)]);
    return result;
}

OperationResult AcquisitionEngine::readSingle(const OperationParams& params,
                                              const std::string& requestId) const {
    const AcquisitionConfig stored = settingsSnapshot();
    const std::string channels = getStringParam(params, "ai_channels", stored.ai_channels);
    const double minimum = getDoubleParam(params, "voltage_range_min", stored.voltage_range_min);
    const double maximum = getDoubleParam(params, "voltage_range_max", stored.voltage_range_max);
    const std::string terminal = getStringParam(params, "terminal_config", stored.terminal_config);
    const double timeout = getDoubleParam(params, "read_timeout_s", stored.read_timeout_s);

    // A task of its own, cleared (never stopped) on every path once created.
    DriverTask task;
    if (DriverStatus created = task.create(); !created.ok()) {
        return makeErrorResult("DAQmxCreateTask failed: " + created.text, requestId);
    }
    if (DriverStatus added = checkDriver(DAQmxCreateAIVoltageChan(
            task.get(), channels.c_str(), "", parseTerminalConfig(terminal), minimum, maximum,
            DAQmx_Val_Volts, nullptr));
        !added.ok()) {
        task.clear();
        return makeErrorResult("Add channel failed: " + added.text, requestId);
    }
    uInt32 channelCount = 0;
    (void)DAQmxGetTaskNumChans(task.get(), &channelCount);
    if (auto tooLarge = checkBlockSize(1, channelCount)) {
        task.clear();
        return makeErrorResult(std::move(*tooLarge), requestId);
    }
    const std::size_t bufferSize = std::max<std::size_t>(channelCount, 1);
    auto buffer = allocateSamples(bufferSize);
    if (!buffer) {
        task.clear();
        return makeErrorResult(allocationFailure(bufferSize), requestId);
    }

    int32 read = 0;
    const DriverStatus status = checkDriver(
        DAQmxReadAnalogF64(task.get(), 1, timeout, DAQmx_Val_GroupByChannel, buffer->data(),
                           static_cast<uInt32>(buffer->size()), &read, nullptr));
    const std::int64_t timestampNs = wallClockNs100();
    task.clear();
    if (!status.ok()) {
        return makeErrorResult("DAQmxReadAnalogF64 (single) failed: " + status.text, requestId);
    }

    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    result.data["samples"] =
        nlohmann::json(std::vector<double>(buffer->begin(), buffer->begin() + channelCount)).dump();
    result.data["n_channels"] = std::to_string(channelCount);
    result.data["timestamp_ns"] = std::to_string(timestampNs);
    return result;
}

}  // namespace kra::device::stubs
