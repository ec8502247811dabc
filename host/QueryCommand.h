#pragma once

#include <iostream>

#include "Commands.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `query`: one device's description, and one of its channels'.
class QueryCommand : public Subcommand {
public:
    explicit QueryCommand(CLI::App& app)
        : Subcommand(app, "query", "describe a device and one of its channels") {
        deviceOption_ = command_.add_option("--device-name", deviceName_,
                                            "device to describe (default: --device)");
        channelOption_ = command_.add_option("--channel", channel_, "physical channel to describe");
    }

    SessionAction prepare(const GlobalOptions&) override {
        QueryOptions options;
        if (deviceOption_->count() > 0) {
            options.deviceName = deviceName_;
        }
        if (channelOption_->count() > 0) {
            options.channel = channel_;
        }
        return [options](DeviceSession& session) { return runQuery(session, options, std::cout); };
    }

private:
    std::string deviceName_;
    std::string channel_;
    CLI::Option* deviceOption_ = nullptr;
    CLI::Option* channelOption_ = nullptr;
};

}  // namespace ni_usb_daq::host
