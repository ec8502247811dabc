#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace daqmx_sim {

/// What happens to a device at a scheduled moment.
enum class EventKind { Unplug, Replug, TransferAbort, Overflow, Reset, PfiEdge };

/// One scheduled event: at simulated second `at`, `kind` happens to `device`.
struct SimEvent {
    double at = 0.0;
    std::string device;
    EventKind kind = EventKind::Unplug;
    std::string renameTo;   // replug: the name the device comes back under ("" keeps it)
    double readyAfter = 0;  // replug: seconds its properties still fail
    std::string terminal;   // pfi_edge: "PFI0"
    int edge = 0;           // pfi_edge: DAQmx_Val_Rising or DAQmx_Val_Falling
};

/// Parses a list of events from JSON text (format: see EventSchedule.cpp).
/// `devices` are the names events may refer to; a replug's new name counts
/// from its own entry on. The events come back ordered by time (equal times
/// in the order given). On failure: nullopt, the reason (with the entry's
/// index) in `problem`.
std::optional<std::vector<SimEvent>> parseEvents(std::string_view text,
                                                 std::vector<std::string> devices,
                                                 std::string& problem);

/// The same for a file (a UTF-8 path); the reason then starts with the path.
std::optional<std::vector<SimEvent>> loadEventsFile(const std::string& path,
                                                    std::vector<std::string> devices,
                                                    std::string& problem);

}  // namespace daqmx_sim
