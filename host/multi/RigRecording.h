#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "OutputTarget.h"
#include "RecordingOptions.h"
#include "RecordingWriter.h"
#include "RigPlan.h"

namespace ni_usb_daq::host {

/// Where a stream of several devices is recorded: a writer per device, in
/// the plan's order, and what the recording states about all of them. Every
/// device's writer is begun before begun(), and ended before ended().
class RigRecording {
public:
    virtual ~RigRecording() = default;
    virtual RecordingWriter& writer(std::size_t index) = 0;
    /// Every device's writer has begun.
    virtual void begun() = 0;
    /// Every device's writer has ended.
    virtual void ended() = 0;
};

/// Throws UsageError when `format` cannot hold the devices of `plan`: JSON
/// lines never (a frame is one device's), CSV only when they are
/// synchronised (a row is one tick of every device).
void requireRigFormat(const RigPlan& plan, OutputFormat format);

/// The recording of the output's format: HDF5, one group per device named
/// by its serial number (its name when the driver gives none), or CSV of
/// synchronised devices, one row per tick. `facts` are the devices' own,
/// in the plan's order.
std::unique_ptr<RigRecording> makeRigRecording(const RigPlan& plan,
                                               const std::vector<RecordingFacts>& facts,
                                               OutputTarget& target, const RecordingOutput& output);

}  // namespace ni_usb_daq::host
