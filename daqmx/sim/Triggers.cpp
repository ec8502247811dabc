// Triggers, wiring and clocks of the simulated devices.
//
// A task's sample clock starts ticking at its start trigger (at once when it
// has none). A digital trigger fires at the first matching edge on its
// terminal, or on any terminal wired to it, from the task's start on: edges
// come from scheduled "pfi_edge" events and from start triggers that other
// tasks export. An analogue trigger fires at the first sample of its channel
// that crosses the level with the slope. A reference trigger is armed once
// the task has its pretrigger samples, and delivered sample 0 is then the
// one that many samples before the trigger's.
#include "Triggers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ErrorText.h"
#include "ExtendedError.h"
#include "Simulator.h"
#include "StatusCodes.h"

namespace daqmx_sim {

namespace {

// Sample clocks driven through wires by clocks driven through wires, and so
// on, end somewhere: a loop of them drives nothing.
constexpr int kMaxClockChain = 8;

int32 refusedValue(const SimTask& task, std::string_view property, std::string_view requested,
                   std::string possible) {
    return fail(
        status::kInvalidAttributeValue,
        errorText(status::kInvalidAttributeValue, statusSummary(status::kInvalidAttributeValue),
                  {{"Property", std::string(property)},
                   {"Requested Value", std::string(requested)},
                   {"Possible Values", std::move(possible)},
                   {"Task Name", task.name}}));
}

int32 terminalFailure(int32 code, const SimTask& task, std::string_view property,
                      const std::string& terminal) {
    return fail(code, errorText(code, statusSummary(code),
                                {{"Property", std::string(property)},
                                 {"Terminal", terminal},
                                 {"Device", task.device},
                                 {"Task Name", task.name}}));
}

// A terminal of the task's device that can receive (a trigger or clock
// source) or drive (an export) a signal: 0, or the routing failure.
int32 checkTerminal(const Simulator& sim, const SimTask& task, const std::string& terminal,
                    bool drives, std::string_view property) {
    const PfiTerminal* pfi = nullptr;
    const std::string canonical = canonicalTerminal(sim, terminal, task.device, &pfi);
    const std::string own = "/" + task.device + "/";
    if (canonical.empty() || !sameName(canonical.substr(0, own.size()), own)) {
        return terminalFailure(status::kInvalidTerminal, task, property, terminal);
    }
    if (drives ? !pfi->canDrive() : !pfi->canReceive()) {
        return terminalFailure(status::kRouteNotSupported, task, property, terminal);
    }
    return 0;
}

std::string triggerTypesText(const SimDevice& device) {
    std::string text = device.digitalTriggers ? "DAQmx_Val_DigEdge, " : "";
    text += device.analogTriggers ? "DAQmx_Val_AnlgEdge, " : "";
    return text + "DAQmx_Val_None";
}

std::string_view typeName(int32 type) {
    return type == DAQmx_Val_AnlgEdge ? "DAQmx_Val_AnlgEdge" : "DAQmx_Val_DigEdge";
}

const AnalogChannel* triggerChannel(const SimTask& task, std::string_view source) {
    std::string_view name = source;
    if (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    for (const AnalogChannel& channel : task.analog) {
        const std::string_view physical = channel.physicalName;
        const std::string_view shortName = physical.substr(physical.find('/') + 1);
        if (sameName(physical, name) || sameName(shortName, name)) {
            return &channel;
        }
    }
    return nullptr;
}

int32 verifyTrigger(const Simulator& sim, const SimTask& task, const SimDevice& device,
                    const TriggerSetup& trigger, bool reference) {
    const std::string_view property = reference ? "DAQmx_RefTrig_Type" : "DAQmx_StartTrig_Type";
    if (reference && !device.referenceTriggers) {
        return refusedValue(task, property, typeName(trigger.type), "DAQmx_Val_None");
    }
    const bool analog = trigger.type == DAQmx_Val_AnlgEdge;
    if (analog ? !device.analogTriggers : !device.digitalTriggers) {
        return refusedValue(task, property, typeName(trigger.type), triggerTypesText(device));
    }
    if (analog) {
        if (triggerChannel(task, trigger.source) == nullptr) {
            return taskFailure(status::kInvalidAnalogTriggerSource, task,
                               {{"Source", trigger.source}});
        }
        return 0;
    }
    return checkTerminal(sim, task, trigger.source, false,
                         reference ? "DAQmx_DigEdge_RefTrig_Src" : "DAQmx_DigEdge_StartTrig_Src");
}

bool connected(const Simulator& sim, std::string_view a, std::string_view b) {
    if (sameName(a, b)) {
        return true;
    }
    return std::any_of(sim.wiring.begin(), sim.wiring.end(), [&](const auto& net) {
        const auto has = [&net](std::string_view t) {
            return std::any_of(net.begin(), net.end(),
                               [t](const std::string& w) { return sameName(w, t); });
        };
        return has(a) && has(b);
    });
}

// The running task whose sample clock drives `task`'s external clock terminal.
const SimTask* clockDriver(const Simulator& sim, const SimTask& task) {
    for (const auto& [id, other] : sim.tasks) {
        if (id != task.id && other.running && other.abortStatus == 0 &&
            !other.sampleClockExport.empty() &&
            connected(sim, other.sampleClockExport, task.clockTerminal)) {
            return &other;
        }
    }
    return nullptr;
}

double tickRateOf(const Simulator& sim, const SimTask& task, int depth) {
    if (!task.timing || depth > kMaxClockChain) {
        return 0.0;
    }
    if (task.clockTerminal.empty()) {
        const SimDevice* device = sim.findDevice(task.device);
        const double ppm = device ? device->clockPpm : 0.0;
        return ppm == 0.0 ? task.timing->rate : task.timing->rate * (1.0 + ppm * 1e-6);
    }
    const SimTask* driver = clockDriver(sim, task);
    return driver ? tickRateOf(sim, *driver, depth + 1) : 0.0;
}

// Samples of the task's own clock from its start to `at`, rounded up: the
// first one taken at or after that moment.
std::uint64_t samplesUntil(const SimTask& task, double at, double rate) {
    const double count = std::ceil((at - task.startedAt) * rate - 1e-6);
    return count <= 0.0 ? 0 : static_cast<std::uint64_t>(count);
}

double clockRate(const Simulator& sim, const SimTask& task) {
    const double rate = tickRate(sim, task);
    return rate > 0.0 ? rate : task.timing->rate;
}

void fireStartLocked(Simulator& sim, SimTask& task, double at) {
    task.startTriggeredAt = at;
    task.firstSampleIndex = samplesUntil(task, at, task.timing ? task.timing->rate : 1.0);
    task.analogSearched = task.firstSampleIndex;
    if (!task.referenceTrigger.set()) {
        task.firstSampleAt = at;
    }
    sim.changed.notify_all();
    if (!task.startTriggerExport.empty()) {
        edgeLocked(sim, task.startTriggerExport, DAQmx_Val_Rising, at);
    }
}

// The moment from which a reference trigger counts: once the pretrigger
// samples are in, as the hardware ignores earlier ones.
double referenceArmedAt(const Simulator& sim, const SimTask& task) {
    return *task.startTriggeredAt +
           static_cast<double>(task.referenceTrigger.pretriggerSamples) / clockRate(sim, task);
}

void fireReferenceLocked(Simulator& sim, SimTask& task, double at) {
    const double rate = clockRate(sim, task);
    const double sinceStart = at - *task.startTriggeredAt;
    const double atTrigger = std::ceil(sinceStart * rate - 1e-6);
    const std::uint64_t trigger = atTrigger <= 0.0 ? 0 : static_cast<std::uint64_t>(atTrigger);
    const std::uint64_t first =
        trigger - std::min<std::uint64_t>(trigger, task.referenceTrigger.pretriggerSamples);
    task.referenceTriggeredAt = at;
    task.firstSampleAt = *task.startTriggeredAt + static_cast<double>(first) / rate;
    task.firstSampleIndex += first;
    sim.changed.notify_all();
}

bool matches(const Simulator& sim, const TriggerSetup& trigger, const std::string& terminal,
             int32 edge) {
    return trigger.type == DAQmx_Val_DigEdge && trigger.edge == edge &&
           connected(sim, trigger.source, terminal);
}

bool crosses(const TriggerSetup& trigger, double before, double after) {
    return trigger.edge == DAQmx_Val_FallingSlope
               ? before > trigger.level && after <= trigger.level
               : before < trigger.level && after >= trigger.level;
}

}  // namespace

std::string canonicalTerminal(const Simulator& sim, std::string_view text, std::string_view device,
                              const PfiTerminal** pfi) {
    if (!text.empty() && text.front() == '/') {
        text.remove_prefix(1);
    }
    const std::size_t slash = text.find('/');
    const std::string_view deviceName =
        slash == std::string_view::npos ? device : text.substr(0, slash);
    const std::string_view terminal =
        slash == std::string_view::npos ? text : text.substr(slash + 1);
    const SimDevice* owner = sim.findDevice(deviceName);
    if (owner == nullptr) {
        return {};
    }
    for (const PfiTerminal& candidate : owner->pfi) {
        if (sameName(candidate.name, terminal)) {
            if (pfi != nullptr) {
                *pfi = &candidate;
            }
            return "/" + owner->name + "/" + candidate.name;
        }
    }
    return {};
}

std::string asTerminal(const Simulator& sim, std::string_view text, const SimTask& task) {
    std::string canonical = canonicalTerminal(sim, text, task.device);
    if (!canonical.empty()) {
        return canonical;
    }
    if (!text.empty() && text.front() == '/') {
        return std::string(text);
    }
    std::string terminal = "/";
    return terminal.append(text);
}

int32 verifyTriggers(const Simulator& sim, const SimTask& task) {
    const SimDevice* device = sim.findDevice(task.device);
    if (device == nullptr) {
        return 0;
    }
    const bool triggered = task.startTrigger.set() || task.referenceTrigger.set();
    if (triggered && !task.timing) {
        return taskFailure(status::kTriggerWithoutSampleClock, task);
    }
    if (task.startTrigger.set()) {
        if (const int32 refused = verifyTrigger(sim, task, *device, task.startTrigger, false)) {
            return refused;
        }
    }
    if (task.referenceTrigger.set()) {
        if (const int32 refused = verifyTrigger(sim, task, *device, task.referenceTrigger, true)) {
            return refused;
        }
        if (!task.timing->finite()) {
            return taskFailure(status::kReferenceTriggerWhenContinuous, task);
        }
    }
    if (!task.clockTerminal.empty()) {
        if (const int32 refused =
                checkTerminal(sim, task, task.clockTerminal, false, "DAQmx_SampClk_Src")) {
            return refused;
        }
    }
    for (const auto& [terminal, property] :
         {std::pair{&task.sampleClockExport, "DAQmx_Exported_SampClk_OutputTerm"},
          std::pair{&task.startTriggerExport, "DAQmx_Exported_StartTrig_OutputTerm"}}) {
        if (!terminal->empty()) {
            if (const int32 refused = checkTerminal(sim, task, *terminal, true, property)) {
                return refused;
            }
        }
    }
    return 0;
}

double tickRate(const Simulator& sim, const SimTask& task) {
    return tickRateOf(sim, task, 0);
}

std::optional<double> acquisitionOrigin(const Simulator& sim, const SimTask& task) {
    if (!task.firstSampleAt) {
        return std::nullopt;
    }
    if (task.clockTerminal.empty()) {
        return task.firstSampleAt;
    }
    const SimTask* driver = clockDriver(sim, task);
    if (driver == nullptr || !driver->firstSampleAt) {
        return std::nullopt;
    }
    return std::max(*task.firstSampleAt, *driver->firstSampleAt);
}

void armTriggersLocked(Simulator& sim, SimTask& task) {
    task.startTriggeredAt.reset();
    task.referenceTriggeredAt.reset();
    task.firstSampleAt.reset();
    task.firstSampleIndex = 0;
    task.analogSearched = 0;
    if (!task.startTrigger.set()) {
        fireStartLocked(sim, task, task.startedAt);
    }
}

void edgeLocked(Simulator& sim, const std::string& terminal, int32 edge, double at) {
    for (auto& [id, task] : sim.tasks) {
        if (!task.running || task.abortStatus != 0 || !task.timing || at < task.startedAt) {
            continue;
        }
        if (!task.startTriggeredAt) {
            if (matches(sim, task.startTrigger, terminal, edge)) {
                fireStartLocked(sim, task, at);
            }
        } else if (!task.referenceTriggeredAt &&
                   matches(sim, task.referenceTrigger, terminal, edge) &&
                   at >= referenceArmedAt(sim, task)) {
            fireReferenceLocked(sim, task, at);
        }
    }
}

void searchAnalogTriggerLocked(Simulator& sim, SimTask& task) {
    const bool forStart = !task.startTriggeredAt;
    const TriggerSetup& trigger = forStart ? task.startTrigger : task.referenceTrigger;
    if (!task.running || !task.timing || trigger.type != DAQmx_Val_AnlgEdge ||
        (!forStart && task.referenceTriggeredAt)) {
        return;
    }
    const AnalogChannel* channel = triggerChannel(task, trigger.source);
    const SimDevice* device = sim.findDevice(task.device);
    const double rate = clockRate(sim, task);
    if (channel == nullptr || device == nullptr) {
        return;
    }
    // The comparator watches the signal from the start, sample by sample of
    // the task's clock; a reference trigger only after its pretrigger samples.
    SampleSource source =
        sim.signalsInTime
            ? SampleSource(device->name, channel->index, sim.signalOf(*device, *channel), rate,
                           sim.converterOf(*device, *channel),
                           sim.realistic(DAQMXSIM_REALISTIC_SIGNALS),
                           sim.realistic(DAQMXSIM_CONVERTER), task.startedAt)
            : sim.sourceFor(*device, *channel, task.timing->rate);
    std::uint64_t from = std::max<std::uint64_t>(task.analogSearched, 1);
    if (!forStart) {
        from = std::max(from, samplesUntil(task, referenceArmedAt(sim, task), rate));
    }
    const double until = std::floor((sim.clock.now() - task.startedAt) * rate + 1e-9);
    const std::uint64_t last = until <= 0.0 ? 0 : static_cast<std::uint64_t>(until);
    for (std::uint64_t i = from; i <= last; ++i) {
        if (crosses(trigger, source.at(i - 1), source.at(i))) {
            const double at = task.startedAt + static_cast<double>(i) / rate;
            task.analogSearched = i;
            forStart ? fireStartLocked(sim, task, at) : fireReferenceLocked(sim, task, at);
            return;
        }
    }
    task.analogSearched = std::max(task.analogSearched, last);
}

bool awaitingTrigger(const SimTask& task) {
    return task.running && !task.firstSampleAt;
}

}  // namespace daqmx_sim
