#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HostError.h"
#include "KeyValueArgs.h"
#include "Settings.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// A subcommand that takes the acquisition settings as KEY=VALUE. They are
/// checked against the settings table in prepare(), so a malformed one never
/// reaches the plug-in.
class AcquisitionCommand : public Subcommand {
public:
    AcquisitionCommand(CLI::App& app, const std::string& name, const std::string& description)
        : Subcommand(app, name, description) {
        command_.add_option("settings", settings_,
                            "acquisition settings as KEY=VALUE, listed below and by "
                            "'ni-usb-daq-host settings'");
        command_.footer("\nSettings:\n" + settingsText());
    }

protected:
    /// The user's settings, checked against the table.
    kra::device::OperationParams checkedSettings() const {
        return checkSettings(parseKeyValueArgs(settings_));
    }

    /// The largest count an option takes: far beyond any run, and exact as a double.
    static constexpr std::uint64_t kMostCount = std::uint64_t{1} << 62;

    /// A count option (--samples 100k), checked; nullopt when not given.
    static std::optional<std::uint64_t> countOption(std::string_view name,
                                                    const std::optional<std::string>& text,
                                                    std::uint64_t minimum) {
        if (!text) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(checkOptionNumber(
            {name, true, static_cast<double>(minimum), static_cast<double>(kMostCount)}, *text));
    }

    /// An option in seconds (--seconds 2.5), checked; nullopt when not given.
    static std::optional<double> secondsOption(std::string_view name,
                                               const std::optional<std::string>& text,
                                               double minimum, double maximum) {
        if (!text) {
            return std::nullopt;
        }
        return checkOptionNumber({name, false, minimum, maximum}, *text);
    }

    /// A block read needs a finite acquisition; any other mode is refused
    /// here rather than by the driver after configuring.
    static void requireFinite(const kra::device::OperationParams& settings,
                              const std::string& command) {
        const auto mode = settingValue(settings, "sample_mode");
        if (settings.contains("sample_mode") && mode != "FINITE") {
            throw UsageError(command + " acquires one finite block: sample_mode=" + mode +
                             modeUse(mode) + " (leave sample_mode out, or give FINITE)");
        }
    }

    static void requireContinuous(const kra::device::OperationParams& settings,
                                  const std::string& command) {
        const auto mode = settingValue(settings, "sample_mode");
        if (mode != "CONTINUOUS") {
            throw UsageError(command + " runs until stopped: sample_mode=" + mode + modeUse(mode) +
                             (mode == "FINITE" ? "" : " (leave sample_mode out)"));
        }
    }

private:
    /// Where the other sample modes belong, for the refusals above.
    static std::string modeUse(const std::string& mode) {
        if (mode == "ON_DEMAND") {
            return " (no sample clock) is for 'read --single'";
        }
        return mode == "FINITE" ? " is not a stream (use 'read' for one finite block)"
                                : " is for stream";
    }

    std::vector<std::string> settings_;
};

}  // namespace ni_usb_daq::host
