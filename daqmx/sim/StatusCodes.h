#pragma once

#include "daqmx/NIDAQmx.h"

// Status codes the simulated driver returns. Values follow the vendor's
// numbering where the plug-in or its tests care about the meaning; the rest
// are distinct negative codes with texts that read like the driver's.
namespace daqmx_sim::status {

inline constexpr int32 kSuccess = 0;
inline constexpr int32 kBufferTooSmallForString = DAQmxErrorBufferTooSmallForString;
inline constexpr int32 kReadBufferTooSmall = -200229;
inline constexpr int32 kInvalidDeviceId = -200220;
inline constexpr int32 kDeviceNotAvailable = DAQmxErrorDevCannotBeAccessed;
inline constexpr int32 kPhysicalChannelDoesNotExist = -200170;
inline constexpr int32 kInvalidAttributeValue = -200077;
inline constexpr int32 kInvalidTask = -200088;
inline constexpr int32 kDuplicateTaskName = -200089;
inline constexpr int32 kSamplesNotYetAvailable = DAQmxErrorSamplesNotYetAvailable;
inline constexpr int32 kSamplesWillNeverBeAvailable = DAQmxErrorSamplesWillNeverBeAvailable;
inline constexpr int32 kSamplesNoLongerAvailable = DAQmxErrorSamplesNoLongerAvailable;
inline constexpr int32 kTransferAborted = DAQmxErrorPALTransferAborted;
inline constexpr int32 kDeviceReset = DAQmxErrorRuntimeAborted_Routing;
inline constexpr int32 kResourceReserved = DAQmxErrorPALResourceReserved;
inline constexpr int32 kNullPointer = -200604;
inline constexpr int32 kNoChannelsInTask = -200478;
inline constexpr int32 kTaskRunning = -200479;
inline constexpr int32 kDuplicateChannel = -200489;
inline constexpr int32 kChannelNotInTask = -200486;
inline constexpr int32 kChannelTypeMismatch = -200559;
inline constexpr int32 kReadTypeMismatch = -200525;
inline constexpr int32 kPropertyNotApplicable = -200452;
inline constexpr int32 kTaskStoppedDuringRead = -200473;
inline constexpr int32 kInvalidRigDescription = -200990;

}  // namespace daqmx_sim::status
