// DAQmx entry points for triggers, exported signals, task verification and
// the trigger capabilities of devices.
#include <cmath>
#include <mutex>
#include <string>

#include "ErrorText.h"
#include "EscapedException.h"
#include "ExtendedError.h"
#include "NIDAQmxSimControl.h"
#include "OutputBuffers.h"
#include "Simulator.h"
#include "StatusCodes.h"
#include "Triggers.h"

using namespace daqmx_sim;

namespace {

int32 invalidArgument(const SimTask& task, std::string_view property, int32 value) {
    return taskFailure(
        status::kInvalidAttributeValue, task,
        {{"Property", std::string(property)}, {"Requested Value", std::to_string(value)}});
}

// Configures one trigger of a task that is not running; the driver checks
// the source and what the device can do only when the task is verified.
int32 configureTrigger(const char* function, TaskHandle handle, bool reference, int32 type,
                       const char* source, int32 edge, double level, uInt32 pretrigger) {
    TaskCall call(function, handle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (task->running) {
        return taskFailure(status::kTaskRunning, *task);
    }
    const bool analog = type == DAQmx_Val_AnlgEdge;
    if (analog ? edge != DAQmx_Val_RisingSlope && edge != DAQmx_Val_FallingSlope
               : edge != DAQmx_Val_Rising && edge != DAQmx_Val_Falling) {
        return invalidArgument(
            *task, analog ? "DAQmx_AnlgEdge_StartTrig_Slope" : "DAQmx_DigEdge_StartTrig_Edge",
            edge);
    }
    if (analog && !std::isfinite(level)) {
        return taskFailure(status::kInvalidAttributeValue, *task,
                           {{"Property", "DAQmx_AnlgEdge_StartTrig_Lvl"},
                            {"Requested Value", formatNumber(level)}});
    }
    const std::string given = source ? source : "";
    TriggerSetup& trigger = reference ? task->referenceTrigger : task->startTrigger;
    trigger = {type, analog ? given : asTerminal(call.sim, given, *task), edge,
               analog ? level : 0.0, reference ? pretrigger : 0};
    return 0;
}

// Reads back one value of a trigger of the given type.
template <typename Value, typename Getter>
int32 triggerValue(const char* function, TaskHandle handle, bool reference, int32 type, Value* data,
                   Getter getter) {
    TaskCall call(function, handle, true, data);
    const SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    const TriggerSetup& trigger = reference ? task->referenceTrigger : task->startTrigger;
    if (trigger.type != type) {
        return taskFailure(status::kPropertyNotApplicable, *task,
                           {{"Property", std::string(function + 8)}});
    }
    *data = getter(trigger);
    return 0;
}

int32 triggerSource(const char* function, TaskHandle handle, bool reference, int32 type, char* data,
                    uInt32 bufferSize) {
    TaskCall call(function, handle);
    const SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    const TriggerSetup& trigger = reference ? task->referenceTrigger : task->startTrigger;
    if (trigger.type != type) {
        return taskFailure(status::kPropertyNotApplicable, *task,
                           {{"Property", std::string(function + 8)}});
    }
    return writeStringProperty(trigger.source, data, bufferSize);
}

int32 triggerType(const char* function, TaskHandle handle, bool reference, int32* data) {
    TaskCall call(function, handle, true, data);
    if (call.task != nullptr) {
        *data = (reference ? call.task->referenceTrigger : call.task->startTrigger).type;
    }
    return call.status;
}

template <typename Getter>
int32 deviceFlag(const char* function, const char device[], bool32* data, Getter getter) {
    DeviceCall call(function, device);
    if (call.device == nullptr) {
        return call.status;
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    *data = getter(*call.device) ? 1 : 0;
    return 0;
}

constexpr auto kEdge = [](const TriggerSetup& t) { return t.edge; };
constexpr auto kLevel = [](const TriggerSetup& t) { return t.level; };

}  // namespace

extern "C" {

int32 DAQmxGetDevTerminals(const char device[], char* data, uInt32 bufferSize) try {
    DeviceCall call("DAQmxGetDevTerminals", device);
    if (call.device == nullptr) {
        return call.status;
    }
    std::string text;
    for (const PfiTerminal& pfi : call.device->pfi) {
        text += text.empty() ? "/" : ", /";
        text += call.device->name + "/" + pfi.name;
    }
    return writeStringProperty(text, data, bufferSize);
} catch (...) {
    return escapedException("DAQmxGetDevTerminals");
}

int32 DAQmxGetDevAnlgTrigSupported(const char device[], bool32* data) try {
    return deviceFlag("DAQmxGetDevAnlgTrigSupported", device, data,
                      [](const SimDevice& d) { return d.analogTriggers; });
} catch (...) {
    return escapedException("DAQmxGetDevAnlgTrigSupported");
}

int32 DAQmxGetDevDigTrigSupported(const char device[], bool32* data) try {
    return deviceFlag("DAQmxGetDevDigTrigSupported", device, data,
                      [](const SimDevice& d) { return d.digitalTriggers; });
} catch (...) {
    return escapedException("DAQmxGetDevDigTrigSupported");
}

int32 DAQmxGetDevAITrigUsage(const char device[], int32* data) try {
    DeviceCall call("DAQmxGetDevAITrigUsage", device);
    if (call.device == nullptr) {
        return call.status;
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    const SimDevice& d = *call.device;
    const bool any = d.digitalTriggers || d.analogTriggers;
    *data = (any ? DAQmx_Val_Bit_TriggerUsageTypes_Start : 0) |
            (any && d.referenceTriggers ? DAQmx_Val_Bit_TriggerUsageTypes_Reference : 0);
    return 0;
} catch (...) {
    return escapedException("DAQmxGetDevAITrigUsage");
}

int32 DAQmxTaskControl(TaskHandle taskHandle, int32 action) try {
    TaskCall call("DAQmxTaskControl", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (action != DAQmx_Val_Task_Verify) {
        // Only verification is modelled; the other actions are not used.
        return invalidArgument(*task, "action", action);
    }
    if (task->kind == ChannelKind::None) {
        return taskFailure(status::kNoChannelsInTask, *task);
    }
    return verifyTriggers(call.sim, *task);
} catch (...) {
    return escapedException("DAQmxTaskControl");
}

int32 DAQmxCfgDigEdgeStartTrig(TaskHandle taskHandle, const char triggerSource[],
                               int32 triggerEdge) try {
    return configureTrigger("DAQmxCfgDigEdgeStartTrig", taskHandle, false, DAQmx_Val_DigEdge,
                            triggerSource, triggerEdge, 0.0, 0);
} catch (...) {
    return escapedException("DAQmxCfgDigEdgeStartTrig");
}

int32 DAQmxCfgAnlgEdgeStartTrig(TaskHandle taskHandle, const char triggerSource[],
                                int32 triggerSlope, float64 triggerLevel) try {
    return configureTrigger("DAQmxCfgAnlgEdgeStartTrig", taskHandle, false, DAQmx_Val_AnlgEdge,
                            triggerSource, triggerSlope, triggerLevel, 0);
} catch (...) {
    return escapedException("DAQmxCfgAnlgEdgeStartTrig");
}

int32 DAQmxCfgDigEdgeRefTrig(TaskHandle taskHandle, const char triggerSource[], int32 triggerEdge,
                             uInt32 pretriggerSamples) try {
    return configureTrigger("DAQmxCfgDigEdgeRefTrig", taskHandle, true, DAQmx_Val_DigEdge,
                            triggerSource, triggerEdge, 0.0, pretriggerSamples);
} catch (...) {
    return escapedException("DAQmxCfgDigEdgeRefTrig");
}

int32 DAQmxCfgAnlgEdgeRefTrig(TaskHandle taskHandle, const char triggerSource[], int32 triggerSlope,
                              float64 triggerLevel, uInt32 pretriggerSamples) try {
    return configureTrigger("DAQmxCfgAnlgEdgeRefTrig", taskHandle, true, DAQmx_Val_AnlgEdge,
                            triggerSource, triggerSlope, triggerLevel, pretriggerSamples);
} catch (...) {
    return escapedException("DAQmxCfgAnlgEdgeRefTrig");
}

int32 DAQmxExportSignal(TaskHandle taskHandle, int32 signalID, const char outputTerminal[]) try {
    TaskCall call("DAQmxExportSignal", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (signalID != DAQmx_Val_SampleClock && signalID != DAQmx_Val_StartTrigger) {
        return invalidArgument(*task, "signalID", signalID);
    }
    std::string& route =
        signalID == DAQmx_Val_SampleClock ? task->sampleClockExport : task->startTriggerExport;
    const std::string previous = route;
    route = asTerminal(call.sim, outputTerminal ? outputTerminal : "", *task);
    // Routes are reserved as they are made, so a terminal that cannot carry
    // the signal is refused here rather than at the start.
    if (const int32 refused = verifyTriggers(call.sim, *task);
        refused == status::kInvalidTerminal || refused == status::kRouteNotSupported) {
        route = previous;
        return refused;
    }
    return 0;
} catch (...) {
    return escapedException("DAQmxExportSignal");
}

int32 DAQmxGetStartTrigType(TaskHandle taskHandle, int32* data) try {
    return triggerType("DAQmxGetStartTrigType", taskHandle, false, data);
} catch (...) {
    return escapedException("DAQmxGetStartTrigType");
}

int32 DAQmxGetDigEdgeStartTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize) try {
    return triggerSource("DAQmxGetDigEdgeStartTrigSrc", taskHandle, false, DAQmx_Val_DigEdge, data,
                         bufferSize);
} catch (...) {
    return escapedException("DAQmxGetDigEdgeStartTrigSrc");
}

int32 DAQmxGetDigEdgeStartTrigEdge(TaskHandle taskHandle, int32* data) try {
    return triggerValue("DAQmxGetDigEdgeStartTrigEdge", taskHandle, false, DAQmx_Val_DigEdge, data,
                        kEdge);
} catch (...) {
    return escapedException("DAQmxGetDigEdgeStartTrigEdge");
}

int32 DAQmxGetAnlgEdgeStartTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize) try {
    return triggerSource("DAQmxGetAnlgEdgeStartTrigSrc", taskHandle, false, DAQmx_Val_AnlgEdge,
                         data, bufferSize);
} catch (...) {
    return escapedException("DAQmxGetAnlgEdgeStartTrigSrc");
}

int32 DAQmxGetAnlgEdgeStartTrigSlope(TaskHandle taskHandle, int32* data) try {
    return triggerValue("DAQmxGetAnlgEdgeStartTrigSlope", taskHandle, false, DAQmx_Val_AnlgEdge,
                        data, kEdge);
} catch (...) {
    return escapedException("DAQmxGetAnlgEdgeStartTrigSlope");
}

int32 DAQmxGetAnlgEdgeStartTrigLvl(TaskHandle taskHandle, float64* data) try {
    return triggerValue("DAQmxGetAnlgEdgeStartTrigLvl", taskHandle, false, DAQmx_Val_AnlgEdge, data,
                        kLevel);
} catch (...) {
    return escapedException("DAQmxGetAnlgEdgeStartTrigLvl");
}

int32 DAQmxGetRefTrigType(TaskHandle taskHandle, int32* data) try {
    return triggerType("DAQmxGetRefTrigType", taskHandle, true, data);
} catch (...) {
    return escapedException("DAQmxGetRefTrigType");
}

int32 DAQmxGetDigEdgeRefTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize) try {
    return triggerSource("DAQmxGetDigEdgeRefTrigSrc", taskHandle, true, DAQmx_Val_DigEdge, data,
                         bufferSize);
} catch (...) {
    return escapedException("DAQmxGetDigEdgeRefTrigSrc");
}

int32 DAQmxGetDigEdgeRefTrigEdge(TaskHandle taskHandle, int32* data) try {
    return triggerValue("DAQmxGetDigEdgeRefTrigEdge", taskHandle, true, DAQmx_Val_DigEdge, data,
                        kEdge);
} catch (...) {
    return escapedException("DAQmxGetDigEdgeRefTrigEdge");
}

int32 DAQmxGetAnlgEdgeRefTrigSrc(TaskHandle taskHandle, char* data, uInt32 bufferSize) try {
    return triggerSource("DAQmxGetAnlgEdgeRefTrigSrc", taskHandle, true, DAQmx_Val_AnlgEdge, data,
                         bufferSize);
} catch (...) {
    return escapedException("DAQmxGetAnlgEdgeRefTrigSrc");
}

int32 DAQmxGetAnlgEdgeRefTrigSlope(TaskHandle taskHandle, int32* data) try {
    return triggerValue("DAQmxGetAnlgEdgeRefTrigSlope", taskHandle, true, DAQmx_Val_AnlgEdge, data,
                        kEdge);
} catch (...) {
    return escapedException("DAQmxGetAnlgEdgeRefTrigSlope");
}

int32 DAQmxGetAnlgEdgeRefTrigLvl(TaskHandle taskHandle, float64* data) try {
    return triggerValue("DAQmxGetAnlgEdgeRefTrigLvl", taskHandle, true, DAQmx_Val_AnlgEdge, data,
                        kLevel);
} catch (...) {
    return escapedException("DAQmxGetAnlgEdgeRefTrigLvl");
}

int32 DAQmxGetRefTrigPretrigSamples(TaskHandle taskHandle, uInt32* data) try {
    TaskCall call("DAQmxGetRefTrigPretrigSamples", taskHandle, true, data);
    if (call.task != nullptr) {
        *data = call.task->referenceTrigger.pretriggerSamples;
    }
    return call.status;
} catch (...) {
    return escapedException("DAQmxGetRefTrigPretrigSamples");
}

int32 DAQmxGetReadTotalSampPerChanAcquired(TaskHandle taskHandle, uInt64* data) try {
    TaskCall call("DAQmxGetReadTotalSampPerChanAcquired", taskHandle, true, data);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (task->abortStatus != 0) {
        return abortedTask(*task);
    }
    std::uint64_t total = task->samplesRead;
    if (task->running && task->timing) {
        searchAnalogTriggerLocked(call.sim, *task);
        const std::optional<double> origin = acquisitionOrigin(call.sim, *task);
        const double rate = tickRate(call.sim, *task);
        if (origin && rate > 0.0) {
            const double count =
                std::floor(std::max(0.0, call.sim.clock.now() - *origin) * rate + 1e-9);
            std::uint64_t acquired =
                count >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(count);
            if (task->timing->finite()) {
                acquired = std::min(acquired, task->timing->samplesPerChannel);
            }
            total = std::max(total, acquired);
        }
    }
    *data = total;
    return 0;
} catch (...) {
    return escapedException("DAQmxGetReadTotalSampPerChanAcquired");
}

int32 DAQmxSim_GetTriggerTime(TaskHandle taskHandle, double* seconds) try {
    // A control call: outside the call log and scripted failures.
    Simulator& sim = Simulator::instance();
    const std::lock_guard lock(sim.mutex);
    sim.applyDueEventsLocked();
    int32 status = 0;
    SimTask* const task = sim.findTask(taskHandle, status);
    if (task == nullptr) {
        return status;
    }
    if (seconds == nullptr) {
        return nullOutput("seconds");
    }
    searchAnalogTriggerLocked(sim, *task);
    const std::optional<double> at = task->referenceTrigger.set() ? task->referenceTriggeredAt
                                     : task->startTrigger.set()   ? task->startTriggeredAt
                                                                  : std::nullopt;
    *seconds = at.value_or(std::nan(""));
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_GetTriggerTime");
}

}  // extern "C"
