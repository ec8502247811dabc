#pragma once

#include <string>
#include <vector>

#include "OutputTarget.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// A subcommand that takes the acquisition settings as KEY=VALUE. They are
/// checked against the settings table in prepare(), so a malformed one never
/// reaches the plug-in.
class AcquisitionCommand : public Subcommand {
public:
    AcquisitionCommand(CLI::App& app, const std::string& name, const std::string& description);

protected:
    /// The user's settings, checked against the table.
    kra::device::OperationParams checkedSettings() const;

    /// A block read needs a finite acquisition; any other mode is refused
    /// here rather than by the driver after configuring.
    static void requireFinite(const kra::device::OperationParams& settings,
                              const std::string& command);
    static void requireContinuous(const kra::device::OperationParams& settings,
                                  const std::string& command);

    /// A recording takes its file's name only when its command succeeded.
    static int committed(int status, OutputTarget& target);

private:
    std::vector<std::string> settings_;
};

}  // namespace ni_usb_daq::host
