// The simulator's control interface (NIDAQmxSimControl.h).
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ChannelList.h"
#include "ErrorText.h"
#include "EscapedException.h"
#include "ExtendedError.h"
#include "NIDAQmxSimControl.h"
#include "OutputBuffers.h"
#include "RigFile.h"
#include "Simulator.h"
#include "StatusCodes.h"
#include "Waveforms.h"

using namespace daqmx_sim;

namespace {

Simulator& sim() {
    return Simulator::instance();
}

// The device and AI channel position of one physical channel name; the
// caller holds the driver lock.
bool findChannel(const char* physicalChannel, const SimDevice*& device, int& index) {
    std::string badItem;
    const auto names = expandChannelList(physicalChannel ? physicalChannel : "", badItem);
    if (!names || names->size() != 1) {
        return false;
    }
    device = sim().findDevice(names->front().device);
    index = device ? indexOfName(device->aiChannels, names->front().channel) : -1;
    return index >= 0;
}

// What a control call that names a device the rig does not have returns.
int32 unknownDevice(const char* device) {
    return fail(status::kInvalidDeviceId,
                errorText(status::kInvalidDeviceId, statusSummary(status::kInvalidDeviceId),
                          {{"Device Specified", device ? device : ""}}));
}

}  // namespace

extern "C" {

void DAQmxSim_Reset(void) try {
    const std::lock_guard lock(sim().mutex);
    sim().resetLocked();
} catch (...) {
    escapedException("DAQmxSim_Reset");
}

int32 DAQmxSim_LoadDevices(const char* path) try {
    std::string problem;
    auto rig = loadRigFile(path ? path : "", problem);
    if (!rig) {
        return fail(
            status::kInvalidRigDescription,
            errorText(status::kInvalidRigDescription, statusSummary(status::kInvalidRigDescription),
                      {{"Reason", problem}}));
    }
    const std::lock_guard lock(sim().mutex);
    sim().useRigLocked(std::move(*rig));
    sim().changed.notify_all();
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_LoadDevices");
}

void DAQmxSim_SetTimeScale(double scale) try {
    const std::lock_guard lock(sim().mutex);
    sim().clock.setScale(scale);
    sim().changed.notify_all();
} catch (...) {
    escapedException("DAQmxSim_SetTimeScale");
}

int32 DAQmxSim_SetDevicePresent(const char* device, bool32 present) try {
    const std::lock_guard lock(sim().mutex);
    SimDevice* const found = sim().findDevice(device ? device : "");
    if (found == nullptr) {
        return unknownDevice(device);
    }
    sim().setDevicePresentLocked(*found, present != 0);
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_SetDevicePresent");
}

double DAQmxSim_SimulatedTime(void) try {
    const std::lock_guard lock(sim().mutex);
    return sim().clock.now();
} catch (...) {
    escapedException("DAQmxSim_SimulatedTime");
    return std::numeric_limits<double>::quiet_NaN();
}

void DAQmxSim_AdvanceTime(double seconds) try {
    const std::lock_guard lock(sim().mutex);
    sim().clock.advance(seconds);
    sim().applyDueEventsLocked();
    sim().changed.notify_all();
} catch (...) {
    escapedException("DAQmxSim_AdvanceTime");
}

int32 DAQmxSim_ScheduleEventsJson(const char* json) try {
    const std::lock_guard lock(sim().mutex);
    std::string problem;
    auto events = parseEvents(json ? json : "", sim().deviceNames(), problem);
    if (!events) {
        return fail(status::kInvalidEventSchedule,
                    errorText(status::kInvalidEventSchedule,
                              statusSummary(status::kInvalidEventSchedule), {{"Reason", problem}}));
    }
    sim().scheduleLocked(std::move(*events));
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_ScheduleEventsJson");
}

void DAQmxSim_ClearEvents(void) try {
    const std::lock_guard lock(sim().mutex);
    sim().schedule.clear();
} catch (...) {
    escapedException("DAQmxSim_ClearEvents");
}

uInt32 DAQmxSim_PendingEventCount(void) try {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(sim().schedule.size());
} catch (...) {
    escapedException("DAQmxSim_PendingEventCount");
    return 0;
}

void DAQmxSim_SetRealism(uInt32 flags) try {
    const std::lock_guard lock(sim().mutex);
    sim().realism = flags & DAQMXSIM_REALISM_ALL;
    sim().changed.notify_all();
} catch (...) {
    escapedException("DAQmxSim_SetRealism");
}

uInt32 DAQmxSim_Realism(void) try {
    const std::lock_guard lock(sim().mutex);
    return sim().realism;
} catch (...) {
    escapedException("DAQmxSim_Realism");
    return 0;
}

void DAQmxSim_SetInputBufferSize(uInt64 samplesPerChannel) try {
    const std::lock_guard lock(sim().mutex);
    sim().inputBufferOverride = samplesPerChannel;
    sim().changed.notify_all();
} catch (...) {
    escapedException("DAQmxSim_SetInputBufferSize");
}

int32 DAQmxSim_GetInputBufferSize(TaskHandle task, uInt64* samplesPerChannel) try {
    const std::lock_guard lock(sim().mutex);
    int32 status = 0;
    const SimTask* found = sim().findTask(task, status);
    if (found == nullptr) {
        return status;
    }
    if (samplesPerChannel == nullptr) {
        return nullOutput("samplesPerChannel");
    }
    const bool continuous = found->timing && !found->timing->finite();
    *samplesPerChannel = continuous ? sim().inputBufferSize(*found) : 0;
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_GetInputBufferSize");
}

void DAQmxSim_LastAnalogReadTimes(int64_t* blockReadyNs, int64_t* returnedNs) try {
    if (blockReadyNs != nullptr) {
        *blockReadyNs = sim().lastBlockReadyNs;
    }
    if (returnedNs != nullptr) {
        *returnedNs = sim().lastReadReturnedNs;
    }
} catch (...) {
    escapedException("DAQmxSim_LastAnalogReadTimes");
}

void DAQmxSim_FailCall(const char* function, int32 status, int32 times) try {
    if (function == nullptr) {
        return;
    }
    const std::lock_guard lock(sim().mutex);
    sim().scriptedFailures[function] = {status, times};
} catch (...) {
    escapedException("DAQmxSim_FailCall");
}

void DAQmxSim_QueueReadStatuses(const int32* statuses, uInt32 count) try {
    if (statuses == nullptr) {
        return;
    }
    const std::lock_guard lock(sim().mutex);
    sim().queuedReadStatuses.insert(sim().queuedReadStatuses.end(), statuses, statuses + count);
} catch (...) {
    escapedException("DAQmxSim_QueueReadStatuses");
}

void DAQmxSim_SetReadSampleCap(int32 samples) try {
    const std::lock_guard lock(sim().mutex);
    sim().readSampleCap = std::max(samples, 0);
} catch (...) {
    escapedException("DAQmxSim_SetReadSampleCap");
}

void DAQmxSim_SetReadCountSkew(int32 extra) try {
    const std::lock_guard lock(sim().mutex);
    sim().readCountSkew = extra;
} catch (...) {
    escapedException("DAQmxSim_SetReadCountSkew");
}

int32 DAQmxSim_SetSelfTestStatus(const char* device, int32 status) try {
    const std::lock_guard lock(sim().mutex);
    SimDevice* const found = sim().findDevice(device ? device : "");
    if (found == nullptr) {
        return unknownDevice(device);
    }
    found->selfTestStatus = status;
    return 0;
} catch (...) {
    return escapedException("DAQmxSim_SetSelfTestStatus");
}

void DAQmxSim_ForceSampleClockRate(double rate) try {
    const std::lock_guard lock(sim().mutex);
    sim().forcedClockRate = (std::isfinite(rate) && rate > 0.0) ? rate : 0.0;
} catch (...) {
    escapedException("DAQmxSim_ForceSampleClockRate");
}

int32 DAQmxSim_LastSampleClockEdge(void) try {
    const std::lock_guard lock(sim().mutex);
    return sim().lastActiveEdge;
} catch (...) {
    return escapedException("DAQmxSim_LastSampleClockEdge");
}

void DAQmxSim_SetExtendedErrorText(const char* text) try {
    setErrorTextOverride(text ? text : "");
} catch (...) {
    escapedException("DAQmxSim_SetExtendedErrorText");
}

uInt32 DAQmxSim_LiveTaskCount(void) try {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(sim().tasks.size());
} catch (...) {
    escapedException("DAQmxSim_LiveTaskCount");
    return 0;
}

uInt32 DAQmxSim_RunningTaskCount(void) try {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(
        std::count_if(sim().tasks.begin(), sim().tasks.end(),
                      [](const auto& entry) { return entry.second.running; }));
} catch (...) {
    escapedException("DAQmxSim_RunningTaskCount");
    return 0;
}

uInt32 DAQmxSim_ReadsInProgress(void) try { return sim().readsInProgress.load(); } catch (...) {
    escapedException("DAQmxSim_ReadsInProgress");
    return 0;
}

uInt64 DAQmxSim_CallCount(const char* function) try {
    if (function == nullptr) {
        return 0;
    }
    const std::lock_guard lock(sim().mutex);
    const auto found = sim().callCounts.find(std::string_view(function));
    return found == sim().callCounts.end() ? 0 : found->second;
} catch (...) {
    escapedException("DAQmxSim_CallCount");
    return 0;
}

uInt32 DAQmxSim_CallLogSize(void) try {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(sim().callLog.size());
} catch (...) {
    escapedException("DAQmxSim_CallLogSize");
    return 0;
}

const char* DAQmxSim_CallLogEntry(uInt32 index) try {
    const std::lock_guard lock(sim().mutex);
    return index < sim().callLog.size() ? sim().callLog[index] : nullptr;
} catch (...) {
    escapedException("DAQmxSim_CallLogEntry");
    return nullptr;
}

void DAQmxSim_FailCallAtPosition(uInt32 position, int32 status) try {
    const std::lock_guard lock(sim().mutex);
    sim().armedPosition = position;
    sim().armedStatus = status;
} catch (...) {
    escapedException("DAQmxSim_FailCallAtPosition");
}

double DAQmxSim_ExpectedSample(const char* physicalChannel, uInt64 sampleIndex) try {
    const std::lock_guard lock(sim().mutex);
    const SimDevice* device = nullptr;
    int index = -1;
    if (!findChannel(physicalChannel, device, index)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const auto channelIndex = static_cast<std::uint32_t>(index);
    // The most recently created live task holding the channel, else what the
    // latest one gave it, else the widest range at the on-demand rate.
    const SimTask* holder = nullptr;
    for (const auto& [id, task] : sim().tasks) {
        if (task.kind == ChannelKind::AnalogInput && sameName(task.device, device->name) &&
            std::any_of(task.analog.begin(), task.analog.end(),
                        [&](const AnalogChannel& c) { return c.index == channelIndex; })) {
            holder = &task;  // the map is ordered by id, so the last match is the newest
        }
    }
    AnalogChannel channel;
    channel.index = channelIndex;
    double rate = kOnDemandRate;
    if (holder != nullptr) {
        channel.range =
            std::find_if(holder->analog.begin(), holder->analog.end(), [&](const AnalogChannel& c) {
                return c.index == channelIndex;
            })->range;
        rate = holder->timing ? holder->timing->rate : kOnDemandRate;
    } else if (const auto used = sim().channelUse.find(
                   Simulator::channelKey(device->name, device->aiChannels[channelIndex]));
               used != sim().channelUse.end()) {
        channel.range = used->second.range;
        rate = used->second.rate;
    } else if (!device->aiRanges.empty()) {
        channel.range = *std::max_element(device->aiRanges.begin(), device->aiRanges.end(),
                                          [](const VoltageRange& a, const VoltageRange& b) {
                                              return a.high - a.low < b.high - b.low;
                                          });
    } else {
        channel.range = {-10.0, 10.0};
    }
    return sim().sourceFor(*device, channel, rate).at(sampleIndex);
} catch (...) {
    escapedException("DAQmxSim_ExpectedSample");
    return std::numeric_limits<double>::quiet_NaN();
}

double DAQmxSim_ExpectedSampleAt(const char* physicalChannel, uInt64 sampleIndex, double rate,
                                 double minVal, double maxVal) try {
    const std::lock_guard lock(sim().mutex);
    const SimDevice* device = nullptr;
    int index = -1;
    if (!findChannel(physicalChannel, device, index)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const VoltageRange* range = smallestRangeHolding(*device, minVal, maxVal);
    if (range == nullptr) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    AnalogChannel channel;
    channel.index = static_cast<std::uint32_t>(index);
    channel.range = *range;
    return sim().sourceFor(*device, channel, rate).at(sampleIndex);
} catch (...) {
    escapedException("DAQmxSim_ExpectedSampleAt");
    return std::numeric_limits<double>::quiet_NaN();
}

double DAQmxSim_CodeWidth(const char* physicalChannel, double minVal, double maxVal) try {
    const std::lock_guard lock(sim().mutex);
    const SimDevice* device = nullptr;
    int index = -1;
    const VoltageRange* range = findChannel(physicalChannel, device, index)
                                    ? smallestRangeHolding(*device, minVal, maxVal)
                                    : nullptr;
    if (range == nullptr) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return (range->high - range->low) /
           std::ldexp(1.0, static_cast<int>(std::clamp(device->aiResolutionBits, 1U, 32U)));
} catch (...) {
    escapedException("DAQmxSim_CodeWidth");
    return std::numeric_limits<double>::quiet_NaN();
}

uInt8 DAQmxSim_ExpectedDigital(uInt32 lineIndex, uInt64 sampleIndex) try {
    return digitalSample(lineIndex, sampleIndex);
} catch (...) {
    escapedException("DAQmxSim_ExpectedDigital");
    return 0;
}

}  // extern "C"
