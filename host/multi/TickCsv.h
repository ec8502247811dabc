#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "OutputTarget.h"
#include "RecordingWriter.h"
#include "RigPlan.h"
#include "RigRecording.h"
#include "TextRecordingWriters.h"

namespace ni_usb_daq::host {

/// Synchronised devices as one CSV: a row per tick of the shared clock with
/// every device's columns, the leader's first. Each device's frames come
/// through its own writer, cut at other places than the others'; a row is
/// written once every device has delivered its sample. An outage is one gap
/// once every device has reported it (the devices restart together), and
/// the end comes once every device has ended.
class TickCsv : public RigRecording {
public:
    TickCsv(const RigPlan& plan, std::size_t devices, OutputTarget& target, bool timeColumn);
    ~TickCsv() override;

    RecordingWriter& writer(std::size_t index) override;
    void begun() override {}
    void ended() override {}

private:
    class Part;
    struct Pending;

    void begin(std::size_t index, const RecordingFacts& facts);
    void frame(std::size_t index, const FrameRecord& frame);
    void gap(std::size_t index, const GapRecord& gap);
    void end(std::size_t index, const RecordingEnd& end);
    void endAfterFailure(const RecordingEnd& end) noexcept;
    /// Writes the rows every device has delivered.
    void writeRows();

    RigPlan plan_;
    OutputTarget& target_;
    CsvRecordingWriter csv_;
    std::vector<std::unique_ptr<Part>> parts_;
    std::vector<Pending> pending_;
    std::vector<RecordingFacts> facts_;
    std::vector<std::optional<RecordingEnd>> ends_;
    std::vector<double> merged_;  ///< one merged frame, channels first
    std::uint64_t rows_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t nextIndex_ = 0;  ///< sample index of the next row
    bool failed_ = false;
};

}  // namespace ni_usb_daq::host
