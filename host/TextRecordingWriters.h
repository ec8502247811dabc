#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "CsvRows.h"
#include "OutputTarget.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording written as text through its target (CSV, JSON lines). Each
/// whole record is flushed as it is written, so that a write that fails
/// leaves the records before it whole: a file is then cut back to them and
/// ended with the error, and the failure says what the output holds.
class TextRecordingWriter : public RecordingWriter {
public:
    explicit TextRecordingWriter(OutputTarget& target) : out_(target.stream()), target_(target) {}

    std::uint64_t frameErrors() const override { return frameErrors_; }
    void endAfterFailure(const RecordingEnd& end) noexcept override {
        // Only a file can lose the broken end of a record; written in place,
        // it is already out, and an end after it would only hide that.
        if (!target_.reopenAtLastRecord()) {
            return;
        }
        try {
            this->end(end);
        } catch (const std::exception&) {
            target_.reopenAtLastRecord();  // no room for the end either
        }
    }

protected:
    /// A whole record was written (the header, a frame, a gap, the end),
    /// which adds `added` to what the output holds. Throws OutputFailed
    /// (OutputClosed for a closed pipe) when the output failed.
    void recorded(const RecordingTally& added = {}) {
        if (!target_.flushRecord()) {
            target_.fail(kept_);
        }
        kept_.frames += added.frames;
        kept_.samplesPerChannel += added.samplesPerChannel;
        kept_.gaps += added.gaps;
        kept_.estimatedLostSamples += added.estimatedLostSamples;
    }
    /// Counts a frame without the digital snapshot its columns expect as an
    /// error; true for the first, which the writer says on standard error.
    bool firstWithoutDigital() {
        ++frameErrors_;
        return ++digitalMissing_ == 1;
    }

    std::ostream& out_;
    std::uint64_t frameErrors_ = 0;

private:
    OutputTarget& target_;
    RecordingTally kept_;  ///< what the output holds
    std::uint64_t digitalMissing_ = 0;
};

/// A recording as CSV: "# key: value" comment lines with the run's facts
/// (pandas: read_csv(f, comment='#')), the column names, one row per sample,
/// "# gap: ..." where samples were lost, and "# end: ..." with the totals,
/// followed by "# error: ..." when the run ended on an error. Rows are
/// printed from the frame's samples.
class CsvRecordingWriter : public TextRecordingWriter {
public:
    /// `timeColumn` adds "time_s" (sample index / achieved rate).
    CsvRecordingWriter(OutputTarget& target, bool timeColumn);

    void begin(const RecordingFacts& facts) override;
    void frame(const FrameRecord& frame) override;
    void gap(const GapRecord& gap) override;
    void end(const RecordingEnd& end) override;

private:
    bool timeColumn_;
    std::optional<CsvRowWriter> rows_;
};

/// A recording as JSON lines: {"event":"header",...} with the run's facts
/// (unless left out), then every frame exactly as the plug-in wrote it,
/// {"event":"gap",...} where samples were lost, {"event":"end",...} with the
/// totals, and {"event":"error",...} last when the run ended on an error.
class JsonLinesRecordingWriter : public TextRecordingWriter {
public:
    JsonLinesRecordingWriter(OutputTarget& target, bool header);

    bool takesFrameText() const override { return true; }
    void begin(const RecordingFacts& facts) override;
    void frame(const FrameRecord& frame) override;
    void gap(const GapRecord& gap) override;
    void end(const RecordingEnd& end) override;

private:
    bool header_;
    bool digital_ = false;
};

/// The facts as the header event states them ("event": "header").
nlohmann::json headerEvent(const RecordingFacts& facts);

}  // namespace ni_usb_daq::host
