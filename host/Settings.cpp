#include "Settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

#include "HostError.h"
#include "NumberFormat.h"

namespace ni_usb_daq::host {

namespace {

using Type = SettingType;

SettingSpec text(std::string_view key, std::string_view defaultValue, std::string_view meaning) {
    SettingSpec spec;
    spec.key = key;
    spec.defaultValue = defaultValue;
    spec.meaning = meaning;
    return spec;
}

SettingSpec choice(std::string_view key, std::string_view defaultValue,
                   std::vector<std::string_view> choices, std::string_view meaning) {
    SettingSpec spec = text(key, defaultValue, meaning);
    spec.type = Type::Choice;
    spec.choices = std::move(choices);
    return spec;
}

SettingSpec number(std::string_view key, Type type, std::string_view defaultValue,
                   std::string_view unit, std::string_view meaning) {
    SettingSpec spec = text(key, defaultValue, meaning);
    spec.type = type;
    spec.unit = unit;
    return spec;
}

SettingSpec atLeast(SettingSpec spec, double minimum, bool exclusive) {
    spec.minimum = minimum;
    spec.minimumExclusive = exclusive;
    return spec;
}

/// A setting the plug-in keeps without acting on it: only the value it
/// behaves as anyway is accepted.
SettingSpec storedOnly(SettingSpec spec) {
    spec.storedOnly = true;
    spec.choices = {spec.defaultValue};
    return spec;
}

// The keys the plug-in's "configure" reads, in its order, with what it does
// with each value. Choices are exactly the spellings the plug-in recognises;
// anything else it would quietly replace by a default.
const std::array<SettingSpec, 18> kSettings = {
    text("device_name", "Dev1", "device that query describes; --device sets it"),
    text("ai_channels", "Dev1/ai0",
         "analogue-input channels, e.g. Dev1/ai0:3 or Dev1/ai0,Dev1/ai2; default ai0 of --device"),
    number("voltage_range_min", Type::Number, "-10", "V",
           "lowest voltage the channels must measure"),
    number("voltage_range_max", Type::Number, "10", "V",
           "highest voltage the channels must measure"),
    choice("terminal_config", "RSE",
           {"RSE", "NRSE", "DIFF", "Differential", "DIFFERENTIAL", "PseudoDifferential",
            "PSEUDO_DIFF", "PSEUDODIFFERENTIAL"},
           "input wiring: referenced or non-referenced single-ended, differential, "
           "pseudo-differential"),
    atLeast(number("sample_clock_rate_hz", Type::Number, "1000", "Hz",
                   "samples per second per channel; the driver grants the nearest rate its "
                   "clock can make"),
            0.0, true),
    choice("sample_mode", "CONTINUOUS", {"CONTINUOUS", "FINITE", "ON_DEMAND"},
           "CONTINUOUS for stream, FINITE for read (its default), ON_DEMAND for no sample clock"),
    atLeast(number("samples_per_channel", Type::Integer, "100", "",
                   "samples per channel in each block: a read's length, a stream frame's size"),
            1.0, false),
    text("sample_clock_source", "",
         "terminal of an external sample clock; empty for the device's own clock"),
    choice("sample_clock_active_edge", "RISING", {"RISING", "FALLING"},
           "edge of the sample clock on which samples are taken"),
    number("read_timeout_s", Type::Number, "10", "s",
           "longest wait for one block; negative waits for ever"),
    storedOnly(choice("start_trigger_type", "NONE", {},
                      "stored but never applied: acquisitions start at once")),
    storedOnly(
        choice("start_trigger_source", "", {}, "stored but never applied: there is no trigger")),
    storedOnly(choice("start_trigger_edge", "RISING", {},
                      "stored but never applied: there is no trigger")),
    storedOnly(number("analog_trigger_level_v", Type::Number, "0", "V",
                      "stored but never applied: there is no analogue trigger")),
    storedOnly(
        choice("units", "VOLTS", {}, "stored but never applied: channels always measure volts")),
    storedOnly(choice("delivery_model", "BLOCKING_READ", {},
                      "stored but never applied: blocks always come from blocking reads")),
    text("digital_input_lines", "",
         "digital lines sampled once per block, e.g. Dev1/port0/line0:3; empty for none"),
};

std::string_view typeName(Type type) {
    switch (type) {
        case Type::Text:
            return "text";
        case Type::Choice:
            return "choice";
        case Type::Number:
            return "number";
        case Type::Integer:
            return "integer";
    }
    return "text";
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::vector<std::string_view> words(std::string_view key) {
    std::vector<std::string_view> result;
    while (!key.empty()) {
        const auto underscore = key.find('_');
        if (underscore != 0) {
            result.push_back(key.substr(0, underscore));
        }
        if (underscore == std::string_view::npos) {
            break;
        }
        key.remove_prefix(underscore + 1);
    }
    return result;
}

/// True when every word of `typed` is a word of `key` ("sample_rate" and
/// "sample_clock_rate_hz").
bool wordsWithin(std::string_view typed, std::string_view key) {
    const auto typedWords = words(typed);
    const auto keyWords = words(key);
    return !typedWords.empty() && std::all_of(typedWords.begin(), typedWords.end(), [&](auto w) {
        return std::find(keyWords.begin(), keyWords.end(), w) != keyWords.end();
    });
}

/// The SI multiplier a suffix stands for, or 0 when it is none.
double siMultiplier(std::string_view suffix) {
    static constexpr std::array<std::pair<std::string_view, double>, 8> kPrefixes = {{
        {"p", 1e-12},
        {"n", 1e-9},
        {"u", 1e-6},
        {"\xC2\xB5", 1e-6},  // micro sign
        {"m", 1e-3},
        {"k", 1e3},
        {"M", 1e6},
        {"G", 1e9},
    }};
    for (const auto& [name, factor] : kPrefixes) {
        if (suffix == name) {
            return factor;
        }
    }
    return 0.0;
}

std::string integerText(double value) {
    std::array<char, 32> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                   static_cast<std::int64_t>(value))
                         .ptr;
    return std::string(buffer.data(), end);
}

std::string choiceList(const SettingSpec& spec) {
    std::string list;
    for (const auto choice : spec.choices) {
        list += list.empty() ? "" : ", ";
        list += choice.empty() ? std::string("(empty)") : std::string(choice);
    }
    return list;
}

/// The value in the plug-in's form, or the reason it is refused.
struct Checked {
    std::string value;
    std::string problem;
};

Checked checkNumber(const SettingSpec& spec, const std::string& text) {
    const auto number = parseSiNumber(text);
    const std::string shown = std::string(spec.key) + "=" + text;
    if (!number) {
        return {{},
                shown + " is not a number (digits with an optional SI suffix: 10k, 2.5M, 100m)"};
    }
    if (spec.type == Type::Integer) {
        if (*number != std::floor(*number) ||
            std::fabs(*number) > std::numeric_limits<std::int32_t>::max()) {
            return {{}, shown + " is not a whole number of at most 2147483647"};
        }
    }
    if (spec.minimum &&
        (*number < *spec.minimum || (spec.minimumExclusive && *number == *spec.minimum))) {
        return {{},
                shown + " is too small (it must be " +
                    (spec.minimumExclusive ? "above " : "at least ") + formatNumber(*spec.minimum) +
                    ")"};
    }
    return {spec.type == Type::Integer ? integerText(*number) : formatNumber(*number), {}};
}

Checked checkValue(const SettingSpec& spec, const std::string& text) {
    const std::string shown = std::string(spec.key) + "=" + text;
    if (spec.storedOnly) {
        const bool neutral = spec.type == Type::Number
                                 ? parseSiNumber(text) == parseSiNumber(spec.choices.front())
                                 : text == spec.choices.front();
        if (neutral) {
            return {spec.type == Type::Number ? std::string(spec.choices.front()) : text, {}};
        }
        return {{},
                shown + " is refused: " + std::string(spec.meaning) + " (only " +
                    std::string(spec.key) + "=" + std::string(spec.choices.front()) +
                    " is accepted)"};
    }
    switch (spec.type) {
        case Type::Text:
            return {text, {}};
        case Type::Choice:
            if (std::find(spec.choices.begin(), spec.choices.end(), text) != spec.choices.end()) {
                return {text, {}};
            }
            return {{}, shown + " is not one of " + choiceList(spec)};
        case Type::Number:
        case Type::Integer:
            return checkNumber(spec, text);
    }
    return {text, {}};
}

std::string padded(std::string_view text, std::size_t width) {
    std::string result(text);
    if (result.size() < width) {
        result.append(width - result.size(), ' ');
    }
    return result;
}

std::string shownDefault(const SettingSpec& spec) {
    return spec.defaultValue.empty() ? "(empty)" : std::string(spec.defaultValue);
}

std::string allowed(const SettingSpec& spec) {
    if (!spec.choices.empty()) {
        return choiceList(spec);
    }
    std::string text;
    if (spec.type == Type::Number || spec.type == Type::Integer) {
        text = spec.type == Type::Integer ? "whole number" : "number";
        if (spec.minimum) {
            text += spec.minimumExclusive ? " > " : " >= ";
            text += formatNumber(*spec.minimum);
        }
        if (!spec.unit.empty()) {
            text += " (";
            text += spec.unit;
            text += ")";
        }
    } else {
        text = "any text";
    }
    return text;
}

}  // namespace

std::span<const SettingSpec> settingsTable() {
    return kSettings;
}

const SettingSpec* findSetting(std::string_view key) {
    const auto found = std::find_if(kSettings.begin(), kSettings.end(),
                                    [key](const SettingSpec& spec) { return spec.key == key; });
    return found == kSettings.end() ? nullptr : &*found;
}

std::optional<std::string_view> nearestSetting(std::string_view key) {
    std::optional<std::string_view> nearest;
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (const auto& spec : kSettings) {
        // Every word of the typo in one key is the strongest hint there is.
        const std::size_t distance = wordsWithin(key, spec.key) ? 0 : editDistance(key, spec.key);
        if (distance < best) {
            best = distance;
            nearest = spec.key;
        }
    }
    if (best > std::max<std::size_t>(3, key.size() / 3)) {
        return std::nullopt;
    }
    return nearest;
}

std::optional<double> parseSiNumber(std::string_view text) {
    double value = 0.0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (!text.empty() && text.front() == '+') {
        ++begin;  // from_chars takes no plus sign
    }
    const auto result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || begin == end || !std::isfinite(value)) {
        return std::nullopt;
    }
    if (result.ptr != end) {
        const double factor = siMultiplier(std::string_view(result.ptr, end - result.ptr));
        if (factor == 0.0) {
            return std::nullopt;
        }
        value *= factor;
    }
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

kra::device::OperationParams checkSettings(const kra::device::OperationParams& settings) {
    kra::device::OperationParams checked;
    std::vector<std::string> problems;
    // In table order, so that messages come in the same order every time.
    std::vector<std::string> unknown;
    for (const auto& [key, value] : settings) {
        if (findSetting(key) == nullptr) {
            unknown.push_back(key);
        }
    }
    std::sort(unknown.begin(), unknown.end());
    for (const auto& key : unknown) {
        std::string problem = "unknown setting '" + key + "'";
        if (const auto nearest = nearestSetting(key)) {
            problem += " (did you mean " + std::string(*nearest) + "?)";
        }
        problems.push_back(problem);
    }
    for (const auto& spec : kSettings) {
        const auto found = settings.find(std::string(spec.key));
        if (found == settings.end()) {
            continue;
        }
        Checked result = checkValue(spec, found->second);
        if (!result.problem.empty()) {
            problems.push_back(std::move(result.problem));
        } else {
            checked.emplace(found->first, std::move(result.value));
        }
    }
    if (problems.empty()) {
        const auto low = parseNumber(settingValue(checked, "voltage_range_min"));
        const auto high = parseNumber(settingValue(checked, "voltage_range_max"));
        if (low && high && !(*low < *high)) {
            problems.push_back("voltage_range_min (" + formatNumber(*low) +
                               ") must be below voltage_range_max (" + formatNumber(*high) + ")");
        }
    }
    if (!problems.empty()) {
        std::string message;
        for (const auto& problem : problems) {
            message += (message.empty() ? "" : "; ") + problem;
        }
        throw UsageError(message + " (see: ni-usb-daq-host settings)");
    }
    return checked;
}

std::string settingValue(const kra::device::OperationParams& settings, std::string_view key) {
    if (const auto found = settings.find(std::string(key)); found != settings.end()) {
        return found->second;
    }
    const SettingSpec* spec = findSetting(key);
    return spec != nullptr ? std::string(spec->defaultValue) : std::string();
}

std::string settingsText() {
    std::size_t keyWidth = 0;
    for (const auto& spec : kSettings) {
        keyWidth = std::max(keyWidth, spec.key.size());
    }
    std::string text;
    for (const auto& spec : kSettings) {
        text += padded(spec.key, keyWidth + 2) + padded(typeName(spec.type), 9) + "default " +
                shownDefault(spec) + "; " + allowed(spec) + "\n";
        text += std::string(keyWidth + 2, ' ') + std::string(spec.meaning) + "\n";
    }
    return text;
}

std::string settingsJson() {
    nlohmann::json table = nlohmann::json::array();
    for (const auto& spec : kSettings) {
        nlohmann::json entry = {
            {"key", spec.key},
            {"type", typeName(spec.type)},
            {"default", spec.defaultValue},
            {"meaning", spec.meaning},
            {"applied", !spec.storedOnly},
        };
        if (!spec.unit.empty()) {
            entry["unit"] = spec.unit;
        }
        if (!spec.choices.empty()) {
            entry["allowed"] = spec.choices;
        }
        if (spec.minimum) {
            entry[spec.minimumExclusive ? "above" : "minimum"] = *spec.minimum;
        }
        table.push_back(std::move(entry));
    }
    return table.dump(2) + "\n";
}

std::string settingsMarkdown() {
    std::string text = "| key | type | default | allowed | meaning |\n|---|---|---|---|---|\n";
    for (const auto& spec : kSettings) {
        text += "| `" + std::string(spec.key) + "` | " + std::string(typeName(spec.type)) + " | " +
                (spec.defaultValue.empty() ? std::string("(empty)")
                                           : "`" + std::string(spec.defaultValue) + "`") +
                " | " + allowed(spec) + " | " + std::string(spec.meaning) + " |\n";
    }
    return text;
}

}  // namespace ni_usb_daq::host
