#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "SimDevice.h"
#include "SimTask.h"

// When a task's acquisition begins: its triggers, the terminals they come
// from, the wiring between devices and the clocks that pace each device.
namespace daqmx_sim {

class Simulator;

/// A terminal as the driver writes it ("/Dev1/PFI0"), from one given with or
/// without its leading slash, or without its device ("PFI0": `device`'s).
/// Empty when it names no PFI terminal of a device of the rig; `pfi` then
/// points at the terminal.
std::string canonicalTerminal(const Simulator& sim, std::string_view text, std::string_view device,
                              const PfiTerminal** pfi = nullptr);

/// A terminal given to a task as the driver reads it back: canonical when
/// the rig has it, else as given with a leading slash (verification refuses it).
std::string asTerminal(const Simulator& sim, std::string_view text, const SimTask& task);

/// Checks a task's triggers, clock source and exports against what its
/// device can do, as the driver's verification does: 0, or the status
/// (with its error text).
int32 verifyTriggers(const Simulator& sim, const SimTask& task);

/// Samples per second at which the task's clock ticks in simulated time (its
/// device's timebase error included, or the clock of the task that drives
/// its external clock terminal); 0 while nothing drives that terminal.
double tickRate(const Simulator& sim, const SimTask& task);

/// When delivered sample 0 of the task is (or was) acquired: none while it
/// awaits a trigger or nothing drives its external clock.
std::optional<double> acquisitionOrigin(const Simulator& sim, const SimTask& task);

/// At the start of a task: arms its triggers, or begins the acquisition at
/// once when it has none.
void armTriggersLocked(Simulator& sim, SimTask& task);

/// A digital edge on a terminal at simulated second `at`: it fires the
/// triggers waiting for it there and at every terminal wired to it.
void edgeLocked(Simulator& sim, const std::string& terminal, int32 edge, double at);

/// Fires an awaited analogue trigger whose signal crossed its level by now.
void searchAnalogTriggerLocked(Simulator& sim, SimTask& task);

/// Whether the task is still waiting for a trigger.
bool awaitingTrigger(const SimTask& task);

}  // namespace daqmx_sim
