// Scheduled device events: faults that happen on their own at a set moment.
//
// A schedule is a JSON array of event objects:
//
//   "at_s"           number   simulated seconds since the driver started (or was
//                             reset) at which the event happens; >= 0
//   "device"         string   the device it happens to
//   "event"          string   "unplug", "replug", "transfer_abort", "overflow", "reset"
//                             or "pfi_edge"
//   "as"             string   replug only: the name the device comes back under
//   "ready_after_s"  number   replug only: seconds during which the device is
//                             listed but its property queries still fail
//   "terminal"       string   pfi_edge only (required): the terminal, "PFI0"
//   "edge"           string   pfi_edge only: "RISING" (default) or "FALLING"
//
// A "pfi_edge" is a digital edge arriving at a terminal of the device (and at
// every terminal wired to it): it fires the triggers waiting for it.
//
// No other member is accepted, so a misspelt one is not silently ignored.
#include "EventSchedule.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "SimDevice.h"
#include "TextFile.h"

namespace daqmx_sim {

namespace {

using nlohmann::json;

class EventError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct EventName {
    std::string_view name;
    EventKind kind;
};

constexpr EventName kEventNames[] = {
    {"unplug", EventKind::Unplug},
    {"replug", EventKind::Replug},
    {"transfer_abort", EventKind::TransferAbort},
    {"overflow", EventKind::Overflow},
    {"reset", EventKind::Reset},
    {"pfi_edge", EventKind::PfiEdge},
};

double secondsMember(const json& entry, const char* member) {
    const json& value = entry.at(member);
    if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0.0) {
        throw EventError(std::string("\"") + member + "\" must be a number >= 0");
    }
    return value.get<double>();
}

std::string nameMember(const json& entry, const char* member) {
    const json& value = entry.at(member);
    if (!value.is_string() || value.get<std::string>().empty()) {
        throw EventError(std::string("\"") + member + "\" must be a non-empty string");
    }
    return value.get<std::string>();
}

SimEvent parseEvent(const json& entry, std::vector<std::string>& devices) {
    if (!entry.is_object()) {
        throw EventError("not an object");
    }
    for (const char* required : {"at_s", "device", "event"}) {
        if (!entry.contains(required)) {
            throw EventError(std::string("\"") + required + "\" is missing");
        }
    }
    SimEvent event;
    event.at = secondsMember(entry, "at_s");
    event.device = nameMember(entry, "device");
    const json& name = entry.at("event");
    const auto known = std::find_if(
        std::begin(kEventNames), std::end(kEventNames),
        [&](const EventName& e) { return name.is_string() && e.name == name.get<std::string>(); });
    if (known == std::end(kEventNames)) {
        // A string is quoted as given, anything else named by its type only:
        // printing a value nested a million deep would recurse as deep.
        const std::string given =
            name.is_string() ? name.dump() : std::string("of type ") + name.type_name();
        throw EventError("unknown event " + given +
                         " (known: unplug, replug, transfer_abort, overflow, reset, pfi_edge)");
    }
    event.kind = known->kind;
    if (indexOfName(devices, event.device) < 0) {
        throw EventError("unknown device \"" + event.device + "\"");
    }
    for (const auto& [member, value] : entry.items()) {
        const bool common = member == "at_s" || member == "device" || member == "event";
        const bool replugOnly = member == "as" || member == "ready_after_s";
        const bool edgeOnly = member == "terminal" || member == "edge";
        if (!common && !(replugOnly && event.kind == EventKind::Replug) &&
            !(edgeOnly && event.kind == EventKind::PfiEdge)) {
            throw EventError("member \"" + member + "\" does not belong to a \"" +
                             std::string(known->name) + "\" event");
        }
    }
    if (entry.contains("as")) {
        event.renameTo = nameMember(entry, "as");
        if (indexOfName(devices, event.renameTo) < 0) {
            devices.push_back(event.renameTo);
        }
    }
    if (entry.contains("ready_after_s")) {
        event.readyAfter = secondsMember(entry, "ready_after_s");
    }
    if (event.kind == EventKind::PfiEdge) {
        if (!entry.contains("terminal")) {
            throw EventError("\"terminal\" is missing");
        }
        event.terminal = nameMember(entry, "terminal");
        const std::string edge = entry.contains("edge") ? nameMember(entry, "edge") : "RISING";
        if (edge != "RISING" && edge != "FALLING") {
            throw EventError("\"edge\" must be \"RISING\" or \"FALLING\"");
        }
        event.edge = edge == "RISING" ? DAQmx_Val_Rising : DAQmx_Val_Falling;
    }
    return event;
}

}  // namespace

std::optional<std::vector<SimEvent>> parseEvents(std::string_view text,
                                                 std::vector<std::string> devices,
                                                 std::string& problem) {
    // Whatever the text holds, the caller gets a reason back, never an
    // exception: a number beyond a double (1e999) is as bad as a missing
    // bracket, and both end in a C caller that cannot catch.
    try {
        json document;
        try {
            document = json::parse(text);
        } catch (const json::parse_error& error) {
            problem = std::string("not valid JSON: ") + error.what();
            return std::nullopt;
        } catch (const json::exception& error) {
            problem = std::string("not usable JSON: ") + error.what();
            return std::nullopt;
        }
        if (!document.is_array()) {
            problem = "the schedule must be an array of events";
            return std::nullopt;
        }
        std::vector<SimEvent> events;
        for (std::size_t i = 0; i < document.size(); ++i) {
            try {
                events.push_back(parseEvent(document[i], devices));
            } catch (const std::exception& error) {
                problem = "entry " + std::to_string(i) + ": " + error.what();
                return std::nullopt;
            }
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const SimEvent& a, const SimEvent& b) { return a.at < b.at; });
        return events;
    } catch (const std::exception& error) {
        problem = std::string("cannot be read: ") + error.what();
        return std::nullopt;
    }
}

std::optional<std::vector<SimEvent>> loadEventsFile(const std::string& path,
                                                    std::vector<std::string> devices,
                                                    std::string& problem) {
    const auto text = readTextFile(path, problem);
    if (!text) {
        return std::nullopt;
    }
    auto events = parseEvents(*text, std::move(devices), problem);
    if (!events) {
        problem = path + ": " + problem;
    }
    return events;
}

}  // namespace daqmx_sim
