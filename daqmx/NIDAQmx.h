/*
 * The subset of the NI-DAQmx C API that ni_usb_daq calls.
 *
 * The declarations use the vendor's C types and calling convention so that the
 * plug-in links unchanged against either the simulated driver in daqmx/sim or
 * the vendor's library (libnidaqmx.so on Linux, nicaiu.dll through its import
 * library NIDAQmx.lib on Windows). Only what the plug-in uses is declared here.
 */
#ifndef NI_USB_DAQ_NIDAQMX_H
#define NI_USB_DAQ_NIDAQMX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The driver's calling convention: stdcall on 32-bit Windows, where the
 * vendor's DLL uses it; the platform's only convention everywhere else. Every
 * function declared here carries it. */
#if defined(_WIN32) && !defined(_WIN64)
#define DAQMX_CALL __stdcall
#else
#define DAQMX_CALL
#endif

typedef int32_t int32;
typedef uint32_t uInt32;
typedef uint64_t uInt64;
typedef uint8_t uInt8;
typedef double float64;
typedef uInt32 bool32;
typedef void* TaskHandle;

/* Terminal configuration of an analogue input channel. */
#define DAQmx_Val_RSE 10083
#define DAQmx_Val_NRSE 10078
#define DAQmx_Val_Diff 10106
#define DAQmx_Val_PseudoDiff 12529

/* Terminal configurations a physical channel supports (bit set). */
#define DAQmx_Val_Bit_TermCfg_RSE 1
#define DAQmx_Val_Bit_TermCfg_NRSE 2
#define DAQmx_Val_Bit_TermCfg_Diff 4
#define DAQmx_Val_Bit_TermCfg_PseudoDIFF 8

/* Units, clock edges, sample modes, groupings and fill modes. */
#define DAQmx_Val_Volts 10348
#define DAQmx_Val_Rising 10280
#define DAQmx_Val_Falling 10171
#define DAQmx_Val_FiniteSamps 10178
#define DAQmx_Val_ContSamps 10123
#define DAQmx_Val_ChanPerLine 0
#define DAQmx_Val_ChanForAllLines 1
#define DAQmx_Val_GroupByChannel 0
#define DAQmx_Val_GroupByScanNumber 1
#define DAQmx_Val_WaitInfinitely -1.0

/* Trigger types, analogue trigger slopes, task control actions and the
 * signals a task can export. */
#define DAQmx_Val_DigEdge 10150
#define DAQmx_Val_AnlgEdge 10099
#define DAQmx_Val_None 10230
#define DAQmx_Val_RisingSlope 10280
#define DAQmx_Val_FallingSlope 10171
#define DAQmx_Val_Task_Verify 2
/* What a device's analogue input can be triggered by (DAQmxGetDevAITrigUsage). */
#define DAQmx_Val_Bit_TriggerUsageTypes_Reference (1 << 2)
#define DAQmx_Val_Bit_TriggerUsageTypes_Start (1 << 3)
#define DAQmx_Val_SampleClock 12487
#define DAQmx_Val_StartTrigger 12491

/* Statuses the project refers to by meaning, under the vendor's names. How
 * the stream reacts to each is in DriverStatusClasses.h beside this file. */
#define DAQmxSuccess 0
#define DAQmxErrorSamplesNotYetAvailable (-200284)
#define DAQmxErrorSamplesNoLongerAvailable (-200279)
#define DAQmxErrorSamplesWillNeverBeAvailable (-200278)
#define DAQmxErrorPALResourceReserved (-50103)
#define DAQmxErrorWaitUntilDoneDoesNotIndicateDone (-200560)
#define DAQmxErrorInputFIFOOverflow2 (-200361)
#define DAQmxErrorPALTransferAborted (-50405)
#define DAQmxErrorDevCannotBeAccessed (-201003)
#define DAQmxErrorRuntimeAborted_Routing (-88709)
#define DAQmxErrorDriverDeviceGUIDNotFound_Routing (-88705)
#define DAQmxErrorBufferTooSmallForString (-200228)

/* The other statuses the simulated driver returns, under the vendor's names,
 * so that its failures read as the vendor's do. */
#define DAQmxErrorReadBufferTooSmall (-200229)
#define DAQmxErrorInvalidDeviceID (-200220)
#define DAQmxErrorPhysicalChanDoesNotExist (-200170)
#define DAQmxErrorInvalidAttributeValue (-200077)
#define DAQmxErrorInvalidTask (-200088)
#define DAQmxErrorDuplicateTask (-200089)
#define DAQmxErrorNULLPtr (-200604)
#define DAQmxErrorCanNotPerformOpWhenNoChansInTask (-200478)
#define DAQmxErrorCanNotPerformOpWhileTaskRunning (-200479)
#define DAQmxErrorChanAlreadyInTask (-200489)
#define DAQmxErrorChanNotInTask (-200486)
#define DAQmxErrorMultiChanTypesInTask (-200559)
#define DAQmxErrorReadChanTypeMismatch (-200525)
#define DAQmxErrorAttributeNotSupportedInTaskContext (-200452)
#define DAQmxErrorCannotReadWhenAutoStartFalseAndTaskNotRunningOrCommitted (-200473)
#define DAQmxErrorPALMemoryFull (-50352)
#define DAQmxErrorRefTrigWhenContinuous (-200358)
#define DAQmxErrorTrigWhenOnDemandSampTiming (-200262)
#define DAQmxErrorInvalidAnalogTrigSrc (-200265)
#define DAQmxErrorInvalidTerm_Routing (-89129)
#define DAQmxErrorRouteNotSupportedByHW_Routing (-89136)

/* Errors */
int32 DAQMX_CALL DAQmxGetExtendedErrorInfo(char errorString[], uInt32 bufferSize);

/* System and device properties */
int32 DAQMX_CALL DAQmxGetSysDevNames(char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetDevProductType(const char device[], char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetDevProductNum(const char device[], uInt32* data);
int32 DAQMX_CALL DAQmxGetDevSerialNum(const char device[], uInt32* data);
int32 DAQMX_CALL DAQmxGetDevIsSimulated(const char device[], bool32* data);
int32 DAQMX_CALL DAQmxGetDevAIMaxSingleChanRate(const char device[], float64* data);
int32 DAQMX_CALL DAQmxGetDevAIMaxMultiChanRate(const char device[], float64* data);
int32 DAQMX_CALL DAQmxGetDevAIPhysicalChans(const char device[], char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetDevAIVoltageRngs(const char device[], float64* data,
                                          uInt32 arraySizeInElements);
int32 DAQMX_CALL DAQmxGetPhysicalChanAITermCfgs(const char physicalChannel[], int32* data);
/* Comma-separated, each with its leading slash: "/Dev1/PFI0, /Dev1/PFI1". */
int32 DAQMX_CALL DAQmxGetDevTerminals(const char device[], char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetDevAnlgTrigSupported(const char device[], bool32* data);
int32 DAQMX_CALL DAQmxGetDevDigTrigSupported(const char device[], bool32* data);
int32 DAQMX_CALL DAQmxGetDevAITrigUsage(const char device[], int32* data);

/* Device control */
int32 DAQMX_CALL DAQmxResetDevice(const char deviceName[]);
int32 DAQMX_CALL DAQmxSelfTestDevice(const char deviceName[]);

/* Tasks */
int32 DAQMX_CALL DAQmxCreateTask(const char taskName[], TaskHandle* taskHandle);
int32 DAQMX_CALL DAQmxCreateAIVoltageChan(TaskHandle taskHandle, const char physicalChannel[],
                                          const char nameToAssignToChannel[], int32 terminalConfig,
                                          float64 minVal, float64 maxVal, int32 units,
                                          const char customScaleName[]);
int32 DAQMX_CALL DAQmxCreateDIChan(TaskHandle taskHandle, const char lines[],
                                   const char nameToAssignToLines[], int32 lineGrouping);
int32 DAQMX_CALL DAQmxCfgSampClkTiming(TaskHandle taskHandle, const char source[], float64 rate,
                                       int32 activeEdge, int32 sampleMode,
                                       uInt64 sampsPerChanToAcquire);
int32 DAQMX_CALL DAQmxGetSampClkRate(TaskHandle taskHandle, float64* data);
int32 DAQMX_CALL DAQmxGetTaskNumChans(TaskHandle taskHandle, uInt32* data);
/* index counts from 1, in the task's channel order. */
int32 DAQMX_CALL DAQmxGetNthTaskChannel(TaskHandle taskHandle, uInt32 index, char buffer[],
                                        int32 bufferSize);
int32 DAQMX_CALL DAQmxGetAIRngHigh(TaskHandle taskHandle, const char channel[], float64* data);
int32 DAQMX_CALL DAQmxGetAIRngLow(TaskHandle taskHandle, const char channel[], float64* data);
int32 DAQMX_CALL DAQmxCfgInputBuffer(TaskHandle taskHandle, uInt32 numSampsPerChan);
int32 DAQMX_CALL DAQmxGetBufInputBufSize(TaskHandle taskHandle, uInt32* data);
int32 DAQMX_CALL DAQmxGetReadAvailSampPerChan(TaskHandle taskHandle, uInt32* data);
int32 DAQMX_CALL DAQmxTaskControl(TaskHandle taskHandle, int32 action);
int32 DAQMX_CALL DAQmxStartTask(TaskHandle taskHandle);
int32 DAQMX_CALL DAQmxStopTask(TaskHandle taskHandle);
int32 DAQMX_CALL DAQmxClearTask(TaskHandle taskHandle);

/* Triggers and exported signals */
int32 DAQMX_CALL DAQmxCfgDigEdgeStartTrig(TaskHandle taskHandle, const char triggerSource[],
                                          int32 triggerEdge);
int32 DAQMX_CALL DAQmxCfgAnlgEdgeStartTrig(TaskHandle taskHandle, const char triggerSource[],
                                           int32 triggerSlope, float64 triggerLevel);
int32 DAQMX_CALL DAQmxCfgDigEdgeRefTrig(TaskHandle taskHandle, const char triggerSource[],
                                        int32 triggerEdge, uInt32 pretriggerSamples);
int32 DAQMX_CALL DAQmxCfgAnlgEdgeRefTrig(TaskHandle taskHandle, const char triggerSource[],
                                         int32 triggerSlope, float64 triggerLevel,
                                         uInt32 pretriggerSamples);
int32 DAQMX_CALL DAQmxExportSignal(TaskHandle taskHandle, int32 signalID,
                                   const char outputTerminal[]);
int32 DAQMX_CALL DAQmxGetStartTrigType(TaskHandle taskHandle, int32* data);
int32 DAQMX_CALL DAQmxGetDigEdgeStartTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetDigEdgeStartTrigEdge(TaskHandle taskHandle, int32* data);
int32 DAQMX_CALL DAQmxGetAnlgEdgeStartTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetAnlgEdgeStartTrigSlope(TaskHandle taskHandle, int32* data);
int32 DAQMX_CALL DAQmxGetAnlgEdgeStartTrigLvl(TaskHandle taskHandle, float64* data);
int32 DAQMX_CALL DAQmxGetRefTrigType(TaskHandle taskHandle, int32* data);
int32 DAQMX_CALL DAQmxGetDigEdgeRefTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetDigEdgeRefTrigEdge(TaskHandle taskHandle, int32* data);
int32 DAQMX_CALL DAQmxGetAnlgEdgeRefTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize);
int32 DAQMX_CALL DAQmxGetAnlgEdgeRefTrigSlope(TaskHandle taskHandle, int32* data);
int32 DAQMX_CALL DAQmxGetAnlgEdgeRefTrigLvl(TaskHandle taskHandle, float64* data);
int32 DAQMX_CALL DAQmxGetRefTrigPretrigSamples(TaskHandle taskHandle, uInt32* data);

/* Reads */
int32 DAQMX_CALL DAQmxGetReadTotalSampPerChanAcquired(TaskHandle taskHandle, uInt64* data);
int32 DAQMX_CALL DAQmxReadAnalogF64(TaskHandle taskHandle, int32 numSampsPerChan, float64 timeout,
                                    bool32 fillMode, float64 readArray[], uInt32 arraySizeInSamps,
                                    int32* sampsPerChanRead, bool32* reserved);
int32 DAQMX_CALL DAQmxReadDigitalLines(TaskHandle taskHandle, int32 numSampsPerChan,
                                       float64 timeout, bool32 fillMode, uInt8 readArray[],
                                       uInt32 arraySizeInBytes, int32* sampsPerChanRead,
                                       int32* numBytesPerSamp, bool32* reserved);

#ifdef __cplusplus
}
#endif

#endif /* NI_USB_DAQ_NIDAQMX_H */
