#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceRecords.h"

namespace kra::device::stubs {

/// The engine's stored acquisition settings. Each field is spelled like the
/// "configure" key that sets it, and keeps its value until the next change.
/// Defaults, limits and which fields nothing acts on are those of
/// kAcquisitionSettings.
struct AcquisitionConfig {
    AcquisitionConfig();  ///< every setting at its default

    std::string device_name, ai_channels;
    double voltage_range_min = 0.0, voltage_range_max = 0.0;
    std::string terminal_config;
    double sample_clock_rate_hz = 0.0;
    std::string sample_mode;
    std::int32_t samples_per_channel = 0;
    std::string sample_clock_source, sample_clock_active_edge;
    double read_timeout_s = 0.0;
    std::string start_trigger_type, start_trigger_source, start_trigger_edge;
    double analog_trigger_level_v = 0.0;
    std::string reference_trigger_type, reference_trigger_source, reference_trigger_edge;
    std::int32_t pretrigger_samples = 0;
    std::string export_sample_clock_to, export_start_trigger_to;
    // Stored and reported back only.
    std::string units, delivery_model;
    std::string digital_input_lines;
};

/// True when the task waits for a start or reference trigger before its
/// first sample.
bool hasStartTrigger(const AcquisitionConfig& config);
bool hasReferenceTrigger(const AcquisitionConfig& config);

/// A terminal as the driver writes it: a device-qualified name gains its
/// leading slash ("Dev1/PFI0" becomes "/Dev1/PFI0"). Names without a device
/// ("PFI0", "OnboardClock") and analogue-input channels ("Dev1/ai0", the
/// source of an analogue trigger) stay as they are.
std::string normalizeTerminal(const std::string& name);

/// Largest block (samples per channel x channels) any buffer is sized for.
/// It keeps allocations bounded and sizes within the driver's 32-bit counts.
inline constexpr std::uint64_t kMaxBlockSamples = std::uint64_t{1} << 27;

/// Merges every "configure" key present in `params` into `config`. Numbers
/// are read by prefix (strtod, strtol rules). A number that does not convert,
/// is not finite or lies below its setting's minimum leaves `config` as it
/// was, and the reason, naming the key, is returned. Everything else is the
/// driver's to refuse.
std::optional<std::string> mergeConfigureParams(AcquisitionConfig& config,
                                                const OperationParams& params);

/// The rate samples are timed at: the one the driver granted, else (no
/// sample clock, or the driver could not say) the one asked for.
double sampleRateInUse(const AcquisitionConfig& config, double achievedHz);

/// Why `count` cannot be a block's samples per channel, or nothing when it can.
std::optional<std::string> checkSamplesPerChannel(std::int32_t count);

/// Why a block of `samplesPerChannel` x `channels` samples must not be
/// allocated, or nothing when it fits within kMaxBlockSamples.
std::optional<std::string> checkBlockSize(std::uint64_t samplesPerChannel, std::uint64_t channels);

}  // namespace kra::device::stubs
