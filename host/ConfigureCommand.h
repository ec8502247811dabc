#pragma once

#include <iostream>

#include "Acquisition.h"
#include "AcquisitionCommand.h"
#include "Commands.h"

namespace ni_usb_daq::host {

/// `configure`: passes the settings on, every sample mode included.
class ConfigureCommand : public AcquisitionCommand {
public:
    explicit ConfigureCommand(CLI::App& app)
        : AcquisitionCommand(app, "configure", "configure the analogue-input acquisition") {}

    SessionAction prepare(const GlobalOptions&) override {
        return [params = checkedSettings()](DeviceSession& session) {
            return runConfigure(session, withDeviceDefaults(params, session.device()), std::cout);
        };
    }
};

}  // namespace ni_usb_daq::host
