#pragma once

#include <iostream>

#include "JsonOutput.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `info`: connects; the device information, health and self-test.
class InfoCommand : public Subcommand {
public:
    explicit InfoCommand(CLI::App& app)
        : Subcommand(app, "info", "connect; print device info, health and self-test") {}

    SessionAction prepare(const GlobalOptions&) override {
        return [](DeviceSession& session) {
            const ConnectionScope connection(session);
            auto& stub = session.stub();
            writeDocument(std::cout, {{"device_info", toJson(stub.getDeviceInfo())},
                                      {"health", toJson(stub.getHealth())},
                                      {"self_test", toJson(stub.selfTest())}});
            return 0;
        };
    }
};

}  // namespace ni_usb_daq::host
