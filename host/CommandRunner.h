#pragma once

#include <memory>
#include <vector>

#include "GlobalOptions.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// Runs what the parsed command line asks for: the chosen subcommand's checks
/// first, then the plug-in, a stub for the device and the subcommand's
/// action; or --version. The exit status; failures are thrown as HostError.
int runCommandLine(const GlobalOptions& global,
                   const std::vector<std::unique_ptr<Subcommand>>& subcommands);

}  // namespace ni_usb_daq::host
