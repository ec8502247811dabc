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
#include "Platform.h"

namespace ni_usb_daq::host {

/// What `stream --recover` asks for.
struct RecoveryOptions {
    bool enabled = false;
    /// The longest one outage may last before the run ends as a failure.
    std::chrono::duration<double> outageTimeout{600.0};
    /// More gaps than this end the run; unlimited when absent.
    std::optional<std::uint64_t> maxGaps;
};

/// How the stream comes back from the driver status that ended it.
enum class RecoveryAction {
    None,       ///< not a fault of the device: the run ends
    Restart,    ///< the acquisition was lost, the device is fine: stop and start again
    Reconnect,  ///< the device went away or was reset: find it again first
};

RecoveryAction recoveryAction(std::int32_t status);

/// The driver status of an input buffer that overflowed.
inline constexpr std::int32_t kOverflowStatus = -200279;

/// The gap's reason for a status: "overflow", "transfer_abort",
/// "device_removed" or "device_reset"; a device that could not be reached
/// while it was waited for is "device_removed" whatever began the outage.
std::string gapReason(std::int32_t status, bool deviceWentAway);

/// What a recovery says to the person watching: "waiting for Dev1", ...
using RecoveryStateCallback = std::function<void(const std::string& state)>;

/// Brings a stream's acquisition back after an outage, with the settings it
/// was started with: the device with the same serial number (under its old
/// name first, or under any other), connected, configured alike and checked
/// to give the same channels and rate. The caller has stopped the stream;
/// the caller starts it again.
class StreamRecovery {
public:
    StreamRecovery(RecoveryOptions options, kra::device::OperationParams settings,
                   std::vector<std::string> channels, double sampleRateHz,
                   std::string serialNumber);

    const RecoveryOptions& options() const { return options_; }

    struct Result {
        bool recovered = false;
        bool interrupted = false;  ///< a stop request ended the wait
        bool deviceWentAway = false;
        std::string failure;  ///< why it was not recovered
    };

    /// Restarts nothing itself: makes the session ready for start_stream.
    Result recover(DeviceSession& session, RecoveryAction action,
                   const platform::StopRequests& stop, const RecoveryStateCallback& state);

    /// The device the stream now runs on.
    const std::string& deviceName() const { return deviceName_; }

private:
    /// The name the device with our serial number is listed under now;
    /// nullopt while it is not listed, or not ready to say its serial number.
    std::optional<std::string> findDevice(DeviceSession& session) const;
    /// Why a device that is listed again cannot record yet, or at all.
    struct Refusal {
        std::string reason;
        bool worthWaiting = false;  ///< it may still be coming up
    };
    /// Connects and configures; nullopt when it worked.
    std::optional<Refusal> bringUp(DeviceSession& session);
    /// The device came back as `name`: the settings and the stub follow it.
    void followRename(DeviceSession& session, const std::string& name);

    RecoveryOptions options_;
    kra::device::OperationParams settings_;
    std::vector<std::string> channels_;
    double sampleRateHz_;
    std::string serialNumber_;
    std::string deviceName_;
};

/// `text` with every channel or line of `from` renamed to `to`
/// ("Dev1/ai0:3" to "Dev3/ai0:3"); the driver matches names in any case.
std::string renameDevice(std::string_view text, std::string_view from, std::string_view to);

}  // namespace ni_usb_daq::host
