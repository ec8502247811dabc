#pragma once

// How a stream reacts to the driver statuses that can end a block read: one
// table that the plug-in's stream loop and the host's recovery both read, so
// that the two never disagree on what a status means.

#include <algorithm>
#include <array>
#include <string_view>

#include "daqmx/NIDAQmx.h"

namespace daqmx {

/// What the host's recovery does once a stream has ended on a status.
enum class AfterStreamEnd {
    EndRun,     ///< not a fault of the connection: the run ends
    Restart,    ///< the acquisition was lost, the device is fine: stop and start again
    Reconnect,  ///< the device went away or was reset: find it again first
};

struct StatusClass {
    int32 status;
    /// The plug-in's stream loop pauses and reads again, a few times in a row,
    /// before it gives up on the stream.
    bool retriedByStream;
    AfterStreamEnd afterStreamEnd;
    /// The gap a recovery from it leaves in a recording.
    std::string_view gapReason;
};

// A status that the plug-in retries and the host then restarts from is
// consistent: the retry rides out a blip, the restart a lasting one.
inline constexpr std::array<StatusClass, 10> kStatusClasses{{
    {DAQmxErrorSamplesNotYetAvailable, true, AfterStreamEnd::Restart, "driver_error"},
    {DAQmxErrorSamplesNoLongerAvailable, true, AfterStreamEnd::Restart, "overflow"},
    {DAQmxErrorSamplesWillNeverBeAvailable, true, AfterStreamEnd::Restart, "driver_error"},
    {DAQmxErrorPALResourceReserved, true, AfterStreamEnd::Restart, "driver_error"},
    {DAQmxErrorWaitUntilDoneDoesNotIndicateDone, true, AfterStreamEnd::Restart, "driver_error"},
    {DAQmxErrorInputFIFOOverflow2, true, AfterStreamEnd::Restart, "overflow"},
    {DAQmxErrorPALTransferAborted, false, AfterStreamEnd::Reconnect, "transfer_abort"},
    {DAQmxErrorDevCannotBeAccessed, false, AfterStreamEnd::Reconnect, "device_removed"},
    {DAQmxErrorRuntimeAborted_Routing, false, AfterStreamEnd::Reconnect, "device_reset"},
    {DAQmxErrorDriverDeviceGUIDNotFound_Routing, false, AfterStreamEnd::Reconnect,
     "device_removed"},
}};

/// Every status not in the table: not retried, and the run ends.
inline constexpr StatusClass kUnclassifiedStatus{0, false, AfterStreamEnd::EndRun, "driver_error"};

constexpr const StatusClass& classifyStatus(int32 status) {
    const auto* found = std::find_if(kStatusClasses.begin(), kStatusClasses.end(),
                                     [status](const StatusClass& c) { return c.status == status; });
    return found != kStatusClasses.end() ? *found : kUnclassifiedStatus;
}

}  // namespace daqmx
