#include "AcquisitionCommand.h"

#include "HostError.h"
#include "KeyValueArgs.h"
#include "Settings.h"

namespace ni_usb_daq::host {

namespace {

/// Where the other sample modes belong, for the refusals below.
std::string modeUse(const std::string& mode) {
    if (mode == "ON_DEMAND") {
        return " (no sample clock) is for 'read --single'";
    }
    return mode == "FINITE" ? " is not a stream (use 'read' for one finite block)"
                            : " is for stream";
}

}  // namespace

AcquisitionCommand::AcquisitionCommand(CLI::App& app, const std::string& name,
                                       const std::string& description)
    : Subcommand(app, name, description) {
    command_.add_option("settings", settings_,
                        "acquisition settings as KEY=VALUE, listed below and by "
                        "'ni-usb-daq-host settings'");
    command_.footer("\nSettings:\n" + settingsText());
}

kra::device::OperationParams AcquisitionCommand::checkedSettings() const {
    return checkSettings(parseKeyValueArgs(settings_));
}

void AcquisitionCommand::requireFinite(const kra::device::OperationParams& settings,
                                       const std::string& command) {
    const auto mode = settingValue(settings, "sample_mode");
    if (settings.contains("sample_mode") && mode != "FINITE") {
        throw UsageError(command + " acquires one finite block: sample_mode=" + mode +
                         modeUse(mode) + " (leave sample_mode out, or give FINITE)");
    }
}

void AcquisitionCommand::requireContinuous(const kra::device::OperationParams& settings,
                                           const std::string& command) {
    const auto mode = settingValue(settings, "sample_mode");
    if (mode != "CONTINUOUS") {
        throw UsageError(command + " runs until stopped: sample_mode=" + mode + modeUse(mode) +
                         (mode == "FINITE" ? "" : " (leave sample_mode out)"));
    }
}

int AcquisitionCommand::committed(int status, OutputTarget& target) {
    if (status == 0) {
        target.commit();
    }
    return status;
}

}  // namespace ni_usb_daq::host
