#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

/// One channel as the driver set it up for the run.
struct ChannelFacts {
    std::string name;  ///< physical channel, e.g. "Dev1/ai0"
    double rangeMinV = 0.0;
    double rangeMaxV = 0.0;
    std::string terminalConfig;  ///< "RSE", "DIFF", ...
    std::string units = "V";
};

/// What a recording's header states: facts the plug-in reported back for
/// this run (device of the channels, ranges in use, achieved rate at full
/// precision), never the request alone.
struct RecordingFacts {
    std::string device;  ///< the device the channels belong to
    std::string productType;
    std::string serialNumber;
    std::vector<ChannelFacts> channels;     ///< in task order
    std::vector<std::string> digitalLines;  ///< one name per recorded line; empty for none
    double sampleRateHz = 0.0;              ///< achieved (else requested), full precision
    double requestedSampleRateHz = 0.0;
    std::string sampleMode;
    std::string settingsJson;  ///< the settings configure was given, as a JSON object text
    std::string program;       ///< "ni-usb-daq-host 0.1.0"
    std::chrono::system_clock::time_point start;
    std::uint64_t samplesPerFrame = 0;  ///< block size per channel; 0 when unknown
    /// The driver's input buffer per channel of a continuous task; 0 when unknown.
    std::uint64_t inputBufferSamplesPerChannel = 0;
    /// The triggers as the driver read them back, compact JSON objects
    /// (type, source, edge or level; a reference trigger's pretrigger
    /// samples, which is also the row of its trigger); empty for none.
    std::string startTriggerJson;
    std::string referenceTriggerJson;
};

/// One frame of the stream, checked: its samples are what its counts say.
struct FrameRecord {
    std::uint64_t sequenceNo = 0;
    std::int64_t timestampNs = 0;
    std::uint64_t firstSample = 0;  ///< index of its first sample since the start
    std::uint64_t sampleCount = 0;  ///< samples per channel
    std::uint64_t channelCount = 0;
    /// channelCount x sampleCount values, channel after channel (channel c's
    /// run starts at c x sampleCount); values that were not finite stay so.
    /// Empty for a writer that takes the frame's text.
    std::span<const double> samples;
    /// The frame's digital snapshot, 1 or 0 per line; empty when it has none.
    std::span<const std::uint8_t> digitalLines;
    /// The frame's compact JSON text as the plug-in wrote it (cut to
    /// sampleCount), for a writer that takes it; empty for the others.
    std::string_view text;
};

/// An outage the recording went on across: samples in it were lost.
struct GapRecord {
    std::string reason;       ///< "overflow", "transfer_abort", "device_removed", "reset", ...
    std::int32_t status = 0;  ///< the driver status that began it
    std::chrono::system_clock::time_point outageStart;
    std::chrono::system_clock::time_point outageEnd;
    std::uint64_t lastSampleIndex = 0;       ///< index of the last sample before it
    bool hasLastSample = false;              ///< false when no sample came before it
    std::uint64_t estimatedLostSamples = 0;  ///< per channel: outage x rate, rounded
    /// How estimatedLostSamples was found: "wall_clock" for an outage (the
    /// host cannot see the device's clock), "frame_size" for missing or
    /// malformed frames, whose size is known.
    std::string estimatedFrom = "frame_size";
    /// The device the samples after the gap come from, and its serial number:
    /// after a replug it may have come back under another name.
    std::string device;
    std::string serialNumber;
};

enum class RecordingEndKind { Complete, Interrupted, Error };

/// "complete", "interrupted" or "error".
inline std::string_view endKindName(RecordingEndKind kind) {
    constexpr std::array<std::string_view, 3> kNames = {"complete", "interrupted", "error"};
    return kNames.at(static_cast<std::size_t>(kind));
}

/// How the recording ended, with its totals.
struct RecordingEnd {
    RecordingEndKind kind = RecordingEndKind::Complete;
    std::string errorMessage;  ///< when kind is Error
    std::int32_t errorStatus = 0;
    std::uint64_t samplesPerChannel = 0;
    std::uint64_t frames = 0;
    std::uint64_t gaps = 0;
    std::uint64_t estimatedLostSamples = 0;
    std::uint64_t errors = 0;  ///< sequence gaps, malformed frames, missing digital snapshots
    double durationS = 0.0;
};

/// One recording format (CSV, JSON lines, HDF5). The stream loop hands every
/// format the same calls, in this order: begin, then frames and gaps as they
/// come, then end. Each call throws OutputFailed when a write to the output
/// fails, HostError for anything else.
class RecordingWriter {
public:
    virtual ~RecordingWriter() = default;

    /// True for a writer that copies each frame's text as it came (and
    /// reads none of its numbers); the others are handed the samples.
    virtual bool takesFrameText() const { return false; }

    virtual void begin(const RecordingFacts& facts) = 0;
    virtual void frame(const FrameRecord& frame) = 0;
    virtual void gap(const GapRecord& gap) = 0;
    virtual void end(const RecordingEnd& end) = 0;
    /// No frame is waiting: a moment to make what was written visible.
    virtual void idle() {}
    /// After a call threw OutputFailed: ends what the output holds for
    /// certain with `end` where there is room for it, and lets go of the
    /// output. Nothing else is called after it.
    virtual void endAfterFailure(const RecordingEnd& end) noexcept { (void)end; }
    /// Frames so far that could not be written whole (malformed text, a
    /// missing digital snapshot); each was said on standard error.
    virtual std::uint64_t frameErrors() const { return 0; }
};

}  // namespace ni_usb_daq::host
