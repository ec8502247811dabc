// The simulator's control interface (NIDAQmxSimControl.h).
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ChannelList.h"
#include "ErrorText.h"
#include "ExtendedError.h"
#include "NIDAQmxSimControl.h"
#include "RigFile.h"
#include "Simulator.h"
#include "StatusCodes.h"
#include "Waveforms.h"

using namespace daqmx_sim;

namespace {

Simulator& sim() {
    return Simulator::instance();
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
    SimDevice* found = sim().findDevice(device ? device : "");
    if (found == nullptr) {
        return fail(status::kInvalidDeviceId,
                    errorText(status::kInvalidDeviceId, statusSummary(status::kInvalidDeviceId),
                              {{"Device Specified", device ? device : ""}}));
    }
    found->present = present != 0;
    sim().changed.notify_all();
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
    SimDevice* found = sim().findDevice(device ? device : "");
    if (found == nullptr) {
        return fail(status::kInvalidDeviceId,
                    errorText(status::kInvalidDeviceId, statusSummary(status::kInvalidDeviceId),
                              {{"Device Specified", device ? device : ""}}));
    }
    found->selfTestStatus = status;
    return 0;
}

void DAQmxSim_ForceSampleClockRate(double rate) {
    const std::lock_guard lock(sim().mutex);
    sim().forcedClockRate = (std::isfinite(rate) && rate > 0.0) ? rate : 0.0;
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
    std::string badItem;
    const auto names = expandChannelList(physicalChannel ? physicalChannel : "", badItem);
    if (!names || names->size() != 1) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const std::lock_guard lock(sim().mutex);
    const SimDevice* device = sim().findDevice(names->front().device);
    const int index = device ? indexOfName(device->aiChannels, names->front().channel) : -1;
    if (index < 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return analogSample(static_cast<std::uint32_t>(index), sampleIndex);
}

uInt8 DAQmxSim_ExpectedDigital(uInt32 lineIndex, uInt64 sampleIndex) {
    return digitalSample(lineIndex, sampleIndex);
}

}  // extern "C"
