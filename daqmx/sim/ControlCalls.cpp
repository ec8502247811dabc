// The simulator's control interface (NIDAQmxSimControl.h).
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ChannelList.h"
#include "ErrorText.h"
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

void DAQmxSim_Reset(void) {
    const std::lock_guard lock(sim().mutex);
    sim().resetLocked();
}

int32 DAQmxSim_LoadDevices(const char* path) {
    std::string problem;
    auto devices = loadRigFile(path ? path : "", problem);
    if (!devices) {
        return fail(
            status::kInvalidRigDescription,
            errorText(status::kInvalidRigDescription, statusSummary(status::kInvalidRigDescription),
                      {{"Reason", problem}}));
    }
    const std::lock_guard lock(sim().mutex);
    sim().devices = std::move(*devices);
    sim().changed.notify_all();
    return 0;
}

void DAQmxSim_SetTimeScale(double scale) {
    const std::lock_guard lock(sim().mutex);
    sim().clock.setScale(scale);
    sim().changed.notify_all();
}

int32 DAQmxSim_SetDevicePresent(const char* device, bool32 present) {
    const std::lock_guard lock(sim().mutex);
    SimDevice* const found = sim().findDevice(device ? device : "");
    if (found == nullptr) {
        return unknownDevice(device);
    }
    sim().setDevicePresentLocked(*found, present != 0);
    return 0;
}

double DAQmxSim_SimulatedTime(void) {
    const std::lock_guard lock(sim().mutex);
    return sim().clock.now();
}

void DAQmxSim_AdvanceTime(double seconds) {
    const std::lock_guard lock(sim().mutex);
    sim().clock.advance(seconds);
    sim().applyDueEventsLocked();
    sim().changed.notify_all();
}

int32 DAQmxSim_ScheduleEventsJson(const char* json) {
    const std::lock_guard lock(sim().mutex);
    std::string problem;
    auto events = parseEvents(json ? json : "", sim().deviceNames(), problem);
    if (!events) {
        return fail(status::kInvalidRigDescription,
                    errorText(status::kInvalidRigDescription, "The event schedule is not valid.",
                              {{"Reason", problem}}));
    }
    sim().scheduleLocked(std::move(*events));
    return 0;
}

void DAQmxSim_ClearEvents(void) {
    const std::lock_guard lock(sim().mutex);
    sim().schedule.clear();
}

uInt32 DAQmxSim_PendingEventCount(void) {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(sim().schedule.size());
}

void DAQmxSim_SetRealism(uInt32 flags) {
    const std::lock_guard lock(sim().mutex);
    sim().realism = flags & DAQMXSIM_REALISM_ALL;
    sim().changed.notify_all();
}

uInt32 DAQmxSim_Realism(void) {
    const std::lock_guard lock(sim().mutex);
    return sim().realism;
}

void DAQmxSim_SetInputBufferSize(uInt64 samplesPerChannel) {
    const std::lock_guard lock(sim().mutex);
    sim().inputBufferOverride = samplesPerChannel;
    sim().changed.notify_all();
}

int32 DAQmxSim_GetInputBufferSize(TaskHandle task, uInt64* samplesPerChannel) {
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
}

void DAQmxSim_LastAnalogReadTimes(int64_t* blockReadyNs, int64_t* returnedNs) {
    if (blockReadyNs != nullptr) {
        *blockReadyNs = sim().lastBlockReadyNs;
    }
    if (returnedNs != nullptr) {
        *returnedNs = sim().lastReadReturnedNs;
    }
}

void DAQmxSim_FailCall(const char* function, int32 status, int32 times) {
    if (function == nullptr) {
        return;
    }
    const std::lock_guard lock(sim().mutex);
    sim().scriptedFailures[function] = {status, times};
}

void DAQmxSim_QueueReadStatuses(const int32* statuses, uInt32 count) {
    if (statuses == nullptr) {
        return;
    }
    const std::lock_guard lock(sim().mutex);
    sim().queuedReadStatuses.insert(sim().queuedReadStatuses.end(), statuses, statuses + count);
}

void DAQmxSim_SetReadSampleCap(int32 samples) {
    const std::lock_guard lock(sim().mutex);
    sim().readSampleCap = std::max(samples, 0);
}

void DAQmxSim_SetReadCountSkew(int32 extra) {
    const std::lock_guard lock(sim().mutex);
    sim().readCountSkew = extra;
}

int32 DAQmxSim_SetSelfTestStatus(const char* device, int32 status) {
    const std::lock_guard lock(sim().mutex);
    SimDevice* const found = sim().findDevice(device ? device : "");
    if (found == nullptr) {
        return unknownDevice(device);
    }
    found->selfTestStatus = status;
    return 0;
}

void DAQmxSim_ForceSampleClockRate(double rate) {
    const std::lock_guard lock(sim().mutex);
    sim().forcedClockRate = (std::isfinite(rate) && rate > 0.0) ? rate : 0.0;
}

int32 DAQmxSim_LastSampleClockEdge(void) {
    const std::lock_guard lock(sim().mutex);
    return sim().lastActiveEdge;
}

void DAQmxSim_SetExtendedErrorText(const char* text) {
    setErrorTextOverride(text ? text : "");
}

uInt32 DAQmxSim_LiveTaskCount(void) {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(sim().tasks.size());
}

uInt32 DAQmxSim_RunningTaskCount(void) {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(
        std::count_if(sim().tasks.begin(), sim().tasks.end(),
                      [](const auto& entry) { return entry.second.running; }));
}

uInt32 DAQmxSim_ReadsInProgress(void) {
    return sim().readsInProgress.load();
}

uInt64 DAQmxSim_CallCount(const char* function) {
    if (function == nullptr) {
        return 0;
    }
    const std::lock_guard lock(sim().mutex);
    const auto found = sim().callCounts.find(std::string_view(function));
    return found == sim().callCounts.end() ? 0 : found->second;
}

uInt32 DAQmxSim_CallLogSize(void) {
    const std::lock_guard lock(sim().mutex);
    return static_cast<uInt32>(sim().callLog.size());
}

const char* DAQmxSim_CallLogEntry(uInt32 index) {
    const std::lock_guard lock(sim().mutex);
    return index < sim().callLog.size() ? sim().callLog[index] : nullptr;
}

void DAQmxSim_FailCallAtPosition(uInt32 position, int32 status) {
    const std::lock_guard lock(sim().mutex);
    sim().armedPosition = position;
    sim().armedStatus = status;
}

double DAQmxSim_ExpectedSample(const char* physicalChannel, uInt64 sampleIndex) {
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
}

double DAQmxSim_ExpectedSampleAt(const char* physicalChannel, uInt64 sampleIndex, double rate,
                                 double minVal, double maxVal) {
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
}

double DAQmxSim_CodeWidth(const char* physicalChannel, double minVal, double maxVal) {
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
}

uInt8 DAQmxSim_ExpectedDigital(uInt32 lineIndex, uInt64 sampleIndex) {
    return digitalSample(lineIndex, sampleIndex);
}

}  // extern "C"
