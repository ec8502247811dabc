#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "TextRecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording as JSON lines: {"event":"header",...} with the run's facts
/// (unless left out), then every frame exactly as the plug-in wrote it,
/// {"event":"gap",...} where samples were lost, {"event":"end",...} with the
/// totals, and {"event":"error",...} last when the run ended on an error.
class JsonLinesRecordingWriter : public TextRecordingWriter {
public:
    JsonLinesRecordingWriter(OutputTarget& target, bool header);

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
