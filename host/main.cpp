// ni-usb-daq-host: loads the ni_usb_daq plug-in the way a host framework does
// and drives one device stub from the command line.
#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "CommandRunner.h"
#include "HostError.h"
#include "Platform.h"
#include "PlotCommand.h"
#include "ReadCommand.h"
#include "ReportingCommands.h"
#include "StreamCommand.h"
#include "ViewCommand.h"

namespace host = ni_usb_daq::host;

int main(int argc, char** argv) {
    // Frames, CSV rows and messages end in "\n" on every system.
    host::platform::useBinaryOutput();
    host::platform::Utf8Arguments arguments(argc, argv);
    CLI::App app{"Drives a National Instruments USB DAQ device through the ni_usb_daq plug-in.",
                 "ni-usb-daq-host"};
    const host::GlobalOptions global(app);
    std::vector<std::unique_ptr<host::Subcommand>> subcommands;
    subcommands.push_back(std::make_unique<host::SettingsCommand>(app));
    subcommands.push_back(std::make_unique<host::InfoCommand>(app));
    subcommands.push_back(std::make_unique<host::StatusCommand>(app));
    subcommands.push_back(std::make_unique<host::ConfigureCommand>(app));
    subcommands.push_back(std::make_unique<host::ScanCommand>(app));
    subcommands.push_back(std::make_unique<host::QueryCommand>(app));
    subcommands.push_back(std::make_unique<host::CapsCommand>(app));
    subcommands.push_back(std::make_unique<host::ReadCommand>(app));
    subcommands.push_back(std::make_unique<host::StreamCommand>(app));
    subcommands.push_back(std::make_unique<host::ViewCommand>(app));
    subcommands.push_back(std::make_unique<host::PlotCommand>(app));
    try {
        app.parse(arguments.count(), arguments.values());
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : host::kUsageExitCode;
    }
    try {
        return host::runCommandLine(global, subcommands);
    } catch (const host::OutputClosed& closed) {
        return closed.exitCode();
    } catch (const host::Interrupted& interrupted) {
        return interrupted.exitCode();
    } catch (const host::HostError& error) {
        std::cerr << host::kProgramName << ": " << error.what() << '\n';
        return error.exitCode();
    } catch (const std::exception& error) {
        std::cerr << host::kProgramName << ": " << error.what() << '\n';
        return host::kFailureExitCode;
    }
}
