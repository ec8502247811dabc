#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "Acquisition.h"

namespace ni_usb_daq::host {

/// The options every subcommand shares, given before or after it.
struct GlobalOptions {
    /// Registers the options with `app`, which keeps pointers to the members.
    explicit GlobalOptions(CLI::App& app) {
        app.require_subcommand(0, 1);
        app.fallthrough();  // global options may follow the subcommand too
        app.add_option("--library", library,
                       "plug-in to load (default: libni_usb_daq.so next to this program)");
        app.add_option("--device", device,
                       "NI-DAQmx device to drive (default: the only device, else Dev1); its "
                       "ai0 is the default channel");
        app.add_option("--id", id, "device id of the stub (sets KRA_DEVICE_ID)");
        auto* quietFlag =
            app.add_flag("-q,--quiet", quiet, "hide information lines (warnings and errors stay)");
        app.add_flag("-v,--verbose", verbose, "show information lines (the default)")
            ->excludes(quietFlag);
        app.add_flag("--version", version, "print the version and the plug-in file, then exit");
    }
    GlobalOptions(const GlobalOptions&) = delete;
    GlobalOptions& operator=(const GlobalOptions&) = delete;

    /// Channels of another device than --device names are refused before
    /// anything is loaded.
    void requireDeviceChannels(const kra::device::OperationParams& settings) const {
        if (!device.empty()) {
            requireChannelsOf(settings, device);
        }
    }

    std::string library;  ///< --library; empty: the plug-in next to the program
    std::string device;   ///< --device; empty: the only device, else Dev1
    std::string id;       ///< --id, the stub's KRA_DEVICE_ID
    bool quiet = false;
    bool verbose = false;
    bool version = false;
};

}  // namespace ni_usb_daq::host
