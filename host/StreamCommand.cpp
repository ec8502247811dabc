// The stream subcommand: frames as JSON lines or CSV rows while the stream
// runs, with a progress line for a person watching the terminal.
#include <iostream>

#include "Acquisition.h"
#include "ChannelNames.h"
#include "Commands.h"
#include "CsvOutput.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "Platform.h"

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

class FrameWriter : public StreamConsumer {
public:
    FrameWriter(std::ostream& out, StreamFormat format, std::string channelList,
                ProgressLine& progress)
        : out_(out), format_(format), channelList_(std::move(channelList)), progress_(progress) {}

    bool onFrame(const std::string& text, const FrameDocument& frame) override {
        if (format_ == StreamFormat::JsonLines) {
            out_ << text << '\n';
        } else {
            CsvWriter csv(out_);
            if (!headerWritten_) {
                csv.writeHeader(channelNames(channelList_, frame.channels.size()));
                headerWritten_ = true;
            }
            csv.writeFrame(frame, nextSample_);
            nextSample_ += frame.sampleCount;
        }
        // A reader that follows the stream live sees each frame at once, and
        // a reader that went away shows here.
        out_.flush();
        return out_.good();
    }

    void onTick(const StreamStats& stats, std::chrono::duration<double> elapsed) override {
        progress_.show(stats, elapsed);
    }

private:
    std::ostream& out_;
    const StreamFormat format_;
    const std::string channelList_;
    ProgressLine& progress_;
    bool headerWritten_ = false;
    std::uint64_t nextSample_ = 0;
};

}  // namespace

int runStream(DeviceSession& session, const StreamOptions& options, std::ostream& out) {
    const auto configuration = configureAcquisition(session, options.settings);
    ProgressLine progress;
    FrameWriter writer(out, options.format, configuredChannels(configuration), progress);
    const StreamOutcome outcome = runStream(session, options.limits, writer);
    progress.finish();

    if (outcome.stats.errors() > 0) {
        std::cerr << kProgramName << ": " << outcome.stats.sequenceGaps << " sequence gap(s), "
                  << outcome.stats.malformedFrames << " malformed frame(s) in "
                  << outcome.stats.frames << " frames\n";
    }
    switch (outcome.end) {
        case StreamEnd::DeviceError:
            if (options.format == StreamFormat::JsonLines) {
                out << compactLine({{"event", "error"}, {"message", outcome.errorMessage}}) << '\n'
                    << std::flush;
            }
            std::cerr << kProgramName << ": " << outcome.errorMessage << '\n';
            return kFailureExitCode;
        case StreamEnd::ConsumerStopped:
            std::cerr << kProgramName << ": cannot write to standard output; stream stopped\n";
            return kFailureExitCode;
        case StreamEnd::Interrupted:
            std::cerr << kProgramName << ": interrupted; stream stopped after "
                      << outcome.stats.frames << " frames\n";
            return 0;
        case StreamEnd::FrameLimit:
        case StreamEnd::TimeLimit:
            break;
    }
    return 0;
}

}  // namespace ni_usb_daq::host
