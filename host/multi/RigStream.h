#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeviceSession.h"
#include "RecordingWriter.h"
#include "RigPlan.h"
#include "RigRecording.h"
#include "StreamRecovery.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

/// One device of a stream of several, configured: its own session, the
/// settings it was configured with and what configure reported.
struct RigMember {
    DeviceSession session;
    kra::device::OperationParams settings;
    RecordingFacts facts;
    StreamLimits limits;  ///< its own: --seconds counts at its own rate
};

/// What runRig reports and asks of its caller besides the recording.
struct RigRunHooks {
    /// The leader's frames and samples, every device's errors.
    ProgressCallback progress;
    /// Brings the devices back together after an outage of any of them.
    std::optional<RecoveryOptions> recovery;
    RecoveryClock* clock = nullptr;
};

/// How a stream of several devices ended: each device's outcome (in the
/// plan's order), and the run's end, which is the first error any device
/// ended on, else the leader's.
struct RigOutcome {
    StreamEnd end = StreamEnd::FrameLimit;
    std::string errorMessage;  ///< "Dev4: ..." when a device ended on an error
    std::int32_t errorStatus = 0;
    std::vector<StreamOutcome> devices;
};

/// Starts the configured devices (followers first, so that they wait for the
/// leader's start trigger; the leader last), begins every device's writer,
/// and records each device's frames through its writer until every device
/// reached its limit, a stop request or an error of any device ends them
/// all. With a recovery, an outage of any device stops them all, brings the
/// device back, starts them together again and writes a gap for each, so
/// that their sample indices stay in step. The writers' end() is left to
/// the caller.
RigOutcome runRig(std::vector<std::unique_ptr<RigMember>>& members, const RigPlan& plan,
                  RigRecording& recording, const StopSignals& signals, const RigRunHooks& hooks);

}  // namespace ni_usb_daq::host
