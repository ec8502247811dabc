// The view subcommand: the stream of `stream`, shown instead of recorded.
#include "ViewCommand.h"

#include <cstdlib>
#include <iostream>
#include <thread>

#include "Acquisition.h"
#include "HostError.h"
#include "ProgressLine.h"
#include "view/LiveView.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kStopPoll{50};
constexpr std::chrono::duration<double> kProgressInterval{10.0};

/// Records nothing: the view is the stream's only consumer.
class NoRecording final : public RecordingWriter {
public:
    void begin(const RecordingFacts&) override {}
    void frame(const FrameRecord&) override {}
    void gap(const GapRecord&) override {}
    void end(const RecordingEnd&) override {}
};

int showStream(DeviceSession& session, const ViewOptions& options) {
    const StopSignals signals;
    const auto configuration = configureAcquisition(session, options.settings);
    const RecordingFacts facts = recordingFacts(session, options.settings, configuration, true);
    SystemRecoveryClock clock;
    std::optional<StreamRecovery> recovery;
    if (options.recovery.enabled) {
        recovery.emplace(options.recovery, options.settings, facts, clock);
    }
    ProgressLine progress(options.quiet, kProgressInterval);
    StreamRunHooks hooks;
    hooks.progress = [&progress](const StreamStats& stats, std::chrono::duration<double> elapsed) {
        progress.show(stats, elapsed);
    };
    hooks.recovery = recovery ? &*recovery : nullptr;
    hooks.secondStopAbandons = true;
    hooks.observer = &options.view->observer();
    NoRecording nothing;
    const StreamOutcome outcome = runStream(session, signals, {}, nothing, facts, hooks);
    progress.finish();
    if (outcome.abandoned) {
        // The plug-in's stream thread may still be inside a driver read.
        std::cerr.flush();
        std::_Exit(kInterruptedExitCode);
    }
    if (outcome.end != StreamEnd::DeviceError) {
        options.view->ended("");
        return 0;
    }
    // The page shows what ended the stream until the person watching it is done.
    std::cerr << kProgramName << ": the stream ended on a driver error: " << outcome.errorMessage
              << " (the view shows it until Ctrl-C)\n";
    options.view->ended(outcome.errorMessage);
    while (!signals.requested()) {
        std::this_thread::sleep_for(kStopPoll);
    }
    return kFailureExitCode;
}

}  // namespace

ViewCommand::ViewCommand(CLI::App& app)
    : AcquisitionCommand(app, "view",
                         "acquire until Ctrl-C and show the signals live in a browser") {
    command_
        .add_option("--port", port_, "port to serve the view on (default 8080; 0: any free one)")
        ->type_name("N");
    command_
        .add_option("--address", address_,
                    "address to listen on (default 127.0.0.1, this machine only)")
        ->type_name("A");
    auto* recover = command_.add_flag("--recover", options_.recovery.enabled,
                                      "keep going across overflows, unplugging, transfer aborts "
                                      "and resets; each outage is marked on the time axis");
    command_
        .add_option("--recover-timeout", recoverTimeout_,
                    "with --recover: the longest outage to wait out, in seconds (default 600)")
        ->type_name("S")
        ->needs(recover);
}

SessionAction ViewCommand::prepare(const GlobalOptions& global) {
    constexpr double kLongest = 1e7;
    ViewOptions options = options_;
    if (const auto timeout = secondsOption("--recover-timeout", recoverTimeout_, 0.0, kLongest)) {
        options.recovery.outageTimeout = std::chrono::duration<double>(*timeout);
    }
    options.quiet = global.quiet;
    options.settings = checkedSettings();
    requireContinuous(options.settings, "view");
    global.requireDeviceChannels(options.settings);
    view::ViewAddress where;
    where.port = port_ ? view::parsePort(*port_, "--port") : where.port;
    where.address = address_ == "localhost" ? "127.0.0.1" : address_;
    options.view = view::startLiveView(where, "");
    return [options](DeviceSession& session) mutable {
        options.settings = withDeviceDefaults(options.settings, session.device());
        return showStream(session, options);
    };
}

}  // namespace ni_usb_daq::host
