#include "Simulator.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ErrorText.h"
#include "ExtendedError.h"
#include "RigFile.h"
#include "StatusCodes.h"

namespace daqmx_sim {

namespace {

// Positions keep counting past this, but the log stops growing, so a host that
// streams for days holds at most half a megabyte of it; a fault sweep of a
// whole session needs a few hundred entries.
constexpr std::size_t kCallLogCapacity = std::size_t{1} << 16;

double timeScaleFromEnvironment() {
    const char* text = std::getenv("NIDAQMX_SIM_TIME_SCALE");
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    double scale = 1.0;
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, scale);
    if (result.ec != std::errc() || result.ptr != end) {
        std::fprintf(stderr, "nidaqmx_sim: ignoring NIDAQMX_SIM_TIME_SCALE=%s (not a number)\n",
                     text);
        return 1.0;
    }
    return scale;
}

std::vector<SimDevice> devicesFromEnvironment() {
    const char* path = std::getenv("NIDAQMX_SIM_DEVICES");
    if (path == nullptr || *path == '\0') {
        return builtInDevices();
    }
    std::string problem;
    if (auto devices = loadRigFile(path, problem)) {
        return std::move(*devices);
    }
    std::fprintf(stderr, "nidaqmx_sim: ignoring NIDAQMX_SIM_DEVICES: %s\n", problem.c_str());
    return builtInDevices();
}

}  // namespace

Simulator& Simulator::instance() {
    static Simulator simulator;
    return simulator;
}

Simulator::Simulator() {
    resetLocked();
}

void Simulator::resetLocked() {
    devices = devicesFromEnvironment();
    tasks.clear();
    unnamedTaskCount = 0;
    clock = ScaledClock(timeScaleFromEnvironment());
    scriptedFailures.clear();
    queuedReadStatuses.clear();
    readSampleCap = 0;
    readCountSkew = 0;
    forcedClockRate = 0.0;
    callLog.clear();
    callsSinceReset = 0;
    callCounts.clear();
    armedPosition.reset();
    armedStatus = 0;
    lastBlockReadyNs = 0;
    lastReadReturnedNs = 0;
    setErrorTextOverride({});
    changed.notify_all();
}

std::optional<int32> Simulator::beginCall(const char* function) {
    const std::uint64_t position = callsSinceReset++;
    if (callLog.size() < kCallLogCapacity) {
        callLog.push_back(function);
    }
    ++callCounts[function];

    std::optional<int32> status;
    if (armedPosition && *armedPosition == position) {
        status = armedStatus;
        armedPosition.reset();
    } else if (const auto script = scriptedFailures.find(std::string_view(function));
               script != scriptedFailures.end() && script->second.remaining != 0) {
        status = script->second.status;
        if (script->second.remaining > 0) {
            --script->second.remaining;
        }
    }
    if (status && *status != 0) {
        return fail(*status, scriptedFailureText(function, *status));
    }
    return status;
}

SimDevice* Simulator::findDevice(std::string_view name) {
    for (SimDevice& device : devices) {
        if (sameName(device.name, name)) {
            return &device;
        }
    }
    return nullptr;
}

SimDevice* Simulator::presentDevice(std::string_view name, int32& status) {
    SimDevice* device = findDevice(name);
    if (device == nullptr) {
        status = fail(status::kInvalidDeviceId,
                      errorText(status::kInvalidDeviceId, statusSummary(status::kInvalidDeviceId),
                                {{"Device Specified", std::string(name)}}));
        return nullptr;
    }
    if (!device->present) {
        status =
            fail(status::kDeviceNotAvailable,
                 errorText(status::kDeviceNotAvailable, statusSummary(status::kDeviceNotAvailable),
                           {{"Device Specified", device->name}}));
        return nullptr;
    }
    status = 0;
    return device;
}

SimTask* Simulator::findTask(TaskHandle handle, int32& status) {
    const auto id = reinterpret_cast<std::uintptr_t>(handle);
    if (const auto found = tasks.find(id); found != tasks.end()) {
        status = 0;
        return &found->second;
    }
    status = fail(status::kInvalidTask,
                  errorText(status::kInvalidTask, statusSummary(status::kInvalidTask)));
    return nullptr;
}

TaskHandle Simulator::handleOf(const SimTask& task) {
    return reinterpret_cast<TaskHandle>(static_cast<std::uintptr_t>(task.id));
}

const SimTask* Simulator::analogInputHolder(const SimTask& task) const {
    for (const auto& [id, other] : tasks) {
        if (id != task.id && other.running && other.kind == ChannelKind::AnalogInput &&
            sameName(other.device, task.device)) {
            return &other;
        }
    }
    return nullptr;
}

void Simulator::startTaskLocked(SimTask& task) {
    task.running = true;
    ++task.generation;
    task.startedAt = clock.now();
    task.samplesRead = 0;
    changed.notify_all();
}

void Simulator::stopTaskLocked(SimTask& task) {
    if (task.running) {
        task.running = false;
        ++task.generation;
        changed.notify_all();
    }
}

DriverCall::DriverCall(const char* function)
    : sim(Simulator::instance()), lock(sim.mutex), scripted(sim.beginCall(function)) {}

ReadInProgress::ReadInProgress() {
    ++Simulator::instance().readsInProgress;
}

ReadInProgress::~ReadInProgress() {
    --Simulator::instance().readsInProgress;
}

}  // namespace daqmx_sim
