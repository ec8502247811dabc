#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace kra::device {

/// How the text value of an acquisition setting is read.
enum class SettingType {
    Text,      ///< taken as written
    Choice,    ///< one of the listed spellings
    Number,    ///< a decimal number
    Integer,   ///< a whole number within 32 bits
    Terminal,  ///< a device terminal, written with its leading slash ("/Dev1/PFI0")
};

/// "text", "choice", "number", "integer" or "terminal".
constexpr std::string_view settingTypeName(SettingType type) {
    return std::array<std::string_view, 5>{"text", "choice", "number", "integer", "terminal"}.at(
        static_cast<std::size_t>(type));
}

/// One key of "configure": what the plug-in stores under it and what a host
/// may pass. Every value travels as text, so the default is text too.
struct AcquisitionSetting {
    std::string_view key{};
    SettingType type = SettingType::Text;
    std::string_view defaultValue{};
    std::string_view unit{};  ///< "V", "Hz", "s"; empty for none
    std::string_view meaning{};
    /// Choice: the spellings the plug-in recognises. Empty for a stored-only
    /// setting, whose one sensible value is its default.
    std::span<const std::string_view> choices{};
    /// The plug-in keeps the value but nothing acts on it.
    bool storedOnly = false;
    /// Numbers: the smallest value that makes sense; nullopt for none.
    std::optional<double> minimum{};
    bool minimumExclusive = false;
    /// Choice: "configure" refuses any other spelling instead of falling back
    /// to a default, because a wrong guess would change what is acquired.
    bool choicesEnforced = false;
};

inline constexpr std::array<std::string_view, 6> kTerminalConfigs = {
    "RSE", "NRSE", "DIFF", "DIFFERENTIAL", "PSEUDO_DIFF", "PSEUDODIFFERENTIAL"};
inline constexpr std::array<std::string_view, 3> kSampleModes = {"CONTINUOUS", "FINITE",
                                                                 "ON_DEMAND"};
inline constexpr std::array<std::string_view, 2> kEdges = {"RISING", "FALLING"};
inline constexpr std::array<std::string_view, 3> kTriggerTypes = {"NONE", "DIGITAL_EDGE",
                                                                  "ANALOG_EDGE"};

/// Every key "configure" reads, in the order it reads them.
inline constexpr std::array<AcquisitionSetting, 24> kAcquisitionSettings = [] {
    using enum SettingType;
    constexpr std::span<const std::string_view> kNoChoices;
    constexpr bool kStoredOnly = true;
    constexpr bool kExclusive = true;
    constexpr bool kEnforced = true;
    constexpr std::optional<double> kNoMinimum;
    // key, type, default, unit, meaning, choices, stored only, minimum, exclusive, enforced
    return std::array<AcquisitionSetting, 24>{{
        {"device_name", Text, "Dev1", "", "device that query describes; --device sets it"},
        {"ai_channels", Text, "Dev1/ai0", "",
         "analogue-input channels, e.g. Dev1/ai0:3 or Dev1/ai0,Dev1/ai2; default ai0 of --device"},
        {"voltage_range_min", Number, "-10", "V", "lowest voltage the channels must measure"},
        {"voltage_range_max", Number, "10", "V", "highest voltage the channels must measure"},
        {"terminal_config", Choice, "RSE", "",
         "input wiring: referenced or non-referenced single-ended, differential, "
         "pseudo-differential",
         kTerminalConfigs},
        {"sample_clock_rate_hz", Number, "1000", "Hz",
         "samples per second per channel; the driver grants the nearest rate its clock can make",
         kNoChoices, false, 0.0, kExclusive},
        {"sample_mode", Choice, "CONTINUOUS", "",
         "CONTINUOUS for stream, FINITE for read and plot (their default), ON_DEMAND (no sample "
         "clock) for read --single only",
         kSampleModes},
        {"samples_per_channel", Integer, "100", "",
         "samples per channel in each block: a read's length, a stream frame's size", kNoChoices,
         false, 1.0},
        {"sample_clock_source", Terminal, "", "",
         "terminal of an external sample clock; empty for the device's own clock"},
        {"sample_clock_active_edge", Choice, "RISING", "",
         "edge of the sample clock on which samples are taken", kEdges},
        {"read_timeout_s", Number, "10", "s",
         "longest wait for one block; negative waits for ever"},
        {"start_trigger_type", Choice, "NONE", "",
         "NONE starts at once; DIGITAL_EDGE on an edge at start_trigger_source; ANALOG_EDGE when "
         "the signal at start_trigger_source crosses analog_trigger_level_v",
         kTriggerTypes, false, kNoMinimum, false, kEnforced},
        {"start_trigger_source", Terminal, "", "",
         "terminal of the start trigger, e.g. /Dev1/PFI0, or the channel of an analogue one"},
        {"start_trigger_edge", Choice, "RISING", "",
         "edge (or for ANALOG_EDGE the slope) that starts the acquisition", kEdges, false,
         kNoMinimum, false, kEnforced},
        {"analog_trigger_level_v", Number, "0", "V",
         "level an ANALOG_EDGE trigger fires at (start and reference trigger)"},
        {"reference_trigger_type", Choice, "NONE", "",
         "finite reads only: NONE, DIGITAL_EDGE or ANALOG_EDGE at reference_trigger_source; the "
         "block holds pretrigger_samples before the trigger",
         kTriggerTypes, false, kNoMinimum, false, kEnforced},
        {"reference_trigger_source", Terminal, "", "",
         "terminal of the reference trigger, e.g. /Dev1/PFI1, or the channel of an analogue one"},
        {"reference_trigger_edge", Choice, "RISING", "",
         "edge (or for ANALOG_EDGE the slope) of the reference trigger", kEdges, false, kNoMinimum,
         false, kEnforced},
        {"pretrigger_samples", Integer, "0", "",
         "samples per channel of a reference-triggered block taken before the trigger", kNoChoices,
         false, 0.0},
        {"export_sample_clock_to", Terminal, "", "",
         "terminal the sample clock is sent out on, e.g. /Dev1/PFI4; empty for none"},
        {"export_start_trigger_to", Terminal, "", "",
         "terminal the start trigger is sent out on, e.g. /Dev1/PFI5; empty for none"},
        {"units", Choice, "VOLTS", "", "stored but never applied: channels always measure volts",
         kNoChoices, kStoredOnly},
        {"delivery_model", Choice, "BLOCKING_READ", "",
         "stored but never applied: blocks always come from blocking reads", kNoChoices,
         kStoredOnly},
        {"digital_input_lines", Text, "", "",
         "digital lines sampled once per block, e.g. Dev1/port0/line0:3; empty for none"},
    }};
}();

/// The entry for `key`, or null.
constexpr const AcquisitionSetting* findAcquisitionSetting(std::string_view key) {
    for (const auto& setting : kAcquisitionSettings) {
        if (setting.key == key) {
            return &setting;
        }
    }
    return nullptr;
}

/// The values a setting accepts: its choices, or for a stored-only setting
/// the one value it behaves as (a view into `setting`).
constexpr std::span<const std::string_view> acceptedValues(const AcquisitionSetting& setting) {
    return setting.storedOnly ? std::span<const std::string_view>(&setting.defaultValue, 1)
                              : setting.choices;
}

}  // namespace kra::device
