#include "Settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include <nlohmann/json.hpp>

#include "HostError.h"
#include "NumberFormat.h"

namespace ni_usb_daq::host {

namespace {

using Type = kra::device::SettingType;
using kra::device::acceptedValues;
using kra::device::kAcquisitionSettings;
using kra::device::settingTypeName;

/// How a number of a setting is written: the units that may follow it,
/// matched without regard to case, and its SI prefixes: every one (p n u µ m
/// k K M G) for volts and seconds, only k K M G for rates and counts, where
/// "m" is a slip for "M".
struct NumberForm {
    std::span<const std::string_view> units;
    bool multiplesOnly = false;
};

NumberForm numberForm(const SettingSpec& spec) {
    // A rate is written as sigrok and instrument panels show it ("10kHz",
    // "1MS/s"), where a lower-case "m" is a slip for "M", never milli.
    static constexpr std::array<std::string_view, 2> kRateUnits = {"Hz", "S/s"};
    if (spec.unit == "Hz") {
        return {kRateUnits, true};
    }
    // A fraction of a sample makes no sense, so "m" there can only be a slip.
    return {spec.unit.empty() ? std::span<const std::string_view>() : std::span(&spec.unit, 1),
            spec.type == Type::Integer};
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

/// The candidate `distance` puts nearest, unless even that is further than
/// `limit`: a likely typo, or nothing.
// (Plain algorithms rather than ranges: the fuzz build's clang cannot use
// this standard library's views.)
template <typename Distance>
std::optional<std::string_view> closest(std::span<const std::string_view> candidates,
                                        std::size_t limit, Distance distance) {
    const auto nearest =
        std::min_element(candidates.begin(), candidates.end(),
                         [&](auto a, auto b) { return distance(a) < distance(b); });
    if (nearest == candidates.end() || distance(*nearest) > limit) {
        return std::nullopt;
    }
    return *nearest;
}

std::vector<std::string_view> words(std::string_view key) {
    std::vector<std::string_view> result;
    for (std::size_t start = 0; start <= key.size();) {
        const std::size_t end = std::min(key.find('_', start), key.size());
        if (end > start) {
            result.push_back(key.substr(start, end - start));
        }
        start = end + 1;
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

/// The power of ten an SI prefix stands for; nullopt when it is none.
std::optional<int> prefixExponent(std::string_view prefix) {
    // "\xC2\xB5" is the micro sign.
    constexpr std::pair<std::string_view, int> kPrefixes[] = {
        {"p", -12}, {"n", -9}, {"u", -6}, {"\xC2\xB5", -6}, {"m", -3},
        {"k", 3},   {"K", 3},  {"M", 6},  {"G", 9}};
    for (const auto& [name, exponent] : kPrefixes) {
        if (prefix == name) {
            return exponent;
        }
    }
    return std::nullopt;
}

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return upper(x) == upper(y); });
}

std::string upperCase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), upper);
    return result;
}

/// What a number's text comes to.
struct Quantity {
    std::optional<double> value;
    bool milliForMega = false;  ///< refused only because of a lower-case "m"
};

/// `digits` (a decimal number, perhaps with an exponent) times ten to the
/// `shift`, read in one go so that "2.0001k" is exactly 2000.1 and "1.001k"
/// exactly 1001: multiplying by 1000 afterwards would round twice.
std::optional<double> shifted(std::string_view digits, int shift) {
    std::int64_t exponent = 0;
    const auto e = digits.find_first_of("eE");
    if (e != std::string_view::npos) {
        const char* end = digits.data() + digits.size();
        const char* begin = digits.data() + e + 1;
        begin += begin != end && *begin == '+';  // from_chars takes no plus sign
        const auto result = std::from_chars(begin, end, exponent);
        // Far beyond any double either way; also keeps the sum below in range.
        if (result.ec != std::errc() || result.ptr != end || exponent > 100000 ||
            exponent < -100000) {
            return std::nullopt;
        }
        digits = digits.substr(0, e);
    }
    const std::string text =
        std::string(digits) + "e" + std::to_string(exponent + static_cast<std::int64_t>(shift));
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

/// A number as the setting takes it: decimal digits, then an optional SI
/// prefix, then an optional unit, nothing else.
Quantity parseQuantity(const SettingSpec& spec, std::string_view text) {
    const NumberForm form = numberForm(spec);
    for (const auto unit : form.units) {
        if (text.size() > unit.size() &&
            sameIgnoringCase(text.substr(text.size() - unit.size()), unit)) {
            text.remove_suffix(unit.size());
            break;
        }
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);  // from_chars takes no plus sign
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || text.empty() || !std::isfinite(value)) {
        return {};
    }
    const std::string_view digits(text.data(), static_cast<std::size_t>(result.ptr - text.data()));
    const std::string_view prefix(result.ptr, static_cast<std::size_t>(end - result.ptr));
    if (prefix.empty()) {
        return {value};
    }
    const auto exponent = prefixExponent(prefix);
    if (!exponent) {
        return {};
    }
    if (*exponent < 0 && form.multiplesOnly) {
        return {std::nullopt, prefix == "m"};
    }
    return {shifted(digits, *exponent)};
}

std::string choiceList(const SettingSpec& spec) {
    std::string list;
    for (const auto choice : acceptedValues(spec)) {
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

/// How a number of this setting may be written, for the refusal.
std::string numberForms(const SettingSpec& spec) {
    if (numberForm(spec).multiplesOnly) {
        return spec.unit == "Hz" ? "digits with an optional k, K, M or G and Hz or S/s: 10k, "
                                   "2.5MHz, 250kS/s"
                                 : "digits with an optional k, K, M or G: 500, 10k, 2.5M";
    }
    return spec.unit.empty() ? "digits with an optional SI prefix: 10k, 2.5M, 100m"
                             : "digits with an optional SI prefix and " + std::string(spec.unit) +
                                   ": 2.5, 100m, 100m" + std::string(spec.unit);
}

/// A number of `spec`'s kind, or why it is refused.
struct CheckedNumber {
    double value = 0.0;
    std::string problem;
};

/// `text` read as a number of `spec`'s kind and checked against its minimum
/// (else -`most`) and `most`; `shown` is how a refusal names what was given.
CheckedNumber checkNumber(const SettingSpec& spec, const std::string& shown,
                          const std::string& text, double most) {
    const Quantity quantity = parseQuantity(spec, text);
    const auto& number = quantity.value;
    if (quantity.milliForMega) {
        return {0.0, shown + " is refused: a lower-case m means milli (did you mean M?)"};
    }
    if (!number) {
        return {0.0, shown + " is not a number (" + numberForms(spec) + ")"};
    }
    if (spec.type == Type::Integer && *number != std::floor(*number)) {
        return {0.0, shown + " is not a whole number"};
    }
    // Without a minimum of its own, a number is bounded like its maximum.
    const double least = spec.minimum.value_or(-most);
    const bool exclusive = spec.minimum && spec.minimumExclusive;
    if (*number < least || (exclusive && *number == least)) {
        return {0.0, shown + " is too small (it must be " + (exclusive ? "above " : "at least ") +
                         formatNumber(least) + ")"};
    }
    if (*number > most) {
        return {0.0, shown + " is too large (it must be at most " + formatNumber(most) + ")"};
    }
    return {*number, {}};
}

Checked checkSettingNumber(const SettingSpec& spec, const std::string& text) {
    // The plug-in reads whole numbers as 32-bit integers.
    constexpr double kMostWhole = std::numeric_limits<std::int32_t>::max();
    const double most =
        spec.type == Type::Integer ? kMostWhole : std::numeric_limits<double>::max();
    const auto [value, problem] = checkNumber(spec, std::string(spec.key) + "=" + text, text, most);
    if (!problem.empty()) {
        return {{}, problem};
    }
    return {spec.type == Type::Integer ? std::to_string(static_cast<std::int64_t>(value))
                                       : formatNumber(value),
            {}};
}

/// The listed choice `text` names in any case (no two differ only in case).
std::optional<std::string_view> matchChoice(const SettingSpec& spec, std::string_view text) {
    const auto choices = acceptedValues(spec);
    const auto found = std::find_if(choices.begin(), choices.end(),
                                    [text](auto choice) { return sameIgnoringCase(choice, text); });
    return found == choices.end() ? std::nullopt : std::optional(*found);
}

/// The choice closest to `text` when one is close enough to be a likely typo.
std::optional<std::string_view> nearestChoice(const SettingSpec& spec, std::string_view text) {
    const std::string typed = upperCase(text);
    return closest(acceptedValues(spec), std::max<std::size_t>(2, typed.size() / 3),
                   [&](std::string_view choice) { return editDistance(typed, upperCase(choice)); });
}

Checked checkValue(const SettingSpec& spec, const std::string& text) {
    const std::string shown = std::string(spec.key) + "=" + text;
    if (spec.storedOnly) {
        const bool neutral =
            spec.type == Type::Number
                ? parseQuantity(spec, text).value == parseQuantity(spec, spec.defaultValue).value
                : matchChoice(spec, text).has_value();
        if (neutral) {
            return {std::string(spec.defaultValue), {}};
        }
        return {{},
                shown + " is refused: " + std::string(spec.meaning) + " (only " +
                    std::string(spec.key) + "=" + std::string(spec.defaultValue) + " is accepted)"};
    }
    switch (spec.type) {
        case Type::Text:
        case Type::Terminal:
            return {text, {}};
        case Type::Choice: {
            if (const auto choice = matchChoice(spec, text)) {
                return {std::string(*choice), {}};
            }
            std::string problem = shown + " is not one of " + choiceList(spec);
            if (const auto nearest = nearestChoice(spec, text)) {
                problem += " (did you mean " + std::string(*nearest) + "?)";
            }
            return {{}, problem};
        }
        case Type::Number:
        case Type::Integer:
            return checkSettingNumber(spec, text);
    }
    return {text, {}};
}

std::string padded(std::string_view text, std::size_t width) {
    return std::string(text) + std::string(width - std::min(width, text.size()), ' ');
}

std::string shownDefault(const SettingSpec& spec) {
    return spec.defaultValue.empty() ? "(empty)" : std::string(spec.defaultValue);
}

std::string allowed(const SettingSpec& spec) {
    if (!acceptedValues(spec).empty()) {
        return choiceList(spec) + (spec.storedOnly ? "" : " (any case)");
    }
    std::string text;
    if (spec.type == Type::Number || spec.type == Type::Integer) {
        text = spec.type == Type::Integer ? "whole number" : "number";
        if (spec.minimum) {
            text += spec.minimumExclusive ? " > " : " >= ";
            text += formatNumber(*spec.minimum);
        }
        const NumberForm form = numberForm(spec);
        std::string units;
        for (const auto unit : form.units) {
            units += (units.empty() ? "" : " or ") + std::string(unit);
        }
        text += " (" + (units.empty() ? std::string() : units + "; ") +
                (form.multiplesOnly ? "k, K, M, G" : "SI prefix") + ")";
    } else {
        text = "any text";
    }
    return text;
}

}  // namespace

const SettingSpec* findSetting(std::string_view key) {
    return kra::device::findAcquisitionSetting(key);
}

std::optional<std::string_view> nearestSetting(std::string_view key) {
    // Every word of the typo in one key is the strongest hint there is.
    std::vector<std::string_view> keys;
    for (const SettingSpec& setting : kAcquisitionSettings) {
        keys.push_back(setting.key);
    }
    return closest(keys, std::max<std::size_t>(3, key.size() / 3), [key](std::string_view known) {
        return wordsWithin(key, known) ? 0 : editDistance(key, known);
    });
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
    for (const auto& spec : kAcquisitionSettings) {
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

double checkOptionNumber(const OptionNumber& option, const std::string& text) {
    // An option is read as the setting of its kind: a count as
    // samples_per_channel, seconds as read_timeout_s.
    SettingSpec spec;
    spec.key = option.name;
    spec.type = option.count ? Type::Integer : Type::Number;
    spec.unit = option.count ? "" : "s";
    spec.minimum = option.minimum;
    const auto [value, problem] =
        checkNumber(spec, std::string(option.name) + " " + text, text, option.maximum);
    if (!problem.empty()) {
        throw UsageError(problem);
    }
    return value;
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
    for (const auto& spec : kAcquisitionSettings) {
        keyWidth = std::max(keyWidth, spec.key.size());
    }
    std::string text;
    for (const auto& spec : kAcquisitionSettings) {
        text += padded(spec.key, keyWidth + 2) + padded(settingTypeName(spec.type), 9) +
                "default " + shownDefault(spec) + "; " + allowed(spec) + "\n";
        text += std::string(keyWidth + 2, ' ') + std::string(spec.meaning) + "\n";
    }
    return text;
}

std::string settingsJson() {
    nlohmann::json table = nlohmann::json::array();
    for (const auto& spec : kAcquisitionSettings) {
        nlohmann::json entry = {
            {"key", spec.key},
            {"type", settingTypeName(spec.type)},
            {"default", spec.defaultValue},
            {"meaning", spec.meaning},
            {"applied", !spec.storedOnly},
        };
        if (!spec.unit.empty()) {
            entry["unit"] = spec.unit;
        }
        if (const auto values = acceptedValues(spec); !values.empty()) {
            entry["allowed"] = std::vector<std::string_view>(values.begin(), values.end());
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
    for (const auto& spec : kAcquisitionSettings) {
        text += "| `" + std::string(spec.key) + "` | " + std::string(settingTypeName(spec.type)) +
                " | " +
                (spec.defaultValue.empty() ? std::string("(empty)")
                                           : "`" + std::string(spec.defaultValue) + "`") +
                " | " + allowed(spec) + " | " + std::string(spec.meaning) + " |\n";
    }
    return text;
}

}  // namespace ni_usb_daq::host
