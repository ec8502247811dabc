#include "stubs/acquisition/AcquisitionConfig.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <variant>

#include "device/AcquisitionSettings.h"
#include "stubs/TextFormat.h"
#include "stubs/acquisition/ChannelReadback.h"

namespace kra::device::stubs {

namespace {

using Field = std::variant<std::string AcquisitionConfig::*, double AcquisitionConfig::*,
                           std::int32_t AcquisitionConfig::*>;

/// Where each setting is stored, in the table's order: the field spelled
/// like the key.
#define NI_USB_DAQ_FIELD(name) std::pair<std::string_view, Field>(#name, &AcquisitionConfig::name)
constexpr std::array kFields = {NI_USB_DAQ_FIELD(device_name),
                                NI_USB_DAQ_FIELD(ai_channels),
                                NI_USB_DAQ_FIELD(voltage_range_min),
                                NI_USB_DAQ_FIELD(voltage_range_max),
                                NI_USB_DAQ_FIELD(terminal_config),
                                NI_USB_DAQ_FIELD(sample_clock_rate_hz),
                                NI_USB_DAQ_FIELD(sample_mode),
                                NI_USB_DAQ_FIELD(samples_per_channel),
                                NI_USB_DAQ_FIELD(sample_clock_source),
                                NI_USB_DAQ_FIELD(sample_clock_active_edge),
                                NI_USB_DAQ_FIELD(read_timeout_s),
                                NI_USB_DAQ_FIELD(start_trigger_type),
                                NI_USB_DAQ_FIELD(start_trigger_source),
                                NI_USB_DAQ_FIELD(start_trigger_edge),
                                NI_USB_DAQ_FIELD(analog_trigger_level_v),
                                NI_USB_DAQ_FIELD(reference_trigger_type),
                                NI_USB_DAQ_FIELD(reference_trigger_source),
                                NI_USB_DAQ_FIELD(reference_trigger_edge),
                                NI_USB_DAQ_FIELD(pretrigger_samples),
                                NI_USB_DAQ_FIELD(export_sample_clock_to),
                                NI_USB_DAQ_FIELD(export_start_trigger_to),
                                NI_USB_DAQ_FIELD(units),
                                NI_USB_DAQ_FIELD(delivery_model),
                                NI_USB_DAQ_FIELD(digital_input_lines)};
#undef NI_USB_DAQ_FIELD

static_assert(std::ranges::equal(kFields, kAcquisitionSettings,
                                 [](const auto& field, const AcquisitionSetting& setting) {
                                     // Text, Choice, Terminal: string; Number: double;
                                     // Integer: int32.
                                     const std::size_t storage[] = {0, 0, 1, 2, 0};
                                     return field.first == setting.key &&
                                            field.second.index() ==
                                                storage[static_cast<int>(setting.type)];
                                 }),
              "every setting needs a field of its type, in table order");

/// Why `value` is no value of the numeric `setting`, or nothing.
std::optional<std::string> checkNumber(const AcquisitionSetting& setting, double value) {
    const std::string invalid = "Invalid " + std::string(setting.key) + ": ";
    // strtod reads "nan" and "inf", which would poison the drift arithmetic
    // and the driver's timing.
    if (!std::isfinite(value)) {
        const char* name = std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
        return invalid + name + " (must be a finite number)";
    }
    if (!setting.minimum || value > *setting.minimum ||
        (value == *setting.minimum && !setting.minimumExclusive)) {
        return std::nullopt;
    }
    const std::string minimum = exactNumberText(*setting.minimum);
    return invalid + exactNumberText(value) +
           (setting.minimumExclusive ? " (must be above " + minimum + ")"
                                     : " (must be " + minimum + " or more)");
}

/// Why `text` is none of the spellings an enforced choice takes, or nothing.
std::optional<std::string> checkChoice(const AcquisitionSetting& setting, const std::string& text) {
    if (!setting.choicesEnforced ||
        std::ranges::find(setting.choices, std::string_view(text)) != setting.choices.end()) {
        return std::nullopt;
    }
    std::string listed;
    for (const std::string_view choice : setting.choices) {
        listed += (listed.empty() ? "" : ", ") + std::string(choice);
    }
    return "Invalid " + std::string(setting.key) + ": " + text + " (" + listed + ")";
}

/// Stores `text` into the field of setting `index`, or says why it is no
/// value of that setting.
std::optional<std::string> store(AcquisitionConfig& config, std::size_t index,
                                 const std::string& text) {
    const auto& [key, field] = kFields[index];
    const AcquisitionSetting& setting = kAcquisitionSettings[index];
    const std::string invalid = "Invalid " + std::string(key) + ": ";
    std::optional<double> value;
    if (const auto* member = std::get_if<std::string AcquisitionConfig::*>(&field)) {
        if (auto refused = checkChoice(setting, text)) {
            return refused;
        }
        config.*(*member) = setting.type == SettingType::Terminal ? normalizeTerminal(text) : text;
        return std::nullopt;
    }
    if (const auto* number = std::get_if<double AcquisitionConfig::*>(&field)) {
        value = parseDouble(text);
        if (!value) {
            return invalid + "not a number";
        }
        config.*(*number) = *value;
    } else if (const auto count = parseInt32(text)) {
        config.*std::get<std::int32_t AcquisitionConfig::*>(field) = *count;
        value = *count;
    } else {
        return invalid + "not a whole number from -2147483648 to 2147483647";
    }
    return checkNumber(setting, *value);
}

/// True for a physical analogue-input channel name such as "Dev1/ai12".
bool isAnalogInputChannel(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    const std::string_view last = name.substr(slash + 1);
    return last.size() > 2 && last.starts_with("ai") &&
           std::all_of(last.begin() + 2, last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

AcquisitionConfig::AcquisitionConfig() {
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        store(*this, i, std::string(kAcquisitionSettings[i].defaultValue));
    }
}

std::optional<std::string> mergeConfigureParams(AcquisitionConfig& config,
                                                const OperationParams& params) {
    AcquisitionConfig next = config;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        const auto found = params.find(std::string(kFields[i].first));
        if (found == params.end()) {
            continue;
        }
        if (auto problem = store(next, i, found->second)) {
            return problem;
        }
    }
    config = std::move(next);
    return std::nullopt;
}

bool hasStartTrigger(const AcquisitionConfig& config) {
    return config.start_trigger_type != "NONE";
}

bool hasReferenceTrigger(const AcquisitionConfig& config) {
    return config.reference_trigger_type != "NONE";
}

std::string normalizeTerminal(const std::string& name) {
    const bool deviceQualified = name.find('/') != std::string::npos;
    if (!deviceQualified || name.starts_with('/') || isAnalogInputChannel(name)) {
        return name;
    }
    return "/" + name;
}

double sampleRateInUse(const AcquisitionConfig& config, double achievedHz) {
    return achievedHz > 0.0 ? achievedHz : config.sample_clock_rate_hz;
}

std::optional<std::string> checkSamplesPerChannel(std::int32_t count) {
    return checkNumber(*findAcquisitionSetting("samples_per_channel"), count);
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
