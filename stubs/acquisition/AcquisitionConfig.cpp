#include "stubs/acquisition/AcquisitionConfig.h"

#include <cmath>
#include <utility>

#include "stubs/acquisition/RequestParams.h"

namespace kra::device::stubs {

AcquisitionConfig mergeConfigureParams(const AcquisitionConfig& current,
                                       const OperationParams& params) {
    AcquisitionConfig next = current;
    next.device_name = getStringParam(params, "device_name", next.device_name);
    next.ai_channels = getStringParam(params, "ai_channels", next.ai_channels);
    next.voltage_range_min = getDoubleParam(params, "voltage_range_min", next.voltage_range_min);
    next.voltage_range_max = getDoubleParam(params, "voltage_range_max", next.voltage_range_max);
    next.terminal_config = getStringParam(params, "terminal_config", next.terminal_config);
    next.sample_clock_rate_hz =
        getDoubleParam(params, "sample_clock_rate_hz", next.sample_clock_rate_hz);
    next.sample_mode = getStringParam(params, "sample_mode", next.sample_mode);
    next.samples_per_channel = getIntParam(params, "samples_per_channel", next.samples_per_channel);
    next.sample_clock_source =
        getStringParam(params, "sample_clock_source", next.sample_clock_source);
    next.sample_clock_active_edge =
        getStringParam(params, "sample_clock_active_edge", next.sample_clock_active_edge);
    next.read_timeout_s = getDoubleParam(params, "read_timeout_s", next.read_timeout_s);
    next.start_trigger_type = getStringParam(params, "start_trigger_type", next.start_trigger_type);
    next.start_trigger_source =
        getStringParam(params, "start_trigger_source", next.start_trigger_source);
    next.start_trigger_edge = getStringParam(params, "start_trigger_edge", next.start_trigger_edge);
    next.analog_trigger_level_v =
        getDoubleParam(params, "analog_trigger_level_v", next.analog_trigger_level_v);
    next.units = getStringParam(params, "units", next.units);
    next.delivery_model = getStringParam(params, "delivery_model", next.delivery_model);
    next.digital_input_lines =
        getStringParam(params, "digital_input_lines", next.digital_input_lines);
    return next;
}

namespace {

/// strtod turns "nan" and "inf" into values that would poison the drift
/// arithmetic and the driver's timing, so they are refused by name.
std::string nonFiniteText(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    return value > 0 ? "inf" : "-inf";
}

}  // namespace

std::optional<std::string> findInvalidSetting(const AcquisitionConfig& config) {
    const std::pair<const char*, double> numbers[] = {
        {"voltage_range_min", config.voltage_range_min},
        {"voltage_range_max", config.voltage_range_max},
        {"sample_clock_rate_hz", config.sample_clock_rate_hz},
        {"read_timeout_s", config.read_timeout_s},
        {"analog_trigger_level_v", config.analog_trigger_level_v},
    };
    for (const auto& [key, value] : numbers) {
        if (!std::isfinite(value)) {
            return "Invalid " + std::string(key) + ": " + nonFiniteText(value) +
                   " (must be a finite number)";
        }
    }
    return checkSamplesPerChannel(config.samples_per_channel);
}

std::optional<std::string> checkSamplesPerChannel(std::int32_t count) {
    if (count >= 1) {
        return std::nullopt;
    }
    return "Invalid samples_per_channel: " + std::to_string(count) + " (must be 1 or more)";
}

std::optional<std::string> checkBlockSize(std::uint64_t samplesPerChannel, std::uint64_t channels) {
    if (channels == 0 || samplesPerChannel <= kMaxBlockSamples / channels) {
        return std::nullopt;
    }
    return "Block too large: " + std::to_string(samplesPerChannel) + " samples per channel x " +
           std::to_string(channels) + " channels exceeds the limit of " +
           std::to_string(kMaxBlockSamples) + " samples";
}

}  // namespace kra::device::stubs
