// ni-usb-daq-host: loads the ni_usb_daq plug-in the way a host framework does
// and drives one device stub from the command line.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "HostError.h"
#include "KeyValueArgs.h"
#include "Platform.h"
#include "PluginLoader.h"

namespace host = ni_usb_daq::host;

namespace {

/// What the chosen subcommand does once the stub exists.
using Action = std::function<int(host::DeviceSession&)>;

/// The command line: every option's storage and the subcommands that own
/// them. action() turns the parsed line into what to run; it checks the
/// KEY=VALUE settings first, so a malformed one never reaches the plug-in.
class CommandLine {
public:
    CommandLine() {
        app_.require_subcommand(1);
        app_.fallthrough();  // global options may follow the subcommand too
        app_.add_option("--library", library_,
                        "plug-in to load (default: libni_usb_daq.so next to this program)");
        app_.add_option("--device", device_, "NI-DAQmx device name (sets NI_DEVICE_NAME)");
        app_.add_option("--id", id_, "device id of the stub (sets KRA_DEVICE_ID)");
        addDeviceCommands();
        addAcquisitionCommands();
    }

    CLI::App& app() { return app_; }

    Action action() {
        if (*info_) {
            return [](host::DeviceSession& s) { return host::runInfo(s, std::cout); };
        }
        if (*status_) {
            return [this](host::DeviceSession& s) {
                return host::runStatus(s, connectFirst_, std::cout);
            };
        }
        if (*configure_) {
            return [params = host::parseKeyValueArgs(configureSettings_)](host::DeviceSession& s) {
                return host::runConfigure(s, params, std::cout);
            };
        }
        if (*scan_) {
            return
                [this](host::DeviceSession& s) { return host::runScan(s, allBuses_, std::cout); };
        }
        if (*query_) {
            return queryAction();
        }
        if (*caps_) {
            return [](host::DeviceSession& s) { return host::runCapabilities(s, std::cout); };
        }
        if (*read_) {
            return readAction();
        }
        if (*stream_) {
            return streamAction();
        }
        return plotAction();
    }

    /// Loads the plug-in, creates the stub from the environment the global
    /// options describe, and runs the action on it.
    int run(const Action& action) const {
        if (!device_.empty()) {
            host::platform::setEnvironment("NI_DEVICE_NAME", device_);
        }
        if (!id_.empty()) {
            host::platform::setEnvironment("KRA_DEVICE_ID", id_);
        }
        const host::PluginLibrary plugin(library_.empty() ? host::defaultPluginPath()
                                                          : host::platform::pathFromUtf8(library_));
        try {
            host::DeviceSession session(plugin.createStub());
            session.stub().initialize();
            const int status = action(session);
            std::cout.flush();
            if (!std::cout) {
                throw host::HostError("cannot write to standard output");
            }
            return status;
        } catch (const host::HostError&) {
            throw;
        } catch (const std::exception& error) {
            // An exception the plug-in threw has its destructor and what() in
            // the plug-in's library, which goes away with `plugin`: carry on
            // with a copy the program owns.
            throw host::HostError(error.what());
        }
    }

private:
    void addDeviceCommands() {
        info_ = app_.add_subcommand("info", "connect; print device info, health and self-test");
        status_ = app_.add_subcommand("status", "print the status record of the system feature");
        status_->add_flag("--connect", connectFirst_, "connect before asking");
        configure_ = app_.add_subcommand("configure", "configure the analogue-input acquisition");
        addSettings(*configure_, configureSettings_);
        scan_ = app_.add_subcommand("scan", "list the devices the driver knows");
        scan_->add_flag("--all", allBuses_, "list devices of every bus, not only USB");
        query_ = app_.add_subcommand("query", "describe a device and one of its channels");
        queryDevice_ = query_->add_option("--device-name", queryDeviceName_, "device to describe");
        queryChannel_ =
            query_->add_option("--channel", queryChannelName_, "physical channel to describe");
        caps_ = app_.add_subcommand("caps", "print the capability document");
    }

    void addAcquisitionCommands() {
        read_ = app_.add_subcommand("read", "read one finite block (or one value per channel)");
        read_->add_flag("--single", single_, "one value per channel (read_single)");
        read_->add_option("--format", readFormat_, "json (default) or csv")
            ->check(CLI::IsMember({"json", "csv"}));
        addSettings(*read_, readSettings_);

        stream_ = app_.add_subcommand("stream", "stream frames until a limit or Ctrl-C");
        frames_ = stream_->add_option("--frames", frameLimit_, "stop after N frames")
                      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 62));
        seconds_ = stream_->add_option("--seconds", secondLimit_, "stop after S seconds")
                       ->check(CLI::Range(1e-3, 1e7));
        stream_->add_option("--format", streamFormat_, "jsonl (default) or csv")
            ->check(CLI::IsMember({"jsonl", "csv"}));
        addSettings(*stream_, streamSettings_);

        plot_ = app_.add_subcommand("plot", "plot a finite read (or a stretch of stream) as SVG");
        plot_->add_option("--out", plotFile_, "SVG file to write (default plot.svg)");
        plotSeconds_ = plot_
                           ->add_option("--stream-seconds", plotDuration_,
                                        "stream for S seconds instead of one finite read")
                           ->check(CLI::Range(1e-3, 3600.0));
        addSettings(*plot_, plotSettings_);
    }

    static void addSettings(CLI::App& command, std::vector<std::string>& settings) {
        command.add_option("settings", settings,
                           "acquisition settings as KEY=VALUE (ai_channels=Dev1/ai0:3, "
                           "sample_clock_rate_hz=1000, samples_per_channel=100, ...)");
    }

    Action queryAction() {
        host::QueryOptions options;
        if (queryDevice_->count() > 0) {
            options.deviceName = queryDeviceName_;
        }
        if (queryChannel_->count() > 0) {
            options.channel = queryChannelName_;
        }
        return [options](host::DeviceSession& s) { return host::runQuery(s, options, std::cout); };
    }

    Action readAction() {
        host::ReadOptions options;
        options.single = single_;
        options.format = readFormat_ == "csv" ? host::ReadFormat::Csv : host::ReadFormat::Json;
        options.settings = host::parseKeyValueArgs(readSettings_);
        return [options](host::DeviceSession& s) { return host::runRead(s, options, std::cout); };
    }

    Action streamAction() {
        host::StreamOptions options;
        options.settings = host::parseKeyValueArgs(streamSettings_);
        options.format =
            streamFormat_ == "csv" ? host::StreamFormat::Csv : host::StreamFormat::JsonLines;
        if (frames_->count() > 0) {
            options.limits.frames = frameLimit_;
        }
        if (seconds_->count() > 0) {
            options.limits.duration = std::chrono::duration<double>(secondLimit_);
        }
        return [options](host::DeviceSession& s) { return host::runStream(s, options, std::cout); };
    }

    Action plotAction() {
        host::PlotOptions options;
        options.settings = host::parseKeyValueArgs(plotSettings_);
        options.out = host::platform::pathFromUtf8(plotFile_);
        if (plotSeconds_->count() > 0) {
            options.streamDuration = std::chrono::duration<double>(plotDuration_);
        }
        return [options](host::DeviceSession& s) { return host::runPlot(s, options, std::cout); };
    }

    CLI::App app_{"Drives a National Instruments USB DAQ device through the ni_usb_daq plug-in.",
                  "ni-usb-daq-host"};
    std::string library_;
    std::string device_;
    std::string id_;

    CLI::App* info_ = nullptr;
    CLI::App* status_ = nullptr;
    bool connectFirst_ = false;
    CLI::App* configure_ = nullptr;
    std::vector<std::string> configureSettings_;
    CLI::App* scan_ = nullptr;
    bool allBuses_ = false;
    CLI::App* query_ = nullptr;
    CLI::Option* queryDevice_ = nullptr;
    CLI::Option* queryChannel_ = nullptr;
    std::string queryDeviceName_;
    std::string queryChannelName_;
    CLI::App* caps_ = nullptr;

    CLI::App* read_ = nullptr;
    bool single_ = false;
    std::string readFormat_ = "json";
    std::vector<std::string> readSettings_;
    CLI::App* stream_ = nullptr;
    CLI::Option* frames_ = nullptr;
    CLI::Option* seconds_ = nullptr;
    std::uint64_t frameLimit_ = 0;
    double secondLimit_ = 0;
    std::string streamFormat_ = "jsonl";
    std::vector<std::string> streamSettings_;
    CLI::App* plot_ = nullptr;
    std::string plotFile_ = "plot.svg";
    CLI::Option* plotSeconds_ = nullptr;
    double plotDuration_ = 0;
    std::vector<std::string> plotSettings_;
};

}  // namespace

int main(int argc, char** argv) {
    // Frames, CSV rows and messages end in "\n" on every system.
    host::platform::useBinaryOutput();
    host::platform::Utf8Arguments arguments(argc, argv);
    CommandLine commandLine;
    try {
        commandLine.app().parse(arguments.count(), arguments.values());
    } catch (const CLI::ParseError& error) {
        return commandLine.app().exit(error) == 0 ? 0 : host::kUsageExitCode;
    }
    try {
        return commandLine.run(commandLine.action());
    } catch (const host::HostError& error) {
        std::cerr << host::kProgramName << ": " << error.what() << '\n';
        return error.exitCode();
    } catch (const std::exception& error) {
        std::cerr << host::kProgramName << ": " << error.what() << '\n';
        return host::kFailureExitCode;
    }
}
