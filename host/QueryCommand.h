#pragma once

#include <iostream>

#include "DeviceCommands.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `query`: one device's description, and one of its channels'.
class QueryCommand : public Subcommand {
public:
    explicit QueryCommand(CLI::App& app)
        : Subcommand(app, "query", "describe a device and one of its channels") {
        command_.add_option("--device-name", options_.deviceName,
                            "device to describe (default: --device)");
        command_.add_option("--channel", options_.channel, "physical channel to describe");
    }

    SessionAction prepare(const GlobalOptions&) override {
        return [options = options_](DeviceSession& session) {
            return runQuery(session, options, std::cout);
        };
    }

private:
    QueryOptions options_;
};

}  // namespace ni_usb_daq::host
