// DAQmx entry points for triggers, exported signals and the trigger
// capabilities of devices.
#include <cmath>

#include "ErrorText.h"
#include "EscapedException.h"
#include "ExtendedError.h"
#include "NIDAQmxSimControl.h"
#include "Simulator.h"
#include "StatusCodes.h"

using namespace daqmx_sim;

namespace {

int32 notSupported(const char* function) {
    DriverCall call(function);
    if (call.scripted) {
        return *call.scripted;
    }
    return fail(status::kPropertyNotApplicable,
                errorText(status::kPropertyNotApplicable,
                          statusSummary(status::kPropertyNotApplicable), {{"Function", function}}));
}

}  // namespace

extern "C" {

#define NIDAQMX_SIM_NOT_YET(name, ...)                                        \
    int32 name(__VA_ARGS__) try { return notSupported(#name); } catch (...) { \
        return escapedException(#name);                                       \
    }

NIDAQMX_SIM_NOT_YET(DAQmxGetDevTerminals, const char[], char*, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxGetDevAnlgTrigSupported, const char[], bool32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetDevDigTrigSupported, const char[], bool32*)
NIDAQMX_SIM_NOT_YET(DAQmxTaskControl, TaskHandle, int32)
NIDAQMX_SIM_NOT_YET(DAQmxCfgDigEdgeStartTrig, TaskHandle, const char[], int32)
NIDAQMX_SIM_NOT_YET(DAQmxCfgAnlgEdgeStartTrig, TaskHandle, const char[], int32, float64)
NIDAQMX_SIM_NOT_YET(DAQmxCfgDigEdgeRefTrig, TaskHandle, const char[], int32, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxCfgAnlgEdgeRefTrig, TaskHandle, const char[], int32, float64, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxExportSignal, TaskHandle, int32, const char[])
NIDAQMX_SIM_NOT_YET(DAQmxGetStartTrigType, TaskHandle, int32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetDigEdgeStartTrigSrc, TaskHandle, char*, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxGetDigEdgeStartTrigEdge, TaskHandle, int32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetAnlgEdgeStartTrigSrc, TaskHandle, char*, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxGetAnlgEdgeStartTrigSlope, TaskHandle, int32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetAnlgEdgeStartTrigLvl, TaskHandle, float64*)
NIDAQMX_SIM_NOT_YET(DAQmxGetRefTrigType, TaskHandle, int32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetDigEdgeRefTrigSrc, TaskHandle, char*, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxGetDigEdgeRefTrigEdge, TaskHandle, int32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetAnlgEdgeRefTrigSrc, TaskHandle, char*, uInt32)
NIDAQMX_SIM_NOT_YET(DAQmxGetAnlgEdgeRefTrigSlope, TaskHandle, int32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetAnlgEdgeRefTrigLvl, TaskHandle, float64*)
NIDAQMX_SIM_NOT_YET(DAQmxGetRefTrigPretrigSamples, TaskHandle, uInt32*)
NIDAQMX_SIM_NOT_YET(DAQmxGetReadTotalSampPerChanAcquired, TaskHandle, uInt64*)

int32 DAQmxSim_GetTriggerTime(TaskHandle, double* seconds) try {
    if (seconds != nullptr) {
        *seconds = std::nan("");
    }
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_GetTriggerTime");
}

#undef NIDAQMX_SIM_NOT_YET

}  // extern "C"
