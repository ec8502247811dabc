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
#include "OutputBuffers.h"
#include "RigFile.h"
#include "StatusCodes.h"
#include "Triggers.h"

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

Rig rigFromEnvironment() {
    const char* path = std::getenv("NIDAQMX_SIM_DEVICES");
    if (path == nullptr || *path == '\0') {
        return builtInRig();
    }
    std::string problem;
    if (auto rig = loadRigFile(path, problem)) {
        return std::move(*rig);
    }
    std::fprintf(stderr, "nidaqmx_sim: ignoring NIDAQMX_SIM_DEVICES: %s\n", problem.c_str());
    return builtInRig();
}

std::vector<SimEvent> eventsFromEnvironment(const std::vector<std::string>& devices) {
    const char* path = std::getenv("NIDAQMX_SIM_EVENTS");
    if (path == nullptr || *path == '\0') {
        return {};
    }
    std::string problem;
    if (auto events = loadEventsFile(path, devices, problem)) {
        return std::move(*events);
    }
    std::fprintf(stderr, "nidaqmx_sim: ignoring NIDAQMX_SIM_EVENTS: %s\n", problem.c_str());
    return {};
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
    useRigLocked(rigFromEnvironment());
    tasks.clear();
    unnamedTaskCount = 0;
    clock = ScaledClock(timeScaleFromEnvironment());
    schedule = eventsFromEnvironment(deviceNames());
    scriptedFailures.clear();
    queuedReadStatuses.clear();
    readSampleCap = 0;
    readCountSkew = 0;
    lastActiveEdge = 0;
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

void Simulator::useRigLocked(Rig rig) {
    signalsInTime = rig.signalsInTime();
    devices = std::move(rig.devices);
    wiring = std::move(rig.wiring);
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
    if (!device->present || clock.now() < device->readyAt) {
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
        // An aborted acquisition holds nothing any more, even before its task is cleared.
        if (id != task.id && other.running && other.abortStatus == 0 &&
            other.kind == ChannelKind::AnalogInput && sameName(other.device, task.device)) {
            return &other;
        }
    }
    return nullptr;
}

void Simulator::setDevicePresentLocked(SimDevice& device, bool present) {
    device.present = present;
    if (!present && realistic(DAQMXSIM_REMOVAL_ABORTS)) {
        for (auto& [id, task] : tasks) {
            if (task.kind != ChannelKind::None && task.abortStatus == 0 &&
                sameName(task.device, device.name)) {
                task.abortStatus = status::kTransferAborted;
            }
        }
    }
    changed.notify_all();
}

void Simulator::abortRunningTasksLocked(std::string_view device, int32 status) {
    for (auto& [id, task] : tasks) {
        if (task.running && task.abortStatus == 0 && sameName(task.device, device)) {
            task.abortStatus = status;
        }
    }
    changed.notify_all();
}

std::vector<std::string> Simulator::deviceNames() const {
    std::vector<std::string> names;
    names.reserve(devices.size());
    for (const SimDevice& device : devices) {
        names.push_back(device.name);
    }
    return names;
}

void Simulator::scheduleLocked(std::vector<SimEvent> events) {
    schedule.insert(schedule.end(), std::make_move_iterator(events.begin()),
                    std::make_move_iterator(events.end()));
    std::stable_sort(schedule.begin(), schedule.end(),
                     [](const SimEvent& a, const SimEvent& b) { return a.at < b.at; });
    changed.notify_all();
}

void Simulator::applyDueEventsLocked() {
    if (schedule.empty()) {
        return;
    }
    const double now = clock.now();
    std::size_t due = 0;
    while (due < schedule.size() && schedule[due].at <= now) {
        ++due;
    }
    if (due == 0) {
        return;
    }
    // Taken off first: an event may not run twice, whatever it does.
    std::vector<SimEvent> happening(std::make_move_iterator(schedule.begin()),
                                    std::make_move_iterator(schedule.begin() + due));
    schedule.erase(schedule.begin(), schedule.begin() + due);
    for (const SimEvent& event : happening) {
        applyEventLocked(event);
    }
}

void Simulator::applyEventLocked(const SimEvent& event) {
    SimDevice* device = findDevice(event.device);
    if (device == nullptr) {
        std::fprintf(stderr, "nidaqmx_sim: scheduled event for %s skipped: no such device\n",
                     event.device.c_str());
        return;
    }
    switch (event.kind) {
        case EventKind::Unplug:
            setDevicePresentLocked(*device, false);
            break;
        case EventKind::Replug:
            if (!event.renameTo.empty()) {
                const SimDevice* holder = findDevice(event.renameTo);
                if (holder == nullptr || holder == device) {
                    device->name = event.renameTo;
                } else {
                    std::fprintf(stderr,
                                 "nidaqmx_sim: %s replugged under its own name: %s is taken\n",
                                 device->name.c_str(), event.renameTo.c_str());
                }
            }
            device->readyAt = event.at + event.readyAfter;
            setDevicePresentLocked(*device, true);
            break;
        case EventKind::TransferAbort:
            abortRunningTasksLocked(device->name, status::kTransferAborted);
            break;
        case EventKind::Overflow:
            for (auto& [id, task] : tasks) {
                if (task.running && task.timing && task.kind == ChannelKind::AnalogInput &&
                    sameName(task.device, device->name)) {
                    task.overflowed = true;
                }
            }
            changed.notify_all();
            break;
        case EventKind::Reset:
            abortRunningTasksLocked(device->name, status::kDeviceReset);
            break;
        case EventKind::PfiEdge:
            if (const std::string terminal = canonicalTerminal(*this, event.terminal, device->name);
                !terminal.empty()) {
                edgeLocked(*this, terminal, event.edge, event.at);
            } else {
                std::fprintf(stderr, "nidaqmx_sim: pfi_edge skipped: %s has no terminal %s\n",
                             device->name.c_str(), event.terminal.c_str());
            }
            break;
    }
}

void Simulator::startTaskLocked(SimTask& task) {
    task.running = true;
    ++task.generation;
    task.startedAt = clock.now();
    task.samplesRead = 0;
    task.overflowed = false;
    armTriggersLocked(*this, task);
    changed.notify_all();
}

void Simulator::stopTaskLocked(SimTask& task) {
    if (task.running) {
        task.running = false;
        ++task.generation;
        changed.notify_all();
    }
}

SignalShape Simulator::signalOf(const SimDevice& device, const AnalogChannel& channel) const {
    return channel.index < device.aiSignals.size() && device.aiSignals[channel.index]
               ? *device.aiSignals[channel.index]
               : defaultSignal(channel.index);
}

ConverterSetup Simulator::converterOf(const SimDevice& device, const AnalogChannel& channel) {
    return {channel.range.low, channel.range.high, device.aiResolutionBits};
}

SampleSource Simulator::sourceFor(const SimDevice& device, const AnalogChannel& channel,
                                  double rate) const {
    return SampleSource(device.name, channel.index, signalOf(device, channel), rate,
                        converterOf(device, channel), realistic(DAQMXSIM_REALISTIC_SIGNALS),
                        realistic(DAQMXSIM_CONVERTER));
}

SampleSource Simulator::taskSourceFor(const SimDevice& device, const SimTask& task,
                                      const AnalogChannel& channel) const {
    if (!task.timing) {
        return sourceFor(device, channel, kOnDemandRate);
    }
    const std::optional<double> origin = acquisitionOrigin(*this, task);
    const double rate = tickRate(*this, task);
    if (!signalsInTime || !origin || rate <= 0.0) {
        return sourceFor(device, channel, task.timing->rate);
    }
    return SampleSource(device.name, channel.index, signalOf(device, channel), rate,
                        converterOf(device, channel), realistic(DAQMXSIM_REALISTIC_SIGNALS),
                        realistic(DAQMXSIM_CONVERTER), *origin);
}

std::uint64_t Simulator::sourceIndexOffset(const SimTask& task) const {
    return signalsInTime || !task.timing ? 0 : task.firstSampleIndex;
}

std::uint64_t Simulator::inputBufferSize(const SimTask& task) const {
    if (task.inputBuffer) {
        return *task.inputBuffer;
    }
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

int32 abortedTask(const SimTask& task) {
    return taskFailure(task.abortStatus, task, {{"Device", task.device}});
}

DriverCall::DriverCall(const char* function)
    : sim(Simulator::instance()), lock(sim.mutex), scripted(sim.beginCall(function)) {
    sim.applyDueEventsLocked();
}

TaskCall::TaskCall(const char* function, TaskHandle handle, bool writesValue, const void* output)
    : DriverCall(function) {
    if (scripted) {
        status = *scripted;
    } else if (task = sim.findTask(handle, status); task != nullptr && writesValue && !output) {
        task = nullptr;
        status = nullOutput("data");
    }
}

DeviceCall::DeviceCall(const char* function, const char* name) : DriverCall(function) {
    if (scripted) {
        status = *scripted;
    } else {
        device = sim.presentDevice(name ? name : "", status);
    }
}

ReadInProgress::ReadInProgress() {
    ++Simulator::instance().readsInProgress;
}

ReadInProgress::~ReadInProgress() {
    --Simulator::instance().readsInProgress;
}

}  // namespace daqmx_sim
