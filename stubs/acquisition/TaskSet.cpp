#include "stubs/acquisition/TaskSet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "stubs/Logging.h"
#include "stubs/TextFormat.h"
#include "stubs/acquisition/TerminalConfig.h"

namespace kra::device::stubs {

namespace {

/// Relative drift above which the granted rate is flagged as coerced.
constexpr double kCoercionThreshold = 0.005;

}  // namespace

void TaskSet::clear() noexcept {
    aiTask.reset();
    diTask.reset();
    aiChannelCount = 0;
    diLineCount = 0;
    inputBufferSamplesPerChannel.reset();
    channelReadback = {};
    triggers = {};
    triggered = false;
    pretriggerSamples.reset();
}

std::optional<std::string> TaskSet::build(const AcquisitionConfig& settings) {
    clear();

    // Every failure after the analogue task exists leaves nothing behind.
    auto fail = [this](std::string message) {
        clear();
        return std::optional<std::string>(std::move(message));
    };

    if (DriverStatus status = aiTask.create(); !status.ok()) {
        return std::move(status.text);
    }

    if (DriverStatus status = checkDriver(DAQmxCreateAIVoltageChan(
            aiTask.get(), settings.ai_channels.c_str(), "",
            parseTerminalConfig(settings.terminal_config), settings.voltage_range_min,
            settings.voltage_range_max, DAQmx_Val_Volts, nullptr));
        !status.ok()) {
        return fail("Failed to add AI voltage channel: " + status.text);
    }

    if (settings.sample_mode == "ON_DEMAND") {
        achievedSampleRateHz = 0.0;
    } else {
        const int32 mode =
            settings.sample_mode == "FINITE" ? DAQmx_Val_FiniteSamps : DAQmx_Val_ContSamps;
        const int32 edge =
            settings.sample_clock_active_edge == "FALLING" ? DAQmx_Val_Falling : DAQmx_Val_Rising;
        const char* source =
            settings.sample_clock_source.empty() ? nullptr : settings.sample_clock_source.c_str();
        const auto samples =
            static_cast<uInt64>(static_cast<std::int64_t>(settings.samples_per_channel));
        if (DriverStatus status = checkDriver(DAQmxCfgSampClkTiming(
                aiTask.get(), source, settings.sample_clock_rate_hz, edge, mode, samples));
            !status.ok()) {
            return fail("Failed to configure sample clock: " + status.text);
        }
        reportSampleClock(settings.sample_clock_rate_hz);
        if (mode == DAQmx_Val_ContSamps) {
            if (auto failure = sizeInputBuffer(settings.samples_per_channel)) {
                return fail(std::move(*failure));
            }
        }
    }

    // Triggers and exports refer to the sample clock, so they come after it.
    if (auto failure = configureTriggers(aiTask.get(), settings)) {
        return fail(std::move(*failure));
    }

    uInt32 channels = 0;
    if (DriverStatus status = checkDriver(DAQmxGetTaskNumChans(aiTask.get(), &channels));
        !status.ok()) {
        return fail("Failed to query task channel count: " + status.text);
    }
    aiChannelCount = channels;
    diLineCount = 0;
    channelReadback = readBackChannels(aiTask.get(), channels);
    triggers = readBackTriggers(aiTask.get(), settings);
    triggered = hasStartTrigger(settings) || hasReferenceTrigger(settings);
    if (hasReferenceTrigger(settings)) {
        pretriggerSamples = static_cast<std::uint32_t>(settings.pretrigger_samples);
    }

    // The reads and the stream size one buffer by this product: refuse it now
    // rather than let an allocation take the host process down later.
    if (auto tooLarge = checkBlockSize(static_cast<std::uint64_t>(settings.samples_per_channel),
                                       aiChannelCount)) {
        return fail(std::move(*tooLarge));
    }

    if (settings.digital_input_lines.empty()) {
        return std::nullopt;
    }
    if (DriverStatus status = diTask.create(); !status.ok()) {
        return fail("Failed to create DI task: " + status.text);
    }
    if (DriverStatus status = checkDriver(DAQmxCreateDIChan(
            diTask.get(), settings.digital_input_lines.c_str(), "", DAQmx_Val_ChanPerLine));
        !status.ok()) {
        return fail("Failed to add DI channels (" + settings.digital_input_lines +
                    "): " + status.text);
    }
    uInt32 lines = 0;
    if (DAQmxGetTaskNumChans(diTask.get(), &lines) == 0) {
        diLineCount = lines;
    }
    if (diLineCount > kMaxBlockSamples) {
        return fail("Too many digital lines: " + std::to_string(diLineCount) +
                    " exceeds the limit of " + std::to_string(kMaxBlockSamples));
    }
    return std::nullopt;
}

std::optional<std::string> TaskSet::sizeInputBuffer(std::int32_t samplesPerChannel) {
    // One block in the buffer means the next block overwrites it while the
    // stream is still handing the last one over: a reader that is late by
    // any amount loses the acquisition. Two blocks give it a block's time.
    const auto wanted = 2 * static_cast<std::uint64_t>(std::max(samplesPerChannel, 1));
    uInt32 size = 0;
    if (const int32 status = DAQmxGetBufInputBufSize(aiTask.get(), &size);
        status == 0 && size >= wanted) {
        inputBufferSamplesPerChannel = size;
        return std::nullopt;
    }
    // Also when the size cannot be read: setting it is what matters.
    if (DriverStatus status =
            checkDriver(DAQmxCfgInputBuffer(aiTask.get(), static_cast<uInt32>(wanted)));
        !status.ok()) {
        return "Failed to configure input buffer: " + status.text;
    }
    inputBufferSamplesPerChannel = wanted;
    return std::nullopt;
}

void TaskSet::reportSampleClock(double requested) {
    float64 rate = 0.0;
    const int32 status = DAQmxGetSampClkRate(aiTask.get(), &rate);

    // Built as one text and written with one call, so the line stays whole
    // and its numbers do not depend on the host's locale.
    std::string line = logPrefix() + "sample clock: ";
    if (status == 0 && rate > 0.0) {
        achievedSampleRateHz = rate;
        const double drift = std::fabs(rate - requested) / std::max(1.0, requested);
        line += "requested=" + formatFixed(requested) + " Hz achieved=" + formatFixed(rate) +
                " Hz (drift=" + formatFixed(drift * 100.0) + "%)";
        if (drift > kCoercionThreshold) {
            line += " *** COERCED ***";
        }
    } else {
        achievedSampleRateHz = requested;
        line += "DAQmxGetSampClkRate failed (status=" + std::to_string(status) +
                "), falling back to requested=" + formatFixed(requested) + " Hz";
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

}  // namespace kra::device::stubs
