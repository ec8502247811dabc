// The stream subcommand: frames as JSON lines or CSV rows while the stream
// runs, with a progress line for a person watching the terminal.
#include <algorithm>
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

/// Writes each frame as it came (JSON lines) or as CSV rows made from its
/// text, and flushes whenever no frame is waiting, so that a reader following
/// the stream live sees every frame at once without a write per frame when
/// frames come faster than they are written.
class FrameWriter : public StreamConsumer {
public:
    FrameWriter(OutputTarget& target, const StreamOptions& options, RecordingHeader header,
                ProgressLine& progress)
        : target_(target),
          out_(target.stream()),
          output_(options.output),
          header_(std::move(header)),
          rows_({options.output.time, header_.sampleRateHz}),
          progress_(progress) {}

    void start(std::chrono::system_clock::time_point time) { header_.start = time; }

    /// The header of a JSON lines recording, asked for with --header.
    void writeJsonHeader() {
        if (output_.format == OutputFormat::JsonLines && output_.header) {
            out_ << compactLine(headerJson(header_)) << '\n';
        }
    }

    bool onFrame(const std::string& text, const FrameNumbers& frame) override {
        if (output_.format == OutputFormat::JsonLines) {
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
            out_.put('\n');
            return written();
        }
        const auto rows = rows_.rows(text, frame, nextSample_);
        if (!rows) {
            std::cerr << kProgramName << ": malformed sample frame " << frame.sequenceNo
                      << ": its samples do not match \"sample_count\" and \"n_channels\"\n";
            return written();
        }
        if (!csvHeaderWritten_) {
            writeCsvHeader(static_cast<std::size_t>(frame.channelCount), rows_.digitalLineCount());
        }
        nextSample_ += frame.sampleCount;
        out_.write(rows->data(), static_cast<std::streamsize>(rows->size()));
        return written();
    }

    void onIdle() override {
        out_.flush();
        written();
    }

    void onTick(const StreamStats& stats, std::chrono::duration<double> elapsed) override {
        progress_.show(stats, elapsed);
    }

    /// A CSV recording that got no frame still gets its header.
    void finish() {
        if (output_.format == OutputFormat::Csv && !csvHeaderWritten_) {
            writeCsvHeader(header_.channels.size(), 0);
        }
    }

private:
    /// False when the output failed, with its reason noted before anything
    /// else can change it.
    bool written() {
        if (out_.good()) {
            return true;
        }
        target_.noteFailure();
        return false;
    }

    void writeCsvHeader(std::size_t channels, std::size_t digitalLines) {
        if (channels != header_.channels.size()) {
            header_.channels = channelNames({}, channels);  // ch0, ch1, ...
        }
        std::string text = csvComments(header_);
        CsvWriter::appendHeader(text, header_.channels, output_.time, digitalLines,
                                header_.digitalLines);
        out_ << text;
        csvHeaderWritten_ = true;
    }

    OutputTarget& target_;
    std::ostream& out_;
    const RecordingOutput output_;
    RecordingHeader header_;
    CsvRowWriter rows_;
    ProgressLine& progress_;
    bool csvHeaderWritten_ = false;
    std::uint64_t nextSample_ = 0;
};

constexpr int kOverflowStatus = -200279;

/// The stream's error message in words a person can act on when the driver's
/// buffer overflowed, else as the device said it.
std::string streamErrorText(const std::string& message) {
    if (message.find(std::to_string(kOverflowStatus)) == std::string::npos) {
        return message;
    }
    return "the consumer could not keep up: raise samples_per_channel, lower the rate, or read "
           "faster (driver status " +
           std::to_string(kOverflowStatus) + ", the device's buffer overflowed)";
}

}  // namespace

int runStream(DeviceSession& session, const StreamOptions& options, OutputTarget& target) {
    std::ostream& out = target.stream();
    const auto configuration = configureAcquisition(session, options.settings);
    const auto channels = numberEntry(configuration, "n_channels").value_or(0);
    ProgressLine progress;
    FrameWriter writer(target, options,
                       recordingHeader(session, options.settings, configuration,
                                       static_cast<std::size_t>(std::max(channels, 0.0)), {}),
                       progress);
    const StreamOutcome outcome = runStream(session, options.limits, writer, [&] {
        writer.start(std::chrono::system_clock::now());
        writer.writeJsonHeader();
    });
    writer.finish();
    progress.finish();

    if (outcome.stats.errors() > 0) {
        std::cerr << kProgramName << ": " << outcome.stats.sequenceGaps << " sequence gap(s), "
                  << outcome.stats.malformedFrames << " malformed frame(s) in "
                  << outcome.stats.frames << " frames\n";
    }
    switch (outcome.end) {
        case StreamEnd::DeviceError:
            if (options.output.format == OutputFormat::JsonLines) {
                out << compactLine({{"event", "error"}, {"message", outcome.errorMessage}}) << '\n';
            }
            target.check();
            std::cerr << kProgramName << ": " << streamErrorText(outcome.errorMessage) << '\n';
            return kFailureExitCode;
        case StreamEnd::ConsumerStopped:
            target.check();  // says why the output failed
            throw HostError("cannot write to " + target.name() + "; stream stopped");
        case StreamEnd::Interrupted:
            target.check();
            std::cerr << kProgramName << ": interrupted; stream stopped after "
                      << outcome.stats.frames << " frames\n";
            return 0;
        case StreamEnd::FrameLimit:
        case StreamEnd::TimeLimit:
            break;
    }
    target.check();
    return 0;
}

}  // namespace ni_usb_daq::host
