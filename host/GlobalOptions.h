#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "DeviceRecords.h"

namespace ni_usb_daq::host {

/// The options every subcommand shares, given before or after it.
struct GlobalOptions {
    /// Registers the options with `app`, which keeps pointers to the members.
    explicit GlobalOptions(CLI::App& app);
    GlobalOptions(const GlobalOptions&) = delete;
    GlobalOptions& operator=(const GlobalOptions&) = delete;

    /// Channels of another device than --device names are refused before
    /// anything is loaded.
    void requireDeviceChannels(const kra::device::OperationParams& settings) const;

    std::string library;  ///< --library; empty: the plug-in next to the program
    std::string device;   ///< --device; empty: the only device, else Dev1
    std::string id;       ///< --id, the stub's KRA_DEVICE_ID
    bool quiet = false;
    bool verbose = false;
    bool version = false;
};

}  // namespace ni_usb_daq::host
