// The subcommands that answer with one document and record no samples, one
// small class each.
#pragma once

#include <iostream>
#include <optional>

#include "Acquisition.h"
#include "AcquisitionCommand.h"
#include "DeviceCommands.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "Platform.h"
#include "Settings.h"
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

/// `scan`: the devices the driver knows, as lines on a terminal, else JSON.
class ScanCommand : public Subcommand {
public:
    explicit ScanCommand(CLI::App& app)
        : Subcommand(app, "scan",
                     "list the devices the driver knows, with ranges and rates per channel") {
        command_.add_flag("--all", allBuses_, "list devices of every bus, not only USB");
        command_.add_flag("--json", json_,
                          "JSON even on a terminal (one line per device there otherwise)");
    }

    SessionAction prepare(const GlobalOptions&) override {
        const bool lines = !json_ && platform::stdoutIsTerminal();
        return [all = allBuses_, lines](DeviceSession& session) {
            return runScan(session, all, lines, std::cout);
        };
    }

private:
    bool allBuses_ = false;
    bool json_ = false;
};

/// `query`: one device's description, and one of its channels'.
class QueryCommand : public Subcommand {
public:
    explicit QueryCommand(CLI::App& app)
        : Subcommand(app, "query", "describe a device and one of its channels") {
        command_.add_option("--device-name", options_.deviceName,
                            "device to describe (default: --device)");
        command_.add_option("--channel", options_.channel, "physical channel to describe");
    }

    SessionAction prepare(const GlobalOptions&) override {
        return [options = options_](DeviceSession& session) {
            return runQuery(session, options, std::cout);
        };
    }

private:
    QueryOptions options_;
};

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

/// `settings`: the table of acquisition settings; needs no device.
class SettingsCommand : public Subcommand {
public:
    explicit SettingsCommand(CLI::App& app)
        : Subcommand(app, "settings", "list the acquisition settings (KEY=VALUE)") {
        command_.add_flag("--json", json_, "as a JSON array");
        command_.add_flag("--markdown", markdown_, "as a Markdown table");
    }

    bool usesDevice() const override { return false; }

    SessionAction prepare(const GlobalOptions&) override {
        std::cout << (json_ ? settingsJson() : markdown_ ? settingsMarkdown() : settingsText());
        return {};
    }

private:
    bool json_ = false;
    bool markdown_ = false;
};

/// `configure`: passes the settings on, every sample mode included, and
/// prints the result, failed or not.
class ConfigureCommand : public AcquisitionCommand {
public:
    explicit ConfigureCommand(CLI::App& app)
        : AcquisitionCommand(app, "configure", "configure the analogue-input acquisition") {}

    SessionAction prepare(const GlobalOptions&) override {
        return [params = checkedSettings()](DeviceSession& session) {
            const auto result = session.execute("analog_input", "configure",
                                                withDeviceDefaults(params, session.device()));
            writeDocument(std::cout, toJson(result));
            if (!result.success) {
                std::cerr << kProgramName << ": configure failed: " << result.error << '\n';
                return kFailureExitCode;
            }
            return 0;
        };
    }
};

}  // namespace ni_usb_daq::host
