#pragma once

#include <iostream>

#include "DeviceCommands.h"
#include "Platform.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `scan`: the devices the driver knows, as lines on a terminal, else JSON.
class ScanCommand : public Subcommand {
public:
    explicit ScanCommand(CLI::App& app)
        : Subcommand(app, "scan",
                     "list the devices the driver knows, with ranges and rates per channel") {
        command_.add_flag("--all", allBuses_, "list devices of every bus, not only USB");
        command_.add_flag("--json", json_,
                          "JSON even on a terminal (one line per device there otherwise)");
    }

    SessionAction prepare(const GlobalOptions&) override {
        const bool lines = !json_ && platform::stdoutIsTerminal();
        return [all = allBuses_, lines](DeviceSession& session) {
            return runScan(session, all, lines, std::cout);
        };
    }

private:
    bool allBuses_ = false;
    bool json_ = false;
};

}  // namespace ni_usb_daq::host
