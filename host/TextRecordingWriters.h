#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "CsvRows.h"
#include "OutputTarget.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording written as text through its target (CSV, JSON lines): every
/// write is checked, and an idle moment makes what was written visible.
class TextRecordingWriter : public RecordingWriter {
public:
    explicit TextRecordingWriter(OutputTarget& target) : out_(target.stream()), target_(target) {}

    void idle() override {
        out_.flush();
        written();
    }
    std::uint64_t frameErrors() const override { return frameErrors_; }

protected:
    /// Throws (through the target) when the last write failed.
    void written() {
        if (!out_.good()) {
            target_.noteFailure();
            target_.check();
        }
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
