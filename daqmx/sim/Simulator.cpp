#include "Simulator.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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
    realism = DAQMXSIM_REALISM_ALL;
    inputBufferOverride = 0;
    channelUse.clear();
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
    return const_cast<SimDevice*>(std::as_const(*this).findDevice(name));
}

const SimDevice* Simulator::findDevice(std::string_view name) const {
    for (const SimDevice& device : devices) {
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
    task.overflowed = false;
    changed.notify_all();
}

void Simulator::stopTaskLocked(SimTask& task) {
    if (task.running) {
        task.running = false;
        ++task.generation;
        changed.notify_all();
    }
}

SampleSource Simulator::sourceFor(const SimDevice& device, const AnalogChannel& channel,
                                  double rate) const {
    const SignalShape signal =
        channel.index < device.aiSignals.size() && device.aiSignals[channel.index]
            ? *device.aiSignals[channel.index]
            : defaultSignal(channel.index);
    return SampleSource(device.name, channel.index, signal, rate,
                        {channel.range.low, channel.range.high, device.aiResolutionBits},
                        realistic(DAQMXSIM_REALISTIC_SIGNALS), realistic(DAQMXSIM_CONVERTER));
}

std::uint64_t Simulator::inputBufferSize(const SimTask& task) const {
    if (inputBufferOverride > 0) {
        return inputBufferOverride;
    }
    if (const SimDevice* device = findDevice(task.device);
        device != nullptr && device->aiBufferSamplesPerChannel > 0) {
        return device->aiBufferSamplesPerChannel;
    }
    // The driver's default for the rate; a larger count asked for at the
    // timing configuration sizes the buffer instead.
    const double rate = task.timing ? task.timing->rate : 0.0;
    const std::uint64_t byRate = rate <= 100.0  ? 1'000
                                 : rate <= 10e3 ? 10'000
                                 : rate <= 1e6  ? 100'000
                                                : 1'000'000;
    return std::max(byRate, task.timing ? task.timing->samplesPerChannel : 0);
}

std::string Simulator::channelKey(std::string_view device, std::string_view channel) {
    std::string key;
    key.reserve(device.size() + channel.size() + 1);
    for (const char c : device) {
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    key += '/';
    for (const char c : channel) {
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return key;
}

void Simulator::rememberChannelUse(const SimTask& task) {
    const SimDevice* device = findDevice(task.device);
    if (device == nullptr) {
        return;
    }
    const double rate = task.timing ? task.timing->rate : kOnDemandRate;
    for (const AnalogChannel& channel : task.analog) {
        channelUse[channelKey(device->name, device->aiChannels[channel.index])] = {rate,
                                                                                   channel.range};
    }
}

int32 taskFailure(int32 code, const SimTask& task, std::initializer_list<ErrorDetail> extra) {
    std::string text = errorText(code, statusSummary(code), extra);
    const std::size_t statusLine = text.rfind("\nStatus Code: ");
    text.insert(statusLine, "\nTask Name: " + task.name);
    return fail(code, std::move(text));
}

int32 transferAborted(const SimTask& task) {
    return taskFailure(status::kTransferAborted, task, {{"Device", task.device}});
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
