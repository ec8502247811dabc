#pragma once

#include <iostream>
#include <optional>

#include "JsonOutput.h"
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
            std::optional<ConnectionScope> connection;
            if (connect) {
                connection.emplace(session);
            }
            writeDocument(std::cout, toJson(session.require("system", "get_state").state));
            return 0;
        };
    }

private:
    bool stayDisconnected_ = false;
};

}  // namespace ni_usb_daq::host
