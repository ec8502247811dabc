// The plot subcommand: one finite read, or a stretch of stream, as an SVG.
#include <algorithm>
#include <fstream>
#include <iostream>

#include "Acquisition.h"
#include "ChannelNames.h"
#include "Commands.h"
#include "FrameDocument.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "SvgPlot.h"

namespace ni_usb_daq::host {

namespace {

// Ends a plot stream early rather than hold an unbounded recording in
// memory; an unpaced simulator can deliver millions of samples a second.
constexpr std::size_t kMaxRecordedValues = 4'000'000;

/// Appends every frame's samples to one series per channel.
class Recorder : public StreamConsumer {
public:
    bool onFrame(const std::string& text, const FrameNumbers& /*numbers*/) override {
        const FrameDocument frame = parseFrame(text);
        if (series_.empty()) {
            series_.resize(frame.channels.size());
        }
        if (frame.channels.size() != series_.size()) {
            throw HostError("the channel count changed during the stream");
        }
        for (std::size_t c = 0; c < series_.size(); ++c) {
            series_[c].insert(series_[c].end(), frame.channels[c].begin(), frame.channels[c].end());
            recorded_ += frame.channels[c].size();
        }
        if (recorded_ >= kMaxRecordedValues) {
            std::cerr << kProgramName << ": recorded " << recorded_
                      << " values, the most a plot keeps; stream stopped early\n";
            return false;
        }
        return true;
    }

    std::vector<std::vector<double>> take() { return std::move(series_); }

private:
    std::vector<std::vector<double>> series_;
    std::size_t recorded_ = 0;
};

struct Recording {
    kra::device::StringMap configuration;
    std::vector<std::vector<double>> channels;
};

Recording recordFinite(DeviceSession& session, const kra::device::OperationParams& settings) {
    FiniteRead read = readFinite(session, settings);
    return {std::move(read.configuration), parseFrame(read.frameText).channels};
}

Recording recordStream(DeviceSession& session, const kra::device::OperationParams& settings,
                       std::chrono::duration<double> duration) {
    Recording recording;
    recording.configuration = configureAcquisition(session, settings);
    Recorder recorder;
    const StreamOutcome outcome = runStream(session, {std::nullopt, duration}, recorder);
    if (outcome.end == StreamEnd::DeviceError) {
        throw HostError(outcome.errorMessage);
    }
    recording.channels = recorder.take();
    if (recording.channels.empty()) {
        // No frame came in time: still one (empty) trace per channel.
        const auto channels = numberEntry(recording.configuration, "n_channels").value_or(0);
        recording.channels.resize(static_cast<std::size_t>(std::max(channels, 0.0)));
    }
    return recording;
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    if (!file) {
        throw HostError("cannot write '" + utf8Text(path) + "'");
    }
}

}  // namespace

int runPlot(DeviceSession& session, const PlotOptions& options, std::ostream& out) {
    Recording recording = options.streamDuration
                              ? recordStream(session, options.settings, *options.streamDuration)
                              : recordFinite(session, options.settings);
    const double rate = configuredSampleRate(recording.configuration);
    const auto names =
        channelNames(configuredChannels(recording.configuration), recording.channels.size());
    const std::size_t samples = recording.channels.empty() ? 0 : recording.channels.front().size();

    PlotInput plot;
    plot.sampleRateHz = rate;
    plot.title = std::to_string(names.size()) + " channel(s), " + std::to_string(samples) +
                 " samples at " + formatNumber(rate) + " Hz";
    for (std::size_t c = 0; c < recording.channels.size(); ++c) {
        plot.traces.push_back({names[c], std::move(recording.channels[c])});
    }
    writeFile(options.out, renderSvgPlot(plot));
    writeDocument(out, {{"svg", utf8Text(options.out)},
                        {"channels", names},
                        {"samples_per_channel", samples},
                        {"sample_rate_hz", rate}});
    return 0;
}

}  // namespace ni_usb_daq::host
