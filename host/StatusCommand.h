#pragma once

#include <iostream>

#include "Commands.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `status`: the "system" status record, connected first unless told not to.
class StatusCommand : public Subcommand {
public:
    explicit StatusCommand(CLI::App& app)
        : Subcommand(app, "status", "connect; print the status record of the system feature") {
        auto* connect =
            command_.add_flag("--connect")->description("connect before asking (the default)");
        command_.add_flag("--no-connect", stayDisconnected_, "ask without connecting first")
            ->excludes(connect);
    }

    SessionAction prepare(const GlobalOptions&) override {
        return [connect = !stayDisconnected_](DeviceSession& session) {
            return runStatus(session, connect, std::cout);
        };
    }

private:
    bool stayDisconnected_ = false;
};

}  // namespace ni_usb_daq::host
