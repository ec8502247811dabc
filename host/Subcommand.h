#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "DeviceSession.h"
#include "GlobalOptions.h"

namespace ni_usb_daq::host {

/// What a chosen subcommand does once the stub exists; the exit status.
using SessionAction = std::function<int(DeviceSession&)>;

/// One subcommand: registers itself and its options with the command line,
/// and turns what was given into what to do with the device.
class Subcommand {
public:
    Subcommand(CLI::App& app, const std::string& name, const std::string& description)
        : command_(*app.add_subcommand(name, description)) {}
    virtual ~Subcommand() = default;
    Subcommand(const Subcommand&) = delete;
    Subcommand& operator=(const Subcommand&) = delete;

    bool chosen() const { return command_.parsed(); }
    /// False for a subcommand that runs without loading the plug-in.
    virtual bool usesDevice() const { return true; }

    /// Checks what was given, before the plug-in is loaded, and returns what
    /// to run with the device.
    virtual SessionAction prepare(const GlobalOptions& global) = 0;

protected:
    CLI::App& command_;
};

}  // namespace ni_usb_daq::host
