#pragma once

#include <cstdint>
#include <optional>

#include "FrameText.h"
#include "TextRecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording as CSV: "# key: value" comment lines with the run's facts
/// (pandas: read_csv(f, comment='#')), the column names, one row per sample,
/// "# gap: ..." where samples were lost, and "# end: ..." with the totals,
/// followed by "# error: ..." when the run ended on an error. Rows are made
/// straight from the frame text.
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

}  // namespace ni_usb_daq::host
