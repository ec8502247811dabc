#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "AcquisitionSettings.h"
#include "DeviceRecords.h"

namespace ni_usb_daq::host {

/// One KEY=VALUE setting the plug-in reads when it configures an acquisition.
using SettingSpec = kra::device::AcquisitionSetting;

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

/// A number given to a command-line option.
struct OptionNumber {
    std::string_view name;  ///< "--samples"
    /// A whole number with an optional k, K, M or G ("--samples 100k"), as
    /// samples_per_channel takes it; else seconds with any SI prefix and an
    /// optional "s" ("--seconds 250ms"), as read_timeout_s takes them.
    bool count = false;
    double minimum = 0.0;
    double maximum = 0.0;
};

/// `text` as the number `option` takes, read as a setting of its kind is.
/// Throws UsageError naming the option when it is not such a number (nan and
/// inf are none) or lies outside the option's range.
double checkOptionNumber(const OptionNumber& option, const std::string& text);

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
