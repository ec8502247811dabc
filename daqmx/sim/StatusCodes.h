#pragma once

#include "NIDAQmxSimControl.h"
#include "daqmx/NIDAQmx.h"

// The statuses the simulated driver returns, by what they mean to it. The
// values live in NIDAQmx.h (the vendor's) and NIDAQmxSimControl.h (the
// simulator's own faults); these are only the driver's names for them.
namespace daqmx_sim::status {

inline constexpr int32 kSuccess = DAQmxSuccess;
inline constexpr int32 kBufferTooSmallForString = DAQmxErrorBufferTooSmallForString;
inline constexpr int32 kReadBufferTooSmall = DAQmxErrorReadBufferTooSmall;
inline constexpr int32 kInvalidDeviceId = DAQmxErrorInvalidDeviceID;
inline constexpr int32 kDeviceNotAvailable = DAQmxErrorDevCannotBeAccessed;
inline constexpr int32 kPhysicalChannelDoesNotExist = DAQmxErrorPhysicalChanDoesNotExist;
inline constexpr int32 kInvalidAttributeValue = DAQmxErrorInvalidAttributeValue;
inline constexpr int32 kInvalidTask = DAQmxErrorInvalidTask;
inline constexpr int32 kDuplicateTaskName = DAQmxErrorDuplicateTask;
inline constexpr int32 kSamplesNotYetAvailable = DAQmxErrorSamplesNotYetAvailable;
inline constexpr int32 kSamplesWillNeverBeAvailable = DAQmxErrorSamplesWillNeverBeAvailable;
inline constexpr int32 kSamplesNoLongerAvailable = DAQmxErrorSamplesNoLongerAvailable;
inline constexpr int32 kTransferAborted = DAQmxErrorPALTransferAborted;
inline constexpr int32 kDeviceReset = DAQmxErrorRuntimeAborted_Routing;
inline constexpr int32 kResourceReserved = DAQmxErrorPALResourceReserved;
inline constexpr int32 kNullPointer = DAQmxErrorNULLPtr;
inline constexpr int32 kNoChannelsInTask = DAQmxErrorCanNotPerformOpWhenNoChansInTask;
inline constexpr int32 kTaskRunning = DAQmxErrorCanNotPerformOpWhileTaskRunning;
inline constexpr int32 kDuplicateChannel = DAQmxErrorChanAlreadyInTask;
inline constexpr int32 kChannelNotInTask = DAQmxErrorChanNotInTask;
inline constexpr int32 kChannelTypeMismatch = DAQmxErrorMultiChanTypesInTask;
inline constexpr int32 kReadTypeMismatch = DAQmxErrorReadChanTypeMismatch;
inline constexpr int32 kPropertyNotApplicable = DAQmxErrorAttributeNotSupportedInTaskContext;
inline constexpr int32 kTaskStoppedDuringRead =
    DAQmxErrorCannotReadWhenAutoStartFalseAndTaskNotRunningOrCommitted;
inline constexpr int32 kOutOfMemory = DAQmxErrorPALMemoryFull;
inline constexpr int32 kInvalidTerminal = DAQmxErrorInvalidTerm_Routing;
inline constexpr int32 kRouteNotSupported = DAQmxErrorRouteNotSupportedByHW_Routing;
inline constexpr int32 kReferenceTriggerWhenContinuous = DAQmxErrorRefTrigWhenContinuous;
inline constexpr int32 kTriggerWithoutSampleClock = DAQmxErrorTrigWhenOnDemandSampTiming;
inline constexpr int32 kInvalidAnalogTriggerSource = DAQmxErrorInvalidAnalogTrigSrc;
inline constexpr int32 kInvalidRigDescription = DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION;
inline constexpr int32 kInvalidEventSchedule = DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE;
inline constexpr int32 kInternalFault = DAQMXSIM_ERROR_INTERNAL;

}  // namespace daqmx_sim::status
