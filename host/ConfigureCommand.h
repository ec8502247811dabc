#pragma once

#include <iostream>

#include "Acquisition.h"
#include "AcquisitionCommand.h"
#include "HostError.h"
#include "JsonOutput.h"

namespace ni_usb_daq::host {

/// `configure`: passes the settings on, every sample mode included, and
/// prints the result, failed or not.
class ConfigureCommand : public AcquisitionCommand {
public:
    explicit ConfigureCommand(CLI::App& app)
        : AcquisitionCommand(app, "configure", "configure the analogue-input acquisition") {}

    SessionAction prepare(const GlobalOptions&) override {
        return [params = checkedSettings()](DeviceSession& session) {
            const auto result = session.execute("analog_input", "configure",
                                                withDeviceDefaults(params, session.device()));
            writeDocument(std::cout, toJson(result));
            if (!result.success) {
                std::cerr << kProgramName << ": configure failed: " << result.error << '\n';
                return kFailureExitCode;
            }
            return 0;
        };
    }
};

}  // namespace ni_usb_daq::host
