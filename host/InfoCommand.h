#pragma once

#include <iostream>

#include "Commands.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `info`: connects; the device information, health and self-test.
class InfoCommand : public Subcommand {
public:
    explicit InfoCommand(CLI::App& app)
        : Subcommand(app, "info", "connect; print device info, health and self-test") {}

    SessionAction prepare(const GlobalOptions&) override {
        return [](DeviceSession& session) { return runInfo(session, std::cout); };
    }
};

}  // namespace ni_usb_daq::host
