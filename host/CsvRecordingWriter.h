#pragma once

#include <cstdint>
#include <optional>

#include "FrameText.h"
#include "Output.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording as CSV: "# key: value" comment lines with the run's facts
/// (pandas: read_csv(f, comment='#')), the column names, one row per sample,
/// "# gap: ..." where samples were lost, and "# end: ..." with the totals,
/// followed by "# error: ..." when the run ended on an error. Rows are made
/// straight from the frame text.
class CsvRecordingWriter : public RecordingWriter {
public:
    /// `timeColumn` adds "time_s" (sample index / achieved rate).
    CsvRecordingWriter(OutputTarget& target, bool timeColumn);

    void begin(const RecordingFacts& facts) override;
    void frame(const FrameRecord& frame) override;
    void gap(const GapRecord& gap) override;
    void end(const RecordingEnd& end) override;
    void idle() override;
    std::uint64_t frameErrors() const override { return frameErrors_; }

private:
    void written();

    OutputTarget& target_;
    std::ostream& out_;
    bool timeColumn_;
    std::optional<CsvRowWriter> rows_;
    std::uint64_t frameErrors_ = 0;
    std::uint64_t digitalMissing_ = 0;
};

/// "# end: complete; samples_per_channel=..." and the rest of the summary,
/// without the line end; shared by the CSV trailer and the messages.
std::string endSummaryText(const RecordingEnd& end);

/// "complete", "interrupted" or "error".
std::string_view endKindName(RecordingEndKind kind);

}  // namespace ni_usb_daq::host
