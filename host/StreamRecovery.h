#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "RecordingWriter.h"
#include "RecoveryClock.h"

namespace ni_usb_daq::host {

/// What `stream --recover` asks for.
struct RecoveryOptions {
    bool enabled = false;
    /// The longest one outage may last before the run ends as a failure,
    /// counted from the moment the host learns of the fault.
    std::chrono::duration<double> outageTimeout{600.0};
    /// More gaps than this end the run; unlimited when absent.
    std::optional<std::uint64_t> maxGaps;
};

/// The error state a stream ended on.
struct StreamFault {
    std::int32_t status = 0;
    std::string message;
};

/// What a recovery reports back to the stream loop.
struct RecoveryReport {
    enum class Kind {
        NotAttempted,  ///< not a fault recovery is for, or too many gaps already
        Recovered,     ///< the acquisition runs again; `gap` is the outage
        Interrupted,   ///< a stop request came first; `gap` is the outage so far
        GaveUp,        ///< the device did not come back in time, or came back unlike itself
    };
    Kind kind = Kind::NotAttempted;
    GapRecord gap;
    std::string failure;  ///< why it was not recovered; empty when there is nothing to say
};

/// What a recovery says to the person watching: "waiting for Dev1", ...
using RecoveryStateCallback = std::function<void(const std::string& state)>;

/// Starts the acquisition again on the session; throws HostError when the
/// driver refuses.
using StartStream = std::function<void()>;

/// Supervises a stream across outages. When the stream ends on a fault of
/// the connection it brings the acquisition back with the settings it was
/// started with: after an overflow it only starts it again; when the device
/// went away or was reset it waits for the device with the same serial
/// number (under its old name first, or under any other), connects,
/// configures alike and checks that the channels and rate are the same. A
/// failure on the way back is part of the same outage, until the outage's
/// timeout. It keeps the outage accounting: the gap it reports says when
/// the samples stopped, how many were lost, why, and which device the
/// samples after it come from.
class StreamRecovery {
public:
    StreamRecovery(RecoveryOptions options, kra::device::OperationParams settings,
                   const RecordingFacts& facts, RecoveryClock& clock);

    bool enabled() const { return options_.enabled; }

    /// The first acquisition started at `start` (wall clock).
    void begin(std::chrono::system_clock::time_point start) { segmentStart_ = start; }

    /// The stream ended on `fault` after `nextSample` samples per channel
    /// (written or lost); what was left of it has been stopped. `gapsSoFar`
    /// counts the gaps of the run, for --max-gaps.
    RecoveryReport recover(DeviceSession& session, const StreamFault& fault,
                           std::uint64_t nextSample, std::uint64_t gapsSoFar,
                           const StopCheck& stopRequested, const RecoveryStateCallback& state,
                           const StartStream& start);

    /// The device the stream now runs on.
    const std::string& deviceName() const { return deviceName_; }

private:
    struct Outage;
    /// One attempt to make the session ready for a start; nullopt when it is.
    struct Refusal {
        std::string reason;
        bool worthWaiting = false;  ///< it may still be coming up
    };
    std::optional<Refusal> attempt(DeviceSession& session, Outage& outage);
    std::optional<Refusal> reconnect(DeviceSession& session, Outage& outage);
    /// The name the device with our serial number is listed under now;
    /// nullopt while it is not listed, or not ready to say its serial number.
    std::optional<std::string> findDevice(DeviceSession& session) const;
    /// Connects and configures; nullopt when it worked.
    std::optional<Refusal> bringUp(DeviceSession& session);
    /// The device came back as `name`: the settings and the stub follow it.
    void followRename(DeviceSession& session, const std::string& name);
    /// The gap of `outage`, ending now.
    GapRecord gapOf(const Outage& outage) const;
    /// When the samples stopped: where the running acquisition's last one
    /// lies in time, or when the error came, whichever is earlier.
    std::chrono::system_clock::time_point samplesStopped(std::uint64_t nextSample) const;

    RecoveryOptions options_;
    kra::device::OperationParams settings_;
    std::vector<std::string> channels_;
    double sampleRateHz_;
    std::string serialNumber_;
    std::string deviceName_;
    RecoveryClock& clock_;
    /// When the running acquisition started, and the index of its first sample.
    std::chrono::system_clock::time_point segmentStart_;
    std::uint64_t segmentFirst_ = 0;
};

/// `text` with every channel or line of `from` renamed to `to`
/// ("Dev1/ai0:3" to "Dev3/ai0:3"); the driver matches names in any case.
std::string renameDevice(std::string_view text, std::string_view from, std::string_view to);

/// The status of the first "DAQmx error N" in a driver message; 0 when none.
/// A failed operation result carries its status only in its message.
std::int32_t statusInText(std::string_view message);

}  // namespace ni_usb_daq::host
