// ni-usb-daq-host: loads the ni_usb_daq plug-in the way a host framework does
// and drives one device stub from the command line.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Acquisition.h"
#include "Commands.h"
#include "Hdf5WriterFactory.h"
#include "HostError.h"
#include "Installation.h"
#include "KeyValueArgs.h"
#include "LogFilter.h"
#include "Output.h"
#include "Platform.h"
#include "PluginLoader.h"
#include "Settings.h"

namespace host = ni_usb_daq::host;

namespace {

/// What the chosen subcommand does once the stub exists.
using Action = std::function<int(host::DeviceSession&)>;

/// The options read and stream share: where the recording goes and in which form.
struct OutputOptions {
    std::string format;
    std::string out;
    bool time = false;
    bool header = false;
    bool noHeader = false;
    bool compress = false;
    CLI::Option* formatOption = nullptr;
    CLI::Option* outOption = nullptr;

    void add(CLI::App& command, const std::string& formats) {
        formatOption = command.add_option("--format", format, formats);
        outOption = command.add_option(
            "--out", out, "write to FILE instead of standard output (format from its extension)");
        command.add_flag("--time", time, "CSV: a time_s column (sample index / achieved rate)");
        command.add_flag("--header", header, "JSON: the recording's metadata too");
        command.add_flag("--no-header", noHeader, "JSON lines: no header event first");
        command.add_flag("--compress", compress,
                         "HDF5: shuffle and deflate (level 1) the samples; off by default");
    }

    /// `headerByDefault`: JSON lines describe themselves unless told not to.
    host::RecordingOutput resolve(const std::vector<host::OutputFormat>& accepted,
                                  host::OutputFormat fallback, bool headerByDefault) const {
        host::RecordingOutput output;
        const auto given = [](const CLI::Option* option, const std::string& value) {
            return option->count() > 0 ? std::optional<std::string>(value) : std::nullopt;
        };
        output.path = given(outOption, out);
        output.format =
            host::chooseFormat(given(formatOption, format), output.path, accepted, fallback);
        output.time = time;
        output.header = header || (headerByDefault && !noHeader);
        output.compress = compress;
        if (time && output.format != host::OutputFormat::Csv) {
            throw host::UsageError("--time adds a column to CSV output; give --format csv");
        }
        if (compress && output.format != host::OutputFormat::Hdf5) {
            throw host::UsageError(
                "--compress is for HDF5 recordings; name the file --out "
                "NAME.h5 or give --format hdf5");
        }
        if (output.format == host::OutputFormat::Hdf5) {
            host::requireHdf5Support();
            if (!output.path) {
                throw host::UsageError("an HDF5 recording is a file: give --out NAME.h5");
            }
        }
        return output;
    }

    /// HDF5 files are written by the library, which opens its file by name.
    static std::shared_ptr<host::OutputTarget> target(const host::RecordingOutput& output) {
        return std::make_shared<host::OutputTarget>(
            output.path, output.format == host::OutputFormat::Hdf5 ? host::OutputAccess::Path
                                                                   : host::OutputAccess::Stream);
    }
};

/// The command line: every option's storage and the subcommands that own
/// them. action() turns the parsed line into what to run; it checks the
/// KEY=VALUE settings first, so a malformed one never reaches the plug-in.
class CommandLine {
public:
    CommandLine() {
        app_.require_subcommand(0, 1);
        app_.fallthrough();  // global options may follow the subcommand too
        app_.add_option("--library", library_,
                        "plug-in to load (default: libni_usb_daq.so next to this program)");
        app_.add_option("--device", device_,
                        "NI-DAQmx device to drive (default: the only device, else Dev1); its "
                        "ai0 is the default channel");
        app_.add_option("--id", id_, "device id of the stub (sets KRA_DEVICE_ID)");
        auto* quiet = app_.add_flag("-q,--quiet", quiet_,
                                    "hide information lines (warnings and errors stay)");
        app_.add_flag("-v,--verbose", verbose_, "show information lines (the default)")
            ->excludes(quiet);
        app_.add_flag("--version", version_, "print the version and the plug-in file, then exit");
        settings_ = app_.add_subcommand("settings", "list the acquisition settings (KEY=VALUE)");
        settings_->add_flag("--json", settingsJson_, "as a JSON array");
        settings_->add_flag("--markdown", settingsMarkdown_, "as a Markdown table");
        addDeviceCommands();
        addAcquisitionCommands();
    }

    CLI::App& app() { return app_; }

    /// Runs what the command line asks for; the exit status.
    int run() {
        if (*settings_) {
            std::cout << (settingsJson_       ? host::settingsJson()
                          : settingsMarkdown_ ? host::settingsMarkdown()
                                              : host::settingsText());
            return finishOutput(0);
        }
        if (!version_ && app_.get_subcommands().empty()) {
            throw host::UsageError("a subcommand is required (see --help)");
        }
        const Action chosen = version_ ? Action() : action();

        const host::PluginLogFilter logFilter(quiet_);
        host::platform::ignoreBrokenPipe();
        bool manifestPointed = false;
        if (const char* dir = std::getenv("KRA_DEVICE_MANIFEST_DIR"); dir == nullptr || *dir == 0) {
            if (const auto packaged = host::packagedManifestDir()) {
                host::platform::setEnvironment("KRA_DEVICE_MANIFEST_DIR",
                                               host::utf8Text(*packaged));
                manifestPointed = true;
            }
        }
        manifestSource_ = host::manifestSource(manifestPointed);
        if (!device_.empty()) {
            host::platform::setEnvironment("NI_DEVICE_NAME", device_);
        }
        if (!id_.empty()) {
            host::platform::setEnvironment("KRA_DEVICE_ID", id_);
        }
        const host::PluginLibrary plugin(library_.empty() ? host::defaultPluginPath()
                                                          : host::pathFromUtf8(library_));
        if (version_) {
            std::cout << host::programVersion() << "\nplug-in: " << host::utf8Text(plugin.path())
                      << '\n';
            return finishOutput(0);
        }
        try {
            host::DeviceSession session = openSession(plugin);
            session.stub().initialize();
            return finishOutput(chosen(session));
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
    static int finishOutput(int status) {
        errno = 0;
        std::cout.flush();
        if (!std::cout) {
            if (errno == EPIPE) {
                throw host::OutputClosed();
            }
            throw host::HostError("cannot write to standard output");
        }
        return status;
    }

    /// A stub for the device the command line names, checked against the
    /// driver's list: an unknown device ends here, before any command runs.
    host::DeviceSession openSession(const host::PluginLibrary& plugin) const {
        const auto factory = [&plugin] { return plugin.createStub(); };
        host::DeviceSession session(plugin.createStub(), {}, factory);
        const auto listed = host::listDevices(session);
        if (!listed) {
            // Nothing to check against: the names are the plug-in's to judge.
            session.setDevice({device_.empty() ? std::string("Dev1") : device_, {}, {}});
            return session;
        }
        const auto& devices = *listed;
        const auto named = [&](const std::string& name) {
            return std::find_if(devices.begin(), devices.end(), [&](const auto& device) {
                return host::sameDriverName(device.name, name);
            });
        };
        if (!device_.empty()) {
            const auto found = named(device_);
            if (found == devices.end()) {
                throw host::HostError("unknown device '" + device_ +
                                      "': " + host::deviceListText(devices));
            }
            session.setDevice({device_, found->productType, found->serialNumber});
            return session;
        }
        if (devices.size() == 1 && !host::sameDriverName(devices.front().name, "Dev1")) {
            // The only device there is, whatever its name.
            host::platform::setEnvironment("NI_DEVICE_NAME", devices.front().name);
            return host::DeviceSession(plugin.createStub(), devices.front(), factory);
        }
        const auto dev1 = named("Dev1");
        session.setDevice(dev1 != devices.end() ? *dev1 : host::DeviceIdentity{});
        return session;
    }

    void addDeviceCommands() {
        info_ = app_.add_subcommand("info", "connect; print device info, health and self-test");
        status_ =
            app_.add_subcommand("status", "connect; print the status record of the system feature");
        auto* connect =
            status_->add_flag("--connect")->description("connect before asking (the default)");
        status_->add_flag("--no-connect", stayDisconnected_, "ask without connecting first")
            ->excludes(connect);
        configure_ = app_.add_subcommand("configure", "configure the analogue-input acquisition");
        addSettings(*configure_, configureSettings_);
        scan_ = app_.add_subcommand(
            "scan", "list the devices the driver knows, with ranges and rates per channel");
        scan_->add_flag("--all", allBuses_, "list devices of every bus, not only USB");
        scan_->add_flag("--json", scanJson_,
                        "JSON even on a terminal (one line per device there otherwise)");
        query_ = app_.add_subcommand("query", "describe a device and one of its channels");
        queryDevice_ = query_->add_option("--device-name", queryDeviceName_,
                                          "device to describe (default: --device)");
        queryChannel_ =
            query_->add_option("--channel", queryChannelName_, "physical channel to describe");
        caps_ = app_.add_subcommand("caps", "print the capability document");
    }

    void addAcquisitionCommands() {
        read_ = app_.add_subcommand("read", "read one finite block (or one value per channel)");
        read_->add_flag("--single", single_, "one value per channel (read_single)");
        readOutput_.add(*read_, "json (default), csv or hdf5");
        addSettings(*read_, readSettings_);

        stream_ = app_.add_subcommand("stream", "stream frames until a limit or Ctrl-C");
        frames_ = stream_->add_option("--frames", frameLimit_, "stop after N frames")
                      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 62));
        samples_ = stream_
                       ->add_option("--samples", sampleLimit_,
                                    "stop after exactly N samples per channel (the last frame cut)")
                       ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 62));
        seconds_ = stream_
                       ->add_option("--seconds", secondLimit_,
                                    "stop after S seconds of samples: round(S x achieved rate) "
                                    "samples per channel")
                       ->check(CLI::Range(1e-3, 1e7));
        auto* recover = stream_->add_flag("--recover", recover_,
                                          "keep recording across overflows, unplugging, transfer "
                                          "aborts and resets; each outage becomes a gap record");
        stream_
            ->add_option("--recover-timeout", recoverTimeout_,
                         "with --recover: the longest outage to wait out, in seconds (default 600)")
            ->check(CLI::Range(0.0, 1e7))
            ->needs(recover);
        stream_
            ->add_option("--max-gaps", maxGaps_,
                         "with --recover: end the run instead of recovering after N gaps")
            ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{1} << 62))
            ->needs(recover);
        streamOutput_.add(*stream_, "jsonl (default), csv or hdf5");
        addSettings(*stream_, streamSettings_);

        plot_ = app_.add_subcommand("plot", "plot a finite read (or a stretch of stream) as SVG");
        plot_->add_option("--out", plotFile_, "SVG file to write (default plot.svg)");
        plotSeconds_ = plot_
                           ->add_option("--stream-seconds", plotDuration_,
                                        "stream for S seconds instead of one finite read")
                           ->check(CLI::Range(1e-3, 3600.0));
        plotSamples_ =
            plot_
                ->add_option("--samples", plotSampleCount_,
                             "stream exactly N samples per channel instead of one finite read")
                ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 62));
        plot_->add_flag("--overlay", plotOverlay_,
                        "all channels on one set of axes (default up to four; more get a lane "
                        "each)");
        addSettings(*plot_, plotSettings_);
    }

    static void addSettings(CLI::App& command, std::vector<std::string>& settings) {
        command.add_option("settings", settings,
                           "acquisition settings as KEY=VALUE, listed below and by "
                           "'ni-usb-daq-host settings'");
        command.footer("\nSettings:\n" + host::settingsText());
    }

    /// The user's settings, checked against the table.
    static kra::device::OperationParams checked(const std::vector<std::string>& args) {
        return host::checkSettings(host::parseKeyValueArgs(args));
    }

    /// Where the other sample modes belong, for the refusals below.
    static std::string modeUse(const std::string& mode) {
        if (mode == "ON_DEMAND") {
            return " (no sample clock) is for 'read --single'";
        }
        return mode == "FINITE" ? " is not a stream (use 'read' for one finite block)"
                                : " is for stream";
    }

    /// A block read needs a finite acquisition; any other mode is refused
    /// here rather than by the driver after configuring.
    static void requireFinite(const kra::device::OperationParams& settings,
                              const std::string& command) {
        const auto mode = host::settingValue(settings, "sample_mode");
        if (settings.contains("sample_mode") && mode != "FINITE") {
            throw host::UsageError(command + " acquires one finite block: sample_mode=" + mode +
                                   modeUse(mode) + " (leave sample_mode out, or give FINITE)");
        }
    }

    /// Channels of another device than --device names are refused before
    /// anything is loaded.
    void requireDeviceChannels(const kra::device::OperationParams& settings) const {
        if (!device_.empty()) {
            host::requireChannelsOf(settings, device_);
        }
    }

    /// A recording takes its file's name only when its command succeeded.
    static int committed(int status, host::OutputTarget& target) {
        if (status == 0) {
            target.commit();
        }
        return status;
    }

    static void requireContinuous(const kra::device::OperationParams& settings,
                                  const std::string& command) {
        const auto mode = host::settingValue(settings, "sample_mode");
        if (mode != "CONTINUOUS") {
            throw host::UsageError(command + " runs until stopped: sample_mode=" + mode +
                                   modeUse(mode) +
                                   (mode == "FINITE" ? "" : " (leave sample_mode out)"));
        }
    }

    Action action() {
        if (*info_) {
            return [](host::DeviceSession& s) { return host::runInfo(s, std::cout); };
        }
        if (*status_) {
            return [this](host::DeviceSession& s) {
                return host::runStatus(s, !stayDisconnected_, std::cout);
            };
        }
        if (*configure_) {
            return [params = checked(configureSettings_)](host::DeviceSession& s) {
                return host::runConfigure(s, host::withDeviceDefaults(params, s.device()),
                                          std::cout);
            };
        }
        if (*scan_) {
            const bool lines = !scanJson_ && host::platform::stdoutIsTerminal();
            return [this, lines](host::DeviceSession& s) {
                return host::runScan(s, allBuses_, lines, std::cout);
            };
        }
        if (*query_) {
            return queryAction();
        }
        if (*caps_) {
            return [this](host::DeviceSession& s) {
                return host::runCapabilities(s, manifestSource_, quiet_, std::cout);
            };
        }
        if (*read_) {
            return readAction();
        }
        if (*stream_) {
            return streamAction();
        }
        return plotAction();
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
        options.settings = checked(readSettings_);
        if (!single_) {
            requireFinite(options.settings, "read");
        }
        requireDeviceChannels(options.settings);
        options.output = readOutput_.resolve(
            {host::OutputFormat::Json, host::OutputFormat::Csv, host::OutputFormat::Hdf5},
            host::OutputFormat::Json, false);
        // Opened now: a file that cannot be written stops the command before
        // the plug-in is even loaded.
        auto target = OutputOptions::target(options.output);
        return [options, target](host::DeviceSession& s) mutable {
            options.settings = host::withDeviceDefaults(options.settings, s.device());
            return committed(host::runRead(s, options, *target), *target);
        };
    }

    Action streamAction() {
        host::StreamOptions options;
        options.settings = checked(streamSettings_);
        requireContinuous(options.settings, "stream");
        requireDeviceChannels(options.settings);
        options.output = streamOutput_.resolve(
            {host::OutputFormat::JsonLines, host::OutputFormat::Csv, host::OutputFormat::Hdf5},
            host::OutputFormat::JsonLines, true);
        if (frames_->count() > 0) {
            options.limits.frames = frameLimit_;
        }
        if (samples_->count() > 0) {
            options.limits.samples = sampleLimit_;
        }
        if (seconds_->count() > 0) {
            options.seconds = secondLimit_;
        }
        options.recovery.enabled = recover_;
        options.recovery.outageTimeout = std::chrono::duration<double>(recoverTimeout_);
        if (maxGaps_) {
            options.recovery.maxGaps = maxGaps_;
        }
        auto target = OutputOptions::target(options.output);
        return [options, target](host::DeviceSession& s) mutable {
            options.settings = host::withDeviceDefaults(options.settings, s.device());
            return committed(host::runStream(s, options, *target), *target);
        };
    }

    Action plotAction() {
        host::PlotOptions options;
        options.settings = checked(plotSettings_);
        if (plotSeconds_->count() > 0 || plotSamples_->count() > 0) {
            requireContinuous(options.settings, plotSeconds_->count() > 0 ? "plot --stream-seconds"
                                                                          : "plot --samples");
            if (plotSeconds_->count() > 0) {
                options.streamSeconds = plotDuration_;
            }
            if (plotSamples_->count() > 0) {
                options.samples = plotSampleCount_;
            }
        } else {
            requireFinite(options.settings, "plot");
        }
        requireDeviceChannels(options.settings);
        options.overlay = plotOverlay_;
        options.out = plotFile_;
        if (host::pathFromUtf8(plotFile_).extension() != ".svg") {
            throw host::UsageError("plot writes SVG: name the file --out NAME.svg, not '" +
                                   plotFile_ + "'");
        }
        // Opened now, like the recordings: nothing is acquired for a plot
        // that cannot be saved.
        auto target = std::make_shared<host::OutputTarget>(plotFile_);
        return [options, target](host::DeviceSession& s) mutable {
            options.settings = host::withDeviceDefaults(options.settings, s.device());
            return host::runPlot(s, options, *target, std::cout);
        };
    }

    CLI::App app_{"Drives a National Instruments USB DAQ device through the ni_usb_daq plug-in.",
                  "ni-usb-daq-host"};
    std::string library_;
    std::string device_;
    std::string id_;
    bool quiet_ = false;
    bool verbose_ = false;
    bool version_ = false;
    std::string manifestSource_;

    CLI::App* settings_ = nullptr;
    bool settingsJson_ = false;
    bool settingsMarkdown_ = false;
    CLI::App* info_ = nullptr;
    CLI::App* status_ = nullptr;
    bool stayDisconnected_ = false;
    CLI::App* configure_ = nullptr;
    std::vector<std::string> configureSettings_;
    CLI::App* scan_ = nullptr;
    bool allBuses_ = false;
    bool scanJson_ = false;
    CLI::App* query_ = nullptr;
    CLI::Option* queryDevice_ = nullptr;
    CLI::Option* queryChannel_ = nullptr;
    std::string queryDeviceName_;
    std::string queryChannelName_;
    CLI::App* caps_ = nullptr;

    CLI::App* read_ = nullptr;
    bool single_ = false;
    OutputOptions readOutput_;
    std::vector<std::string> readSettings_;
    CLI::App* stream_ = nullptr;
    CLI::Option* frames_ = nullptr;
    CLI::Option* seconds_ = nullptr;
    CLI::Option* samples_ = nullptr;
    bool recover_ = false;
    double recoverTimeout_ = 600.0;
    std::optional<std::uint64_t> maxGaps_;
    std::uint64_t sampleLimit_ = 0;
    std::uint64_t frameLimit_ = 0;
    double secondLimit_ = 0;
    OutputOptions streamOutput_;
    std::vector<std::string> streamSettings_;
    CLI::App* plot_ = nullptr;
    std::string plotFile_ = "plot.svg";
    CLI::Option* plotSeconds_ = nullptr;
    double plotDuration_ = 0;
    CLI::Option* plotSamples_ = nullptr;
    std::uint64_t plotSampleCount_ = 0;
    bool plotOverlay_ = false;
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
        return commandLine.run();
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
