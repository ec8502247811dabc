#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceRecords.h"

namespace kra::device::stubs {

/// The engine's stored acquisition settings. Each field is spelled like the
/// "configure" key that sets it, and keeps its value until the next change.
struct AcquisitionConfig {
    std::string device_name = "Dev1";
    std::string ai_channels = "Dev1/ai0";
    double voltage_range_min = -10.0;
    double voltage_range_max = 10.0;
    std::string terminal_config = "RSE";
    double sample_clock_rate_hz = 1000.0;
    std::string sample_mode = "CONTINUOUS";
    std::int32_t samples_per_channel = 100;
    std::string sample_clock_source;
    std::string sample_clock_active_edge = "RISING";
    double read_timeout_s = 10.0;
    // Stored and reported back only: no start trigger is ever configured and
    // channels are always created in volts.
    std::string start_trigger_type = "NONE";
    std::string start_trigger_source;
    std::string start_trigger_edge = "RISING";
    double analog_trigger_level_v = 0.0;
    std::string units = "VOLTS";
    std::string delivery_model = "BLOCKING_READ";
    std::string digital_input_lines;
};

/// Largest block (samples per channel x channels) any buffer is sized for.
/// It keeps allocations bounded and sizes within the driver's 32-bit counts.
inline constexpr std::uint64_t kMaxBlockSamples = std::uint64_t{1} << 27;

/// `current` with every "configure" key present in `params` merged in. A value
/// that does not convert keeps the current setting.
AcquisitionConfig mergeConfigureParams(const AcquisitionConfig& current,
                                       const OperationParams& params);

/// Why `config` must not be stored, or nothing when it may. Only what would
/// break the engine itself is judged here (unbounded or empty blocks,
/// non-finite numbers); everything else is the driver's to refuse.
std::optional<std::string> findInvalidSetting(const AcquisitionConfig& config);

/// Why `count` cannot be a block's samples per channel, or nothing when it can.
std::optional<std::string> checkSamplesPerChannel(std::int32_t count);

/// Why a block of `samplesPerChannel` x `channels` samples must not be
/// allocated, or nothing when it fits within kMaxBlockSamples.
std::optional<std::string> checkBlockSize(std::uint64_t samplesPerChannel, std::uint64_t channels);

}  // namespace kra::device::stubs
