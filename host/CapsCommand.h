#pragma once

#include <iostream>

#include "Commands.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `caps`: the capability document, and which manifest it came from.
class CapsCommand : public Subcommand {
public:
    explicit CapsCommand(CLI::App& app)
        : Subcommand(app, "caps", "print the capability document") {}

    SessionAction prepare(const GlobalOptions& global) override {
        return [quiet = global.quiet](DeviceSession& session) {
            return runCapabilities(session, quiet, std::cout);
        };
    }
};

}  // namespace ni_usb_daq::host
