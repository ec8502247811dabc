// The plot subcommand: one finite read, or a stretch of stream, as an SVG.
#include "PlotCommand.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "Acquisition.h"
#include "FrameReaders.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "OutputFormat.h"
#include "StreamSession.h"
#include "SvgPlot.h"
#include "UtcText.h"
#include "Utf8Path.h"

namespace ni_usb_daq::host {

using kra::device::pathFromUtf8;

namespace {

// A plot holds its whole recording in memory; an unpaced simulator can
// deliver millions of samples a second, so a plot stream stops here.
constexpr std::uint64_t kMaxRecordedValues = 4'000'000;

// More channels than this share one set of axes badly: each gets a lane.
constexpr std::size_t kMostOverlaidChannels = 4;

/// Appends every frame's samples to one series per channel.
class Recorder : public RecordingWriter {
public:
    explicit Recorder(std::size_t channels = 0) : series_(channels) {}
    void begin(const RecordingFacts& facts) override { series_.resize(facts.channels.size()); }

    void frame(const FrameRecord& frame) override {
        if (frame.channelCount != series_.size() ||
            frame.samples.size() != frame.channelCount * frame.sampleCount) {
            throw HostError("the channel count changed during the stream");
        }
        append(frame.samples, frame.sampleCount);
    }

    /// Samples of `sampleCount` per channel, channel after channel, after the others.
    void append(std::span<const double> values, std::uint64_t sampleCount) {
        for (std::size_t c = 0; c < series_.size(); ++c) {
            const auto run = values.subspan(c * sampleCount, sampleCount);
            series_[c].insert(series_[c].end(), run.begin(), run.end());
        }
    }

    void gap(const GapRecord& /*gap*/) override {
        // Lost samples break the line rather than join its two sides.
        for (auto& series : series_) {
            series.push_back(std::numeric_limits<double>::quiet_NaN());
        }
    }

    void end(const RecordingEnd& /*end*/) override {}

    std::vector<std::vector<double>> take() { return std::move(series_); }

private:
    std::vector<std::vector<double>> series_;
};

struct Recording {
    RecordingFacts facts;
    std::vector<std::vector<double>> channels;
};

Recording recordFinite(DeviceSession& session, const kra::device::OperationParams& settings,
                       OutputTarget& target) {
    FiniteRead read = readFinite(session, settings, &target, "plot");
    Recording recording;
    recording.facts = recordingFacts(session, settings, read.configuration, false);
    recording.facts.start = read.start;
    FrameContents contents;
    if (readTextFrame(read.frameText, FrameValues::Read, contents).kind !=
        FrameReading::Kind::Whole) {
        throw HostError(
            "malformed sample frame: its samples do not match \"sample_count\" and "
            "\"n_channels\"");
    }
    Recorder recorder(contents.numbers.channelCount);
    recorder.append(contents.samples(), contents.numbers.sampleCount);
    recording.channels = recorder.take();
    return recording;
}

Recording recordStream(DeviceSession& session, const PlotOptions& options, OutputTarget& target) {
    const StopSignals signals;
    const auto configuration = configureAcquisition(session, options.settings);
    Recording recording;
    recording.facts = recordingFacts(session, options.settings, configuration, false);
    const double rate = recording.facts.sampleRateHz;
    StreamLimits limits;
    limits.samples = options.samples;
    if (options.streamSeconds && rate > 0) {
        const auto samples =
            static_cast<std::uint64_t>(std::llround(*options.streamSeconds * rate));
        limits.samples = limits.samples ? std::min(*limits.samples, samples) : samples;
    } else if (options.streamSeconds) {
        limits.duration = std::chrono::duration<double>(*options.streamSeconds);
    }
    const std::uint64_t most =
        kMaxRecordedValues / std::max<std::size_t>(recording.facts.channels.size(), 1);
    const bool capped = !limits.samples || *limits.samples > most;
    if (capped) {
        limits.samples = most;
    }
    Recorder recorder;
    const StreamOutcome outcome = runStream(session, signals, limits, recorder, recording.facts);
    switch (outcome.end) {
        case StreamEnd::DeviceError:
            throw HostError(outcome.errorMessage);
        case StreamEnd::Interrupted:
            target.discard();
            std::cerr << kProgramName << ": plot: interrupted; nothing written\n";
            throw Interrupted();
        default:
            break;
    }
    if (capped && outcome.end == StreamEnd::SampleLimit) {
        std::cerr << kProgramName << ": recorded " << outcome.stats.samples
                  << " samples per channel, the most a plot keeps; stream stopped early\n";
    }
    recording.facts.start =
        std::chrono::system_clock::now() -
        std::chrono::duration_cast<std::chrono::system_clock::duration>(outcome.elapsed);
    recording.channels = recorder.take();
    recording.channels.resize(recording.facts.channels.size());
    return recording;
}

int runPlot(DeviceSession& session, const PlotOptions& options, OutputTarget& target,
            std::ostream& out) {
    const bool streamed = options.streamSeconds || options.samples;
    Recording recording = streamed ? recordStream(session, options, target)
                                   : recordFinite(session, options.settings, target);
    const RecordingFacts& facts = recording.facts;
    const double rate = facts.sampleRateHz;
    std::vector<std::string> names;
    for (const auto& channel : facts.channels) {
        names.push_back(channel.name);
    }
    const std::size_t samples = recording.channels.empty() ? 0 : recording.channels.front().size();

    PlotInput plot;
    plot.sampleRateHz = rate > 0 ? rate : 1.0;
    plot.title = facts.device + (facts.productType.empty() ? "" : " (" + facts.productType + ")") +
                 ", started " + utcText(facts.start) + ": " + std::to_string(names.size()) +
                 " channel(s), " + std::to_string(samples) + " samples at " + formatNumber(rate) +
                 " Hz";
    plot.lanes = !options.overlay && names.size() > kMostOverlaidChannels;
    for (std::size_t c = 0; c < recording.channels.size() && c < names.size(); ++c) {
        plot.traces.push_back({names[c], std::move(recording.channels[c])});
    }
    target.stream() << renderSvgPlot(plot);
    target.commit();
    writeDocument(out, {{"svg", options.out},
                        {"device", facts.device},
                        {"channels", names},
                        {"samples_per_channel", samples},
                        {"sample_rate_hz", rate},
                        {"start_utc", utcText(facts.start)}});
    return 0;
}

}  // namespace

PlotCommand::PlotCommand(CLI::App& app)
    : AcquisitionCommand(app, "plot", "plot a finite read (or a stretch of stream) as SVG") {
    command_.add_option("--out", options_.out, "SVG file to write (default plot.svg)");
    command_
        .add_option("--stream-seconds", streamSeconds_,
                    "stream for S seconds instead of one finite read")
        ->type_name("S");
    command_
        .add_option("--samples", samples_,
                    "stream exactly N samples per channel instead of one finite read; 100k")
        ->type_name("N");
    command_.add_flag("--overlay", options_.overlay,
                      "all channels on one set of axes (default up to four; more get a lane "
                      "each)");
}

SessionAction PlotCommand::prepare(const GlobalOptions& global) {
    PlotOptions options = options_;
    options.streamSeconds = secondsOption("--stream-seconds", streamSeconds_, 1e-3, 3600.0);
    options.samples = countOption("--samples", samples_, 1);
    options.settings = checkedSettings();
    if (options.streamSeconds || options.samples) {
        requireContinuous(options.settings,
                          options.streamSeconds ? "plot --stream-seconds" : "plot --samples");
    } else {
        requireFinite(options.settings, "plot");
    }
    global.requireDeviceChannels(options.settings);
    if (!hasExtension(options.out, ".svg")) {
        throw UsageError("plot writes SVG: name the file --out NAME.svg, not '" + options.out +
                         "'");
    }
    // Opened now, like the recordings: nothing is acquired for a plot that
    // cannot be saved.
    auto target = std::make_shared<OutputTarget>(options.out);
    return [options, target](DeviceSession& session) mutable {
        options.settings = withDeviceDefaults(options.settings, session.device());
        return runPlot(session, options, *target, std::cout);
    };
}

}  // namespace ni_usb_daq::host
