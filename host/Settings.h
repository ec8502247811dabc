#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceRecords.h"

namespace ni_usb_daq::host {

/// How the value of a setting is read.
enum class SettingType {
    Text,     ///< passed on as written
    Choice,   ///< one of `choices`, in any case; passed on as listed
    Number,   ///< a decimal number, SI prefix and unit allowed ("10k", "2.5MHz", "100mV")
    Integer,  ///< a whole number, prefix allowed when the result is whole ("2.5k")
};

/// The SI prefixes a number may carry.
enum class Prefixes {
    Any,        ///< p n u µ m k K M G: volts and seconds
    Multiples,  ///< k K M G: rates and counts, where "m" is a slip for "M"
};

/// One KEY=VALUE setting the plug-in reads when it configures an acquisition.
struct SettingSpec {
    std::string_view key;
    SettingType type = SettingType::Text;
    std::string_view defaultValue;
    std::string_view unit;  ///< "V", "Hz", "s"; empty for none
    /// Units that may follow a number, matched without regard to case.
    std::vector<std::string_view> unitSpellings;
    Prefixes prefixes = Prefixes::Any;
    /// Choice: the values the plug-in accepts, in the spelling passed on. A stored-only setting:
    /// the one value it behaves as, so the only one accepted.
    std::vector<std::string_view> choices;
    std::string_view meaning;
    /// The plug-in keeps the value but nothing acts on it.
    bool storedOnly = false;
    /// Numbers: the smallest value that makes sense; nullopt for none.
    std::optional<double> minimum;
    bool minimumExclusive = false;
};

/// Every setting, in the order the plug-in reads them.
std::span<const SettingSpec> settingsTable();

/// The entry for `key`, or null.
const SettingSpec* findSetting(std::string_view key);

/// The known key closest to `key` by edit distance, when one is close enough
/// to be a likely typo.
std::optional<std::string_view> nearestSetting(std::string_view key);

/// Checks every setting against the table and returns them in the form the
/// plug-in parses: numbers in plain decimal ("10kHz" becomes "10000"), choices
/// in their listed case ("rse" becomes "RSE"). Throws UsageError naming each
/// problem: an unknown key or choice (with the nearest known one), a value
/// that is not a number of the setting's kind (a lower-case "m" on a rate or
/// count asks whether "M" was meant), a stored-only setting with a value
/// nothing would act on, a range whose minimum is not below its maximum.
kra::device::OperationParams checkSettings(const kra::device::OperationParams& settings);

/// The value the acquisition will use for `key`: the given one, else the
/// table's default.
std::string settingValue(const kra::device::OperationParams& settings, std::string_view key);

/// The table as aligned text, one setting per line block.
std::string settingsText();
/// The table as a JSON array of objects.
std::string settingsJson();
/// The table as a Markdown table (what the README shows).
std::string settingsMarkdown();

}  // namespace ni_usb_daq::host
