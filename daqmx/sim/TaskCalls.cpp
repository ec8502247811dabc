// DAQmx entry points that create, configure, start, stop and clear tasks.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ChannelList.h"
#include "ErrorText.h"
#include "EscapedException.h"
#include "ExtendedError.h"
#include "OutputBuffers.h"
#include "SampleClock.h"
#include "Simulator.h"
#include "StatusCodes.h"
#include "Triggers.h"

using namespace daqmx_sim;

namespace {

constexpr int32 kTerminalConfigDefault = -1;  // DAQmx_Val_Cfg_Default

int32 invalidValue(std::string_view summary, std::initializer_list<ErrorDetail> details) {
    return fail(status::kInvalidAttributeValue,
                errorText(status::kInvalidAttributeValue, summary, details));
}

int32 invalidValue(std::initializer_list<ErrorDetail> details) {
    return invalidValue(statusSummary(status::kInvalidAttributeValue), details);
}

int32 taskRunning(const SimTask& task) {
    return fail(status::kTaskRunning,
                errorText(status::kTaskRunning, statusSummary(status::kTaskRunning),
                          {{"Task Name", task.name}}));
}

int32 channelDoesNotExist(const SimDevice& device, const std::string& channel,
                          const SimTask& task) {
    return fail(status::kPhysicalChannelDoesNotExist,
                errorText(status::kPhysicalChannelDoesNotExist,
                          statusSummary(status::kPhysicalChannelDoesNotExist),
                          {{"Device", device.name},
                           {"Physical Channel Name", channel},
                           {"Task Name", task.name}}));
}

struct TerminalConfigName {
    int32 value;
    int32 bit;
    std::string_view name;
};

constexpr TerminalConfigName kTerminalConfigs[] = {
    {DAQmx_Val_RSE, DAQmx_Val_Bit_TermCfg_RSE, "DAQmx_Val_RSE"},
    {DAQmx_Val_NRSE, DAQmx_Val_Bit_TermCfg_NRSE, "DAQmx_Val_NRSE"},
    {DAQmx_Val_Diff, DAQmx_Val_Bit_TermCfg_Diff, "DAQmx_Val_Diff"},
    {DAQmx_Val_PseudoDiff, DAQmx_Val_Bit_TermCfg_PseudoDIFF, "DAQmx_Val_PseudoDiff"},
};

std::string possibleTerminalConfigs(int32 bits) {
    std::string text;
    for (const TerminalConfigName& config : kTerminalConfigs) {
        if ((bits & config.bit) != 0) {
            text += text.empty() ? "" : ", ";
            text += config.name;
        }
    }
    return text;
}

// The terminal configuration a channel gets, or a failure status.
int32 resolveTerminalConfig(int32 requested, int32 supportedBits, const std::string& channel,
                            int32& resolved) {
    if (requested == kTerminalConfigDefault) {
        for (const TerminalConfigName& config : kTerminalConfigs) {
            if ((supportedBits & config.bit) != 0) {
                resolved = config.value;
                return 0;
            }
        }
    }
    for (const TerminalConfigName& config : kTerminalConfigs) {
        if (config.value == requested) {
            if ((supportedBits & config.bit) == 0) {
                return invalidValue({{"Property", "DAQmx_AI_TermCfg"},
                                     {"Requested Value", std::string(config.name)},
                                     {"Possible Values", possibleTerminalConfigs(supportedBits)},
                                     {"Channel Name", channel}});
            }
            resolved = config.value;
            return 0;
        }
    }
    return invalidValue({{"Property", "DAQmx_AI_TermCfg"},
                         {"Requested Value", std::to_string(requested)},
                         {"Possible Values", possibleTerminalConfigs(supportedBits)},
                         {"Channel Name", channel}});
}

std::string rangesText(const SimDevice& device) {
    std::string text;
    for (const VoltageRange& range : device.aiRanges) {
        // Appended piece by piece: "[" + temporary trips a GCC 12 -Wrestrict
        // false positive at -O3.
        text += text.empty() ? "[" : ", [";
        text += formatNumber(range.low);
        text += ", ";
        text += formatNumber(range.high);
        text += ']';
    }
    return text;
}

// The smallest of the device's ranges that holds [minVal, maxVal].
int32 chooseRange(const SimDevice& device, float64 minVal, float64 maxVal,
                  const std::string& channel, VoltageRange& chosen) {
    const auto rejected = [&](std::string_view property) {
        return invalidValue({{"Property", std::string(property)},
                             {"Requested Minimum", formatNumber(minVal)},
                             {"Requested Maximum", formatNumber(maxVal)},
                             {"Supported Ranges", rangesText(device)},
                             {"Channel Name", channel}});
    };
    if (!std::isfinite(minVal) || !std::isfinite(maxVal) || !(minVal < maxVal)) {
        return rejected("DAQmx_AI_Min");
    }
    const VoltageRange* best = smallestRangeHolding(device, minVal, maxVal);
    if (best == nullptr) {
        return rejected("DAQmx_AI_Max");
    }
    chosen = *best;
    return 0;
}

// The device that every channel of a task must share; fails for a second one.
int32 checkSingleDevice(const SimTask& task, const SimDevice& device) {
    if (task.kind != ChannelKind::None && !sameName(task.device, device.name)) {
        return invalidValue("The channels of one task must all belong to one device.",
                            {{"Device of the Task", task.device},
                             {"Device Specified", device.name},
                             {"Task Name", task.name}});
    }
    return 0;
}

int32 duplicateChannel(const std::string& channel, const SimTask& task) {
    return fail(status::kDuplicateChannel,
                errorText(status::kDuplicateChannel, statusSummary(status::kDuplicateChannel),
                          {{"Channel Name", channel}, {"Task Name", task.name}}));
}

int32 mixedChannelTypes(const SimTask& task) {
    return fail(status::kChannelTypeMismatch,
                errorText(status::kChannelTypeMismatch, statusSummary(status::kChannelTypeMismatch),
                          {{"Task Name", task.name}}));
}

// Timing and starting need a task that has channels and is not running.
int32 refuseUnlessIdleWithChannels(const SimTask& task) {
    if (task.running) {
        return taskRunning(task);
    }
    if (task.kind == ChannelKind::None) {
        return fail(status::kNoChannelsInTask,
                    errorText(status::kNoChannelsInTask, statusSummary(status::kNoChannelsInTask),
                              {{"Task Name", task.name}}));
    }
    return 0;
}

// The channels a call adds: the status that refuses them, or the task, the one
// device they all belong to and the items the list names.
struct ChannelAdd {
    int32 status = 0;
    SimTask* task = nullptr;
    SimDevice* device = nullptr;
    std::vector<ChannelName> names;
};

ChannelAdd refused(int32 status) {
    ChannelAdd add;
    add.status = status;
    return add;
}

ChannelAdd prepareChannelAdd(TaskCall& call, const char* list, ChannelKind kind) {
    SimTask* const task = call.task;
    if (task == nullptr) {
        return refused(call.status);
    }
    int32 status = 0;
    if (task->running) {
        return refused(taskRunning(*task));
    }
    if (task->kind != ChannelKind::None && task->kind != kind) {
        return refused(mixedChannelTypes(*task));
    }
    std::string badItem;
    auto expanded = expandChannelList(list ? list : "", badItem);
    if (!expanded) {
        return refused(
            fail(status::kPhysicalChannelDoesNotExist,
                 errorText(status::kPhysicalChannelDoesNotExist,
                           statusSummary(status::kPhysicalChannelDoesNotExist),
                           {{"Physical Channel Name", badItem}, {"Task Name", task->name}})));
    }
    SimDevice* device = nullptr;
    for (const ChannelName& name : *expanded) {
        SimDevice* found = call.sim.presentDevice(name.device, status);
        if (found == nullptr) {
            return refused(status);
        }
        if (device != nullptr && device != found) {
            return refused(invalidValue("The channels of one task must all belong to one device.",
                                        {{"Device of the Task", device->name},
                                         {"Device Specified", found->name},
                                         {"Task Name", task->name}}));
        }
        device = found;
    }
    if (const int32 other = checkSingleDevice(*task, *device); other != 0) {
        return refused(other);
    }
    return {0, task, device, std::move(*expanded)};
}

// One limit of the range the analogue channel that `channel` names uses (its
// physical channel name; empty names the only channel of a one-channel task).
int32 readRangeLimit(const char* function, TaskHandle handle, const char* channel, float64* data,
                     double VoltageRange::*limit) {
    const TaskCall call(function, handle, true, data);
    if (call.task == nullptr) {
        return call.status;
    }
    const std::vector<AnalogChannel>& analog = call.task->analog;
    const std::string_view name = channel ? channel : "";
    const auto found = name.empty() && analog.size() == 1
                           ? analog.begin()
                           : std::find_if(analog.begin(), analog.end(), [&](const auto& candidate) {
                                 return sameName(candidate.physicalName, name);
                             });
    if (found == analog.end()) {
        return fail(
            status::kChannelNotInTask,
            errorText(status::kChannelNotInTask, statusSummary(status::kChannelNotInTask),
                      {{"Channel Name", std::string(name)}, {"Task Name", call.task->name}}));
    }
    *data = found->range.*limit;
    return 0;
}

}  // namespace

extern "C" {

int32 DAQmxCreateTask(const char taskName[], TaskHandle* taskHandle) try {
    DriverCall call("DAQmxCreateTask");
    if (call.scripted) {
        return *call.scripted;
    }
    if (taskHandle == nullptr) {
        return nullOutput("taskHandle");
    }
    Simulator& sim = call.sim;
    std::string name = taskName ? taskName : "";
    if (name.empty()) {
        name = "_unnamedTask<" + std::to_string(sim.unnamedTaskCount++) + ">";
    } else {
        for (const auto& [id, task] : sim.tasks) {
            if (sameName(task.name, name)) {
                return fail(
                    status::kDuplicateTaskName,
                    errorText(status::kDuplicateTaskName, statusSummary(status::kDuplicateTaskName),
                              {{"Task Name", name}}));
            }
        }
    }
    SimTask task;
    task.id = sim.nextTaskId++;
    task.name = std::move(name);
    const auto [where, inserted] = sim.tasks.emplace(task.id, std::move(task));
    *taskHandle = Simulator::handleOf(where->second);
    return 0;
} catch (...) {
    return escapedException("DAQmxCreateTask");
}

int32 DAQmxCreateAIVoltageChan(TaskHandle taskHandle, const char physicalChannel[],
                               const char nameToAssignToChannel[], int32 terminalConfig,
                               float64 minVal, float64 maxVal, int32 units,
                               const char customScaleName[]) try {
    (void)nameToAssignToChannel;
    (void)customScaleName;
    TaskCall call("DAQmxCreateAIVoltageChan", taskHandle);
    const ChannelAdd add = prepareChannelAdd(call, physicalChannel, ChannelKind::AnalogInput);
    if (add.status != 0) {
        return add.status;
    }
    if (units != DAQmx_Val_Volts) {
        return invalidValue({{"Property", "DAQmx_AI_Voltage_Units"},
                             {"Requested Value", std::to_string(units)},
                             {"Possible Values", "DAQmx_Val_Volts"},
                             {"Task Name", add.task->name}});
    }
    std::vector<AnalogChannel> added;
    for (const ChannelName& name : add.names) {
        const int index = indexOfName(add.device->aiChannels, name.channel);
        if (index < 0) {
            return channelDoesNotExist(*add.device, name.channel, *add.task);
        }
        AnalogChannel channel;
        channel.index = static_cast<std::uint32_t>(index);
        channel.physicalName = add.device->name + "/" + add.device->aiChannels[channel.index];
        const auto sameChannel = [&](const AnalogChannel& other) {
            return other.index == channel.index;
        };
        if (std::any_of(add.task->analog.begin(), add.task->analog.end(), sameChannel) ||
            std::any_of(added.begin(), added.end(), sameChannel)) {
            return duplicateChannel(channel.physicalName, *add.task);
        }
        if (const int32 status =
                resolveTerminalConfig(terminalConfig, add.device->aiTermCfgBits[channel.index],
                                      channel.physicalName, channel.terminalConfig);
            status != 0) {
            return status;
        }
        if (const int32 status =
                chooseRange(*add.device, minVal, maxVal, channel.physicalName, channel.range);
            status != 0) {
            return status;
        }
        added.push_back(std::move(channel));
    }
    add.task->kind = ChannelKind::AnalogInput;
    add.task->device = add.device->name;
    add.task->analog.insert(add.task->analog.end(), added.begin(), added.end());
    call.sim.rememberChannelUse(*add.task);
    return 0;
} catch (...) {
    return escapedException("DAQmxCreateAIVoltageChan");
}

int32 DAQmxCreateDIChan(TaskHandle taskHandle, const char lines[], const char nameToAssignToLines[],
                        int32 lineGrouping) try {
    (void)nameToAssignToLines;
    TaskCall call("DAQmxCreateDIChan", taskHandle);
    const ChannelAdd add = prepareChannelAdd(call, lines, ChannelKind::DigitalInput);
    if (add.status != 0) {
        return add.status;
    }
    if (lineGrouping != DAQmx_Val_ChanPerLine && lineGrouping != DAQmx_Val_ChanForAllLines) {
        return invalidValue({{"Property", "DAQmx_DI_LineGrouping"},
                             {"Requested Value", std::to_string(lineGrouping)},
                             {"Task Name", add.task->name}});
    }
    // Every line named, in order; a bare port ("Dev1/port0") add.names all its lines.
    std::vector<std::uint32_t> lineIndices;
    for (const ChannelName& name : add.names) {
        const int index = indexOfName(add.device->diLines, name.channel);
        if (index >= 0) {
            lineIndices.push_back(static_cast<std::uint32_t>(index));
            continue;
        }
        const std::size_t before = lineIndices.size();
        const std::string port = name.channel + "/";
        for (std::size_t i = 0; i < add.device->diLines.size(); ++i) {
            if (add.device->diLines[i].size() > port.size() &&
                sameName(std::string_view(add.device->diLines[i]).substr(0, port.size()), port)) {
                lineIndices.push_back(static_cast<std::uint32_t>(i));
            }
        }
        if (lineIndices.size() == before) {
            return channelDoesNotExist(*add.device, name.channel, *add.task);
        }
    }
    std::vector<std::uint32_t> taken;
    for (const DigitalChannel& channel : add.task->digital) {
        taken.insert(taken.end(), channel.lineIndices.begin(), channel.lineIndices.end());
    }
    for (const std::uint32_t index : lineIndices) {
        if (std::find(taken.begin(), taken.end(), index) != taken.end()) {
            return duplicateChannel(add.device->name + "/" + add.device->diLines[index], *add.task);
        }
        taken.push_back(index);
    }
    const auto channelName = [&](std::uint32_t index) {
        return add.device->name + "/" + add.device->diLines[index];
    };
    if (lineGrouping == DAQmx_Val_ChanPerLine) {
        for (const std::uint32_t index : lineIndices) {
            add.task->digital.push_back({channelName(index), {index}});
        }
    } else {
        add.task->digital.push_back({channelName(lineIndices.front()), lineIndices});
    }
    add.task->kind = ChannelKind::DigitalInput;
    add.task->device = add.device->name;
    return 0;
} catch (...) {
    return escapedException("DAQmxCreateDIChan");
}

int32 DAQmxCfgSampClkTiming(TaskHandle taskHandle, const char source[], float64 rate,
                            int32 activeEdge, int32 sampleMode, uInt64 sampsPerChanToAcquire) try {
    TaskCall call("DAQmxCfgSampClkTiming", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    int32 status = 0;
    if (const int32 refused = refuseUnlessIdleWithChannels(*task); refused != 0) {
        return refused;
    }
    const SimDevice* device = call.sim.presentDevice(task->device, status);
    if (device == nullptr) {
        return status;
    }
    if (task->kind == ChannelKind::DigitalInput) {
        // The simulated devices, like small USB devices, read their lines on demand only.
        return invalidValue({{"Property", "DAQmx_SampTimingType"},
                             {"Requested Value", "DAQmx_Val_SampClk"},
                             {"Possible Values", "DAQmx_Val_OnDemand"},
                             {"Task Name", task->name}});
    }
    if (activeEdge != DAQmx_Val_Rising && activeEdge != DAQmx_Val_Falling) {
        return invalidValue({{"Property", "DAQmx_SampClk_ActiveEdge"},
                             {"Requested Value", std::to_string(activeEdge)},
                             {"Task Name", task->name}});
    }
    if (sampleMode != DAQmx_Val_FiniteSamps && sampleMode != DAQmx_Val_ContSamps) {
        return invalidValue({{"Property", "DAQmx_SampQuant_SampMode"},
                             {"Requested Value", std::to_string(sampleMode)},
                             {"Task Name", task->name}});
    }
    if (sampleMode == DAQmx_Val_FiniteSamps &&
        (sampsPerChanToAcquire == 0 ||
         sampsPerChanToAcquire > std::numeric_limits<std::uint32_t>::max())) {
        return invalidValue({{"Property", "DAQmx_SampQuant_SampPerChan"},
                             {"Requested Value", std::to_string(sampsPerChanToAcquire)},
                             {"Task Name", task->name}});
    }
    const std::string_view clockSource = source ? source : "";
    const bool internalClock = clockSource.empty() || sameName(clockSource, "OnboardClock");
    GrantedClock granted = grantSampleClock(*device, rate, task->channelCount(), internalClock);
    if (granted.status != 0) {
        return fail(granted.status, std::move(granted.error));
    }
    SampleTiming timing;
    timing.rate = call.sim.forcedClockRate > 0.0 ? call.sim.forcedClockRate : granted.rate;
    timing.sampleMode = sampleMode;
    timing.samplesPerChannel = sampsPerChanToAcquire;
    task->timing = timing;
    task->clockTerminal = internalClock ? std::string() : asTerminal(call.sim, clockSource, *task);
    call.sim.lastActiveEdge = activeEdge;
    call.sim.rememberChannelUse(*task);
    return 0;
} catch (...) {
    return escapedException("DAQmxCfgSampClkTiming");
}

int32 DAQmxGetSampClkRate(TaskHandle taskHandle, float64* data) try {
    TaskCall call("DAQmxGetSampClkRate", taskHandle, true, data);
    const SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (!task->timing) {
        return fail(
            status::kPropertyNotApplicable,
            errorText(status::kPropertyNotApplicable, statusSummary(status::kPropertyNotApplicable),
                      {{"Property", "DAQmx_SampClk_Rate"}, {"Task Name", task->name}}));
    }
    *data = task->timing->rate;
    return 0;
} catch (...) {
    return escapedException("DAQmxGetSampClkRate");
}

int32 DAQmxGetTaskNumChans(TaskHandle taskHandle, uInt32* data) try {
    TaskCall call("DAQmxGetTaskNumChans", taskHandle, true, data);
    const SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    *data = static_cast<uInt32>(task->channelCount());
    return 0;
} catch (...) {
    return escapedException("DAQmxGetTaskNumChans");
}

int32 DAQmxGetNthTaskChannel(TaskHandle taskHandle, uInt32 index, char buffer[],
                             int32 bufferSize) try {
    TaskCall call("DAQmxGetNthTaskChannel", taskHandle);
    const SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (index < 1 || index > task->channelCount()) {
        return invalidValue({{"Property", "Index"},
                             {"Requested Value", std::to_string(index)},
                             {"Number of Channels in Task", std::to_string(task->channelCount())},
                             {"Task Name", task->name}});
    }
    const std::size_t i = index - 1;
    const std::string& name = task->kind == ChannelKind::DigitalInput
                                  ? task->digital[i].name
                                  : task->analog[i].physicalName;
    return writeStringProperty(name, buffer, static_cast<uInt32>(std::max(bufferSize, 0)));
} catch (...) {
    return escapedException("DAQmxGetNthTaskChannel");
}

int32 DAQmxGetAIRngHigh(TaskHandle taskHandle, const char channel[], float64* data) try {
    return readRangeLimit("DAQmxGetAIRngHigh", taskHandle, channel, data, &VoltageRange::high);
} catch (...) {
    return escapedException("DAQmxGetAIRngHigh");
}

int32 DAQmxGetAIRngLow(TaskHandle taskHandle, const char channel[], float64* data) try {
    return readRangeLimit("DAQmxGetAIRngLow", taskHandle, channel, data, &VoltageRange::low);
} catch (...) {
    return escapedException("DAQmxGetAIRngLow");
}

int32 DAQmxCfgInputBuffer(TaskHandle taskHandle, uInt32 numSampsPerChan) try {
    TaskCall call("DAQmxCfgInputBuffer", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    if (task->running) {
        return taskRunning(*task);
    }
    task->inputBuffer = numSampsPerChan;
    return 0;
} catch (...) {
    return escapedException("DAQmxCfgInputBuffer");
}

int32 DAQmxGetBufInputBufSize(TaskHandle taskHandle, uInt32* data) try {
    TaskCall call("DAQmxGetBufInputBufSize", taskHandle, true, data);
    const SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    // Continuous tasks get the driver's choice; a finite one holds exactly
    // its samples; without a sample clock there is no buffer.
    std::uint64_t size = 0;
    if (task->inputBuffer) {
        size = *task->inputBuffer;
    } else if (task->timing) {
        size = task->timing->finite() ? task->timing->samplesPerChannel
                                      : call.sim.inputBufferSize(*task);
    }
    *data = static_cast<uInt32>(std::min<std::uint64_t>(size, std::numeric_limits<uInt32>::max()));
    return 0;
} catch (...) {
    return escapedException("DAQmxGetBufInputBufSize");
}

int32 DAQmxStartTask(TaskHandle taskHandle) try {
    TaskCall call("DAQmxStartTask", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    int32 status = 0;
    if (const int32 refused = refuseUnlessIdleWithChannels(*task); refused != 0) {
        return refused;
    }
    if (task->abortStatus != 0) {
        return abortedTask(*task);
    }
    if (call.sim.presentDevice(task->device, status) == nullptr) {
        return status;
    }
    if (const SimTask* holder = call.sim.analogInputHolder(*task);
        holder != nullptr && task->kind == ChannelKind::AnalogInput) {
        return fail(status::kResourceReserved,
                    errorText(status::kResourceReserved, statusSummary(status::kResourceReserved),
                              {{"Device", task->device},
                               {"Task Name", task->name},
                               {"Reserved By Task", holder->name}}));
    }
    if (const int32 refused = verifyTriggers(call.sim, *task); refused != 0) {
        return refused;
    }
    call.sim.startTaskLocked(*task);
    return 0;
} catch (...) {
    return escapedException("DAQmxStartTask");
}

int32 DAQmxStopTask(TaskHandle taskHandle) try {
    TaskCall call("DAQmxStopTask", taskHandle);
    if (call.task != nullptr) {
        call.sim.stopTaskLocked(*call.task);
    }
    return call.status;
} catch (...) {
    return escapedException("DAQmxStopTask");
}

int32 DAQmxClearTask(TaskHandle taskHandle) try {
    TaskCall call("DAQmxClearTask", taskHandle);
    if (call.task != nullptr) {
        call.sim.tasks.erase(call.task->id);
        call.sim.changed.notify_all();
    }
    return call.status;
} catch (...) {
    return escapedException("DAQmxClearTask");
}

}  // extern "C"
