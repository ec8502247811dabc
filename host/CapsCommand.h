#pragma once

#include <iostream>

#include "HostError.h"
#include "JsonOutput.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `caps`: the capability document, and on standard error the manifest it
/// came from: the "manifest_path" the plug-in reports among the device's
/// properties (empty or absent: there is none, which is warned about).
class CapsCommand : public Subcommand {
public:
    explicit CapsCommand(CLI::App& app)
        : Subcommand(app, "caps", "print the capability document") {}

    SessionAction prepare(const GlobalOptions& global) override {
        return [quiet = global.quiet](DeviceSession& session) {
            const auto capabilities = session.stub().getCapabilities();
            const auto manifest =
                textEntry(session.stub().getDeviceInfo().properties, "manifest_path");
            if (manifest.empty()) {
                std::cerr << kProgramName
                          << ": warning: no device manifest found, so the capability document "
                             "is empty (set KRA_DEVICE_MANIFEST_DIR to the folder that holds "
                             "ni-usb-daq/device-manifest.json)\n";
            } else if (!quiet) {
                std::cerr << kProgramName << ": capabilities from " << manifest << '\n';
            }
            writeDocument(std::cout, capabilities);
            return 0;
        };
    }
};

}  // namespace ni_usb_daq::host
