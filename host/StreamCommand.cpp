// The stream subcommand: frames into a recording while the stream runs, with
// a progress line for a person watching the terminal.
#include "StreamCommand.h"

#include <cmath>
#include <iostream>
#include <memory>
#include <string_view>

#include "Acquisition.h"
#include "HostError.h"
#include "NumberFormat.h"
#include "Platform.h"
#include "StreamRecovery.h"

namespace ni_usb_daq::host {

namespace {

/// "frames N | R samples/s | errors E" on standard error, rewritten in place
/// with '\r'. Only a terminal gets it: in a log file it would be noise.
class ProgressLine {
public:
    ProgressLine() : enabled_(platform::stderrIsTerminal()) {}

    void show(const StreamStats& stats, std::chrono::duration<double> elapsed) {
        if (!enabled_) {
            return;
        }
        const double seconds = elapsed.count();
        const double rate = seconds > 0 ? static_cast<double>(stats.samples) / seconds : 0.0;
        std::string line = "frames " + std::to_string(stats.frames) + " | " + formatFixed(rate, 1) +
                           " samples/s | errors " + std::to_string(stats.errors());
        if (!stats.state.empty()) {
            line += " | " + stats.state;
        } else if (stats.recoveries > 0) {
            line += " | recording, recovered " + std::to_string(stats.recoveries) +
                    (stats.recoveries == 1 ? " time" : " times");
        }
        const std::size_t length = line.size();
        if (length < width_) {
            line.append(width_ - length, ' ');  // wipe the end of a longer line
        }
        width_ = length;
        std::cerr << '\r' << line << std::flush;
        shown_ = true;
    }

    void finish() {
        if (shown_) {
            std::cerr << '\n';
            shown_ = false;
        }
    }

private:
    bool enabled_;
    bool shown_ = false;
    std::size_t width_ = 0;
};

/// Why the driver's buffer overflowed, with the numbers that decide it and
/// what to change.
std::string overflowAdvice(const RecordingFacts& facts) {
    const double rate = facts.sampleRateHz;
    const auto seconds = [rate](std::uint64_t samples) {
        return rate > 0 ? " (" + formatNumber(static_cast<double>(samples) / rate) + " s)"
                        : std::string();
    };
    std::string text =
        "the driver's input buffer overflowed (status " + std::to_string(kOverflowStatus) + "): ";
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

    std::optional<StreamRecovery> recovery;
    if (options.recovery.enabled) {
        std::vector<std::string> channels;
        for (const auto& channel : facts.channels) {
            channels.push_back(channel.name);
        }
        recovery.emplace(options.recovery, options.settings, std::move(channels),
                         facts.sampleRateHz, facts.serialNumber);
    }

    ProgressLine progress;
    StreamOutcome outcome;
    try {
        outcome = runStream(
            session, signals, limits, *writer, facts,
            [&progress](const StreamStats& stats, std::chrono::duration<double> elapsed) {
                progress.show(stats, elapsed);
            },
            recovery ? &*recovery : nullptr);
        progress.finish();
        writer->end(recordingEnd(outcome, facts.sampleRateHz));
        writer.reset();  // a file writer lets go of its file
        target.check({outcome.stats.frames, outcome.stats.samples, outcome.stats.gaps,
                      outcome.stats.estimatedLostSamples});
    } catch (const OutputFailed& failure) {
        progress.finish();
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
            if (outcome.errorStatus == kOverflowStatus) {
                std::cerr << kProgramName << ": " << overflowAdvice(facts) << '\n';
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
        case StreamEnd::Interrupted:
            std::cerr << kProgramName << ": interrupted; stream stopped after " << stats.frames
                      << " frames (" << stats.samples << " samples per channel), all written\n";
            return 0;
        case StreamEnd::FrameLimit:
        case StreamEnd::SampleLimit:
        case StreamEnd::TimeLimit:
            break;
    }
    return 0;
}

}  // namespace

StreamCommand::StreamCommand(CLI::App& app)
    : AcquisitionCommand(app, "stream", "stream frames until a limit or Ctrl-C"),
      output_(command_, "jsonl (default), csv or hdf5") {
    constexpr std::uint64_t kMostCount = std::uint64_t{1} << 62;
    command_.add_option("--frames", options_.limits.frames, "stop after N frames")
        ->check(CLI::Range(std::uint64_t{1}, kMostCount));
    command_
        .add_option("--samples", options_.limits.samples,
                    "stop after exactly N samples per channel (the last frame cut)")
        ->check(CLI::Range(std::uint64_t{1}, kMostCount));
    command_
        .add_option("--seconds", options_.seconds,
                    "stop after S seconds of samples: round(S x achieved rate) samples per "
                    "channel")
        ->check(CLI::Range(1e-3, 1e7));
    auto* recover = command_.add_flag("--recover", options_.recovery.enabled,
                                      "keep recording across overflows, unplugging, transfer "
                                      "aborts and resets; each outage becomes a gap record");
    command_
        .add_option("--recover-timeout", recoverTimeout_,
                    "with --recover: the longest outage to wait out, in seconds (default 600)")
        ->check(CLI::Range(0.0, 1e7))
        ->needs(recover);
    command_
        .add_option("--max-gaps", options_.recovery.maxGaps,
                    "with --recover: end the run instead of recovering after N gaps")
        ->check(CLI::Range(std::uint64_t{0}, kMostCount))
        ->needs(recover);
}

SessionAction StreamCommand::prepare(const GlobalOptions& global) {
    StreamOptions options = options_;
    options.settings = checkedSettings();
    requireContinuous(options.settings, "stream");
    global.requireDeviceChannels(options.settings);
    options.output =
        output_.resolve({OutputFormat::JsonLines, OutputFormat::Csv, OutputFormat::Hdf5},
                        OutputFormat::JsonLines, true);
    options.recovery.outageTimeout = std::chrono::duration<double>(recoverTimeout_);
    return RecordingOptions::action(options, recordStream);
}

}  // namespace ni_usb_daq::host
