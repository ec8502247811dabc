// The stream subcommand: frames into a recording while the stream runs, with
// progress for a person watching and a closing line for the record.
#include "StreamCommand.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string_view>

#include "Acquisition.h"
#include "HostError.h"
#include "NumberFormat.h"
#include "Platform.h"
#include "ProgressLine.h"
#include "StreamRecovery.h"
#include "daqmx/DriverStatusClasses.h"
#include "multi/RigCommand.h"
#include "multi/RigRecording.h"
#include "view/LiveView.h"

namespace ni_usb_daq::host {

namespace {

/// "N things", or "1 thing".
std::string counted(std::uint64_t count, const std::string& thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

/// Seconds to the millisecond, without trailing zeros: "3", "0.25".
std::string secondsText(double seconds) {
    std::string text = formatFixed(seconds, 3);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text;
}

/// The line that closes a run that ended as asked: "FILE: F frames, N
/// samples per channel, G gaps, D s".
std::string summary(const std::string& name, const RecordingEnd& end) {
    return name + ": " + counted(end.frames, "frame") + ", " +
           std::to_string(end.samplesPerChannel) + " samples per channel, " +
           counted(end.gaps, "gap") + ", " + secondsText(end.durationS) + " s";
}

/// Why the driver's buffer overflowed, with the numbers that decide it and
/// what to change.
std::string overflowAdvice(const RecordingFacts& facts, std::int32_t status) {
    const double rate = facts.sampleRateHz;
    const auto seconds = [rate](std::uint64_t samples) {
        return rate > 0 ? " (" + formatNumber(static_cast<double>(samples) / rate) + " s)"
                        : std::string();
    };
    std::string text =
        "the driver's input buffer overflowed (status " + std::to_string(status) + "): ";
    if (facts.inputBufferSamplesPerChannel > 0) {
        text += "it holds " + std::to_string(facts.inputBufferSamplesPerChannel) +
                " samples per channel" + seconds(facts.inputBufferSamplesPerChannel) + " at " +
                formatNumber(rate) + " Hz";
    } else if (rate > 0) {
        // A plug-in that does not report the size leaves the driver's own
        // choice for a continuous task, which goes by the rate.
        const std::uint64_t size = rate <= 100         ? 1'000
                                   : rate <= 10'000    ? 10'000
                                   : rate <= 1'000'000 ? 100'000
                                                       : 1'000'000;
        text += "it holds " + std::to_string(size) + " samples per channel" + seconds(size) +
                " at " + formatNumber(rate) + " Hz (the driver's default for this rate)";
    } else {
        text += "the samples came faster than they were read";
    }
    if (facts.samplesPerFrame > 0) {
        text += ", read in blocks of " + std::to_string(facts.samplesPerFrame) +
                " samples per channel" + seconds(facts.samplesPerFrame);
    }
    text +=
        ", and the reads or the output fell behind. Raise samples_per_channel (fewer, larger "
        "blocks), lower sample_clock_rate_hz or the number of channels, or write to a faster "
        "destination";
    return text;
}

/// The sample index a stream ends at: --seconds at the achieved rate,
/// rounded. It counts samples an outage lost too, so the run spans S seconds.
std::optional<std::uint64_t> positionLimit(const StreamOptions& options, double rate) {
    if (options.seconds && rate > 0) {
        return static_cast<std::uint64_t>(std::llround(*options.seconds * rate));
    }
    return std::nullopt;
}

/// Ends what `writer` holds for certain with the failed write as its error.
void endWithFailure(RecordingWriter& writer, const OutputFailed& failure, double sampleRateHz) {
    const RecordingTally& kept = failure.kept();
    StreamOutcome ended;
    ended.end = StreamEnd::DeviceError;
    ended.errorMessage = failure.what();
    ended.stats.frames = kept.frames;
    ended.stats.samples = kept.samplesPerChannel;
    ended.stats.gaps = kept.gaps;
    ended.stats.estimatedLostSamples = kept.estimatedLostSamples;
    writer.endAfterFailure(recordingEnd(ended, sampleRateHz));
}

/// A write to the recording failed: what it holds is ended with the error
/// where there is room for it and kept as FILE.partial (FILE stays as it
/// was), and standard error says what it holds.
int keepAfterWriteFailure(const OutputFailed& failure, RecordingWriter* writer,
                          OutputTarget& target, double sampleRateHz) {
    const RecordingTally& kept = failure.kept();
    const std::string holds = std::to_string(kept.frames) + " frames (" +
                              std::to_string(kept.samplesPerChannel) + " samples per channel)";
    std::cerr << kProgramName << ": " << failure.what() << '\n';
    if (const auto gone = target.whyGone()) {
        const bool said = std::string_view(failure.what()).find(*gone) != std::string_view::npos;
        std::cerr << kProgramName << ": the recording of " << holds << " is lost"
                  << (said ? "" : ": " + *gone) << '\n';
        return kFailureExitCode;
    }
    if (writer != nullptr) {
        endWithFailure(*writer, failure, sampleRateHz);
    }
    if (!target.writesBeside()) {
        std::cerr << kProgramName << ": " << holds << " were written before it\n";
    } else if (kept.frames == 0) {
        std::cerr << kProgramName << ": no frame was recorded; " << target.name()
                  << " is as it was\n";
    } else if (const auto path = target.keepAside()) {
        std::cerr << kProgramName << ": the recording up to the failed write is kept in " << *path
                  << ": " << holds << "; " << target.name() << " is as it was\n";
    }
    return kFailureExitCode;
}

int recordStream(DeviceSession& session, const StreamOptions& options, OutputTarget& target) {
    const StopSignals signals;
    const auto configuration = configureAcquisition(session, options.settings);
    const RecordingFacts facts = recordingFacts(session, options.settings, configuration, true);
    StreamLimits limits = options.limits;
    limits.position = positionLimit(options, facts.sampleRateHz);
    if (options.seconds && !(facts.sampleRateHz > 0)) {
        // No sample clock: the seconds are the wall clock's.
        limits.duration = std::chrono::duration<double>(*options.seconds);
    }
    auto writer = RecordingOptions::writer(target, options.output);

    SystemRecoveryClock clock;
    std::optional<StreamRecovery> recovery;
    if (options.recovery.enabled) {
        recovery.emplace(options.recovery, options.settings, facts, clock);
    }

    ProgressLine progress(options.quiet, options.progressInterval);
    StreamRunHooks hooks;
    hooks.progress = [&progress](const StreamStats& stats, std::chrono::duration<double> elapsed) {
        progress.show(stats, elapsed);
    };
    hooks.recovery = recovery ? &*recovery : nullptr;
    hooks.secondStopAbandons = true;
    hooks.textFrames = options.textFrames;
    hooks.observer = options.view ? &options.view->observer() : nullptr;
    StreamOutcome outcome;
    RecordingEnd end;
    try {
        outcome = runStream(session, signals, limits, *writer, facts, hooks);
        progress.finish();
        if (options.view) {
            options.view->ended(outcome.end == StreamEnd::DeviceError ? outcome.errorMessage : "");
        }
        end = recordingEnd(outcome, facts.sampleRateHz);
        writer->end(end);
        writer.reset();  // a file writer lets go of its file
        target.check({outcome.stats.frames, outcome.stats.samples, outcome.stats.gaps,
                      outcome.stats.estimatedLostSamples});
    } catch (const OutputFailed& failure) {
        progress.finish();
        if (options.view) {
            options.view->ended(failure.what());
        }
        return keepAfterWriteFailure(failure, writer.get(), target, facts.sampleRateHz);
    }

    const StreamStats& stats = outcome.stats;
    if (stats.errors() > stats.driverErrors) {
        std::cerr << kProgramName << ": " << stats.sequenceGaps << " sequence gap(s), "
                  << stats.malformedFrames << " malformed frame(s), " << stats.writerErrors
                  << " incomplete frame(s), " << stats.queueStalls << " time(s) the output fell "
                  << "behind, in " << stats.frames << " frames\n";
    }
    switch (outcome.end) {
        case StreamEnd::DeviceError:
            std::cerr << kProgramName << ": the stream ended on a driver error after "
                      << stats.frames << " frames (" << stats.samples
                      << " samples per channel) were written: " << outcome.errorMessage << '\n';
            if (daqmx::classifyStatus(outcome.errorStatus).gapReason == "overflow") {
                std::cerr << kProgramName << ": " << overflowAdvice(facts, outcome.errorStatus)
                          << '\n';
            }
            if (stats.frames > 0) {
                // Hours of samples are not thrown away for the error that
                // ended them; the file named by --out stays as it was.
                if (const auto kept = target.keepAside()) {
                    std::cerr << kProgramName << ": the recording up to the error is kept in "
                              << *kept << "; " << target.name() << " is as it was\n";
                }
            }
            return kFailureExitCode;
        case StreamEnd::TriggerTimeout:
            std::cerr << kProgramName << ": the trigger did not come within "
                      << secondsText(options.limits.triggerWait->count())
                      << " s (--trigger-timeout); nothing was recorded\n";
            return kFailureExitCode;
        case StreamEnd::Interrupted:
            std::cerr << kProgramName << ": interrupted; stream stopped after " << stats.frames
                      << " frames (" << stats.samples << " samples per channel), all "
                      << (outcome.abandoned ? "received written" : "written") << '\n';
            if (outcome.abandoned) {
                // The plug-in's stream thread may still be inside a driver
                // read: the recording is complete and in place, and the
                // process ends without waiting for it.
                target.commit();
                std::cout.flush();
                std::cerr.flush();
                std::_Exit(kInterruptedExitCode);
            }
            return 0;
        case StreamEnd::FrameLimit:
        case StreamEnd::SampleLimit:
        case StreamEnd::TimeLimit:
            if (!options.quiet) {
                std::cerr << kProgramName << ": " << summary(target.name(), end) << '\n';
            }
            break;
    }
    return 0;
}

}  // namespace

StreamCommand::StreamCommand(CLI::App& app)
    : AcquisitionCommand(app, "stream", "stream frames until a limit or Ctrl-C"),
      output_(command_, "jsonl (default), csv or hdf5") {
    command_.add_option("--frames", numbers_.frames, "stop after N frames")->type_name("N");
    command_
        .add_option("--samples", numbers_.samples,
                    "stop after exactly N samples per channel (the last frame cut); 100k, 2.5M")
        ->type_name("N");
    command_
        .add_option("--seconds", numbers_.seconds,
                    "stop after S seconds of samples: round(S x achieved rate) samples per "
                    "channel")
        ->type_name("S");
    command_
        .add_option("--trigger-timeout", numbers_.triggerTimeout,
                    "with a start trigger: give up (exit 1) when no sample has come S seconds "
                    "after the start (default: wait until Ctrl-C)")
        ->type_name("S");
    auto* recover = command_.add_flag("--recover", options_.recovery.enabled,
                                      "keep recording across overflows, unplugging, transfer "
                                      "aborts and resets; each outage becomes a gap record");
    command_
        .add_option("--recover-timeout", numbers_.recoverTimeout,
                    "with --recover: the longest outage to wait out, in seconds (default 600)")
        ->type_name("S")
        ->needs(recover);
    command_
        .add_option("--max-gaps", numbers_.maxGaps,
                    "with --recover: end the run instead of recovering after N gaps")
        ->type_name("N")
        ->needs(recover);
    command_
        .add_option("--progress-interval", numbers_.progressInterval,
                    "when standard error is not a terminal: a progress line every S seconds "
                    "(default 10; -q: none)")
        ->type_name("S");
    command_
        .add_option("--view", numbers_.view,
                    "show the stream live in a browser while it records: serve the view on "
                    "[ADDRESS:]PORT (address 127.0.0.1 unless given; port 0: any free one)")
        ->type_name("[ADDR:]PORT");
    command_
        .add_option("--share-clock", shareClock_,
                    "channels of several devices: the leader (the first channel's device) "
                    "exports its sample clock to LEADER_TERMINAL, wired to the follower's "
                    "FOLLOWER_TERMINAL; one pair per follower")
        ->type_name("LEADER_TERMINAL=FOLLOWER_TERMINAL")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command_
        .add_option("--share-start", shareStart_,
                    "the same for the leader's start trigger, on which the followers start")
        ->type_name("LEADER_TERMINAL=FOLLOWER_TERMINAL")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    // Samples as numbers are what CSV and HDF5 record from; the way through
    // the frame texts stays reachable to measure the two against each other.
    command_.add_flag("--text-frames", options_.textFrames)->group("");
}

SessionAction StreamCommand::prepare(const GlobalOptions& global) {
    // Limits far beyond any run, which keep the sample arithmetic in range.
    constexpr double kShortest = 1e-3;
    constexpr double kLongest = 1e7;
    StreamOptions options = options_;
    options.limits.frames = countOption("--frames", numbers_.frames, 1);
    options.limits.samples = countOption("--samples", numbers_.samples, 1);
    options.seconds = secondsOption("--seconds", numbers_.seconds, kShortest, kLongest);
    if (const auto timeout =
            secondsOption("--recover-timeout", numbers_.recoverTimeout, 0.0, kLongest)) {
        options.recovery.outageTimeout = std::chrono::duration<double>(*timeout);
    }
    options.recovery.maxGaps = countOption("--max-gaps", numbers_.maxGaps, 0);
    if (const auto wait =
            secondsOption("--trigger-timeout", numbers_.triggerTimeout, kShortest, kLongest)) {
        options.limits.triggerWait = std::chrono::duration<double>(*wait);
    }
    if (const auto interval =
            secondsOption("--progress-interval", numbers_.progressInterval, kShortest, kLongest)) {
        options.progressInterval = std::chrono::duration<double>(*interval);
    }
    options.quiet = global.quiet;
    options.settings = checkedSettings();
    requireContinuous(options.settings, "stream");
    options.rig = planRig(options.settings, shareClock_, shareStart_);
    if (!options.rig) {
        global.requireDeviceChannels(options.settings);
    }
    options.output =
        output_.resolve({OutputFormat::JsonLines, OutputFormat::Csv, OutputFormat::Hdf5},
                        OutputFormat::JsonLines, true);
    if (options.rig) {
        requireRigFormat(*options.rig, options.output.format);
        if (numbers_.view) {
            throw UsageError("--view shows one device's stream; these channels are of " +
                             std::to_string(options.rig->devices.size()) +
                             " devices: leave --view out, or record one device");
        }
        return RecordingOptions::action(options, recordRigStream);
    }
    if (numbers_.view) {
        // Listening before the output is opened: a port in use leaves it untouched.
        options.view = view::startLiveView(view::parseViewAddress(*numbers_.view, "--view"),
                                           options.output.path.value_or("standard output"));
    }
    return RecordingOptions::action(options, recordStream);
}

}  // namespace ni_usb_daq::host
