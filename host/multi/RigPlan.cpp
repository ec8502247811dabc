// Which devices a stream of several drives, and how they are wired together.
#include "RigPlan.h"

#include <algorithm>
#include <string_view>

#include "DeviceCommands.h"
#include "HostError.h"
#include "Settings.h"

namespace ni_usb_daq::host {

namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

/// The device a channel or terminal names: "Dev4" of "Dev4/ai0" or "/Dev4/PFI0".
std::string deviceOf(std::string_view name) {
    if (name.starts_with('/')) {
        name.remove_prefix(1);
    }
    const auto slash = name.find('/');
    return slash == std::string_view::npos ? std::string() : std::string(name.substr(0, slash));
}

/// A terminal as the driver writes it, with the leading slash.
std::string terminalName(const std::string& text) {
    return text.starts_with('/') ? text : "/" + text;
}

/// The devices of ai_channels in the order they first appear, each with
/// the pieces of the list that name its channels.
std::vector<RigDevice> devicesOf(const std::string& list) {
    std::vector<RigDevice> devices;
    std::size_t from = 0;
    while (from <= list.size()) {
        const auto comma = std::min(list.find(',', from), list.size());
        const std::string piece = trimmed(std::string_view(list).substr(from, comma - from));
        from = comma + 1;
        if (piece.empty()) {
            continue;
        }
        const std::string owner = deviceOf(piece);
        auto found = std::find_if(devices.begin(), devices.end(), [&](const RigDevice& device) {
            return sameDriverName(device.name, owner);
        });
        if (found == devices.end()) {
            devices.push_back({owner, piece, {}, {}});
        } else {
            found->channels += "," + piece;
        }
    }
    return devices;
}

/// Applies the pairs of one option to the followers they name.
void wire(std::vector<RigDevice>& devices, const std::vector<std::string>& pairs,
          const std::string& option, std::optional<WiredTerminals> RigDevice::*slot) {
    const std::string& leader = devices.front().name;
    for (const std::string& pair : pairs) {
        const auto equals = pair.find('=');
        const std::string from = trimmed(std::string_view(pair).substr(0, equals));
        const std::string to = equals == std::string::npos
                                   ? std::string()
                                   : trimmed(std::string_view(pair).substr(equals + 1));
        if (from.empty() || to.empty() || deviceOf(from).empty() || deviceOf(to).empty()) {
            throw UsageError(option + " " + pair +
                             " is not LEADER_TERMINAL=FOLLOWER_TERMINAL (e.g. " + option + " /" +
                             leader + "/PFI4=/Dev2/PFI0)");
        }
        if (!sameDriverName(deviceOf(from), leader)) {
            throw UsageError(option + " " + pair + ": " + from + " is not a terminal of " + leader +
                             ", which leads (the device of the first channel)");
        }
        const auto follower = std::find_if(
            devices.begin() + 1, devices.end(),
            [&](const RigDevice& device) { return sameDriverName(device.name, deviceOf(to)); });
        if (follower == devices.end()) {
            throw UsageError(option + " " + pair + ": " + to +
                             " is not a terminal of a device whose channels are recorded");
        }
        if ((*follower).*slot) {
            throw UsageError(option + " names " + follower->name + " twice: one pair per follower");
        }
        (*follower).*slot = WiredTerminals{terminalName(from), terminalName(to)};
    }
}

/// The leader exports each signal to one terminal, which the wiring may fan
/// out to several followers.
void requireOneExport(const std::vector<RigDevice>& devices,
                      std::optional<WiredTerminals> RigDevice::*slot, const std::string& option) {
    const std::optional<WiredTerminals>* first = nullptr;
    for (const RigDevice& device : devices) {
        const auto& wired = device.*slot;
        if (!wired) {
            continue;
        }
        if (first == nullptr) {
            first = &wired;
        } else if (!sameDriverName((*first)->leader, wired->leader)) {
            throw UsageError(option + " names two terminals of the leader (" + (*first)->leader +
                             ", " + wired->leader +
                             "): it exports the signal to one; wire that one to every follower");
        }
    }
}

}  // namespace

bool RigPlan::synchronised() const {
    return devices.size() > 1 &&
           std::all_of(devices.begin() + 1, devices.end(),
                       [](const RigDevice& device) { return device.clock && device.start; });
}

kra::device::OperationParams RigPlan::settingsFor(
    std::size_t index, const kra::device::OperationParams& common) const {
    kra::device::OperationParams settings = common;
    const RigDevice& device = devices.at(index);
    settings["ai_channels"] = device.channels;
    settings["device_name"] = device.name;
    if (!synchronised()) {
        return settings;
    }
    if (index == 0) {
        // Every follower's pair names the same terminal of the leader.
        settings["export_sample_clock_to"] = devices.back().clock->leader;
        settings["export_start_trigger_to"] = devices.back().start->leader;
        return settings;
    }
    settings["sample_clock_source"] = device.clock->follower;
    settings["start_trigger_type"] = "DIGITAL_EDGE";
    settings["start_trigger_source"] = device.start->follower;
    settings["start_trigger_edge"] = "RISING";
    return settings;
}

std::vector<std::string> RigPlan::wiring() const {
    std::vector<std::string> lines;
    for (const RigDevice& device : devices) {
        if (device.clock) {
            lines.push_back("sample clock " + device.clock->leader + " -> " +
                            device.clock->follower);
        }
        if (device.start) {
            lines.push_back("start trigger " + device.start->leader + " -> " +
                            device.start->follower);
        }
    }
    return lines;
}

std::string RigPlan::synchronisationText() const {
    if (synchronised()) {
        return "synchronised: the followers take " + leader().name +
               "'s sample clock and start trigger";
    }
    return "not synchronised: each device runs on its own clock and starts on its own, so "
           "their samples drift apart";
}

std::vector<std::size_t> RigPlan::startOrder() const {
    std::vector<std::size_t> order;
    for (std::size_t i = 1; i < devices.size(); ++i) {
        order.push_back(i);
    }
    order.push_back(0);
    return order;
}

std::optional<RigPlan> planRig(const kra::device::OperationParams& settings,
                               const std::vector<std::string>& shareClock,
                               const std::vector<std::string>& shareStart) {
    const auto channels = settings.find("ai_channels");
    RigPlan plan;
    if (channels != settings.end()) {
        plan.devices = devicesOf(channels->second);
    }
    if (plan.devices.size() < 2) {
        if (!shareClock.empty() || !shareStart.empty()) {
            throw UsageError(std::string(shareClock.empty() ? "--share-start" : "--share-clock") +
                             " wires devices together: name channels of each in ai_channels "
                             "(e.g. ai_channels=Dev1/ai0:3,Dev2/ai0:3)");
        }
        return std::nullopt;
    }
    wire(plan.devices, shareClock, "--share-clock", &RigDevice::clock);
    wire(plan.devices, shareStart, "--share-start", &RigDevice::start);
    requireOneExport(plan.devices, &RigDevice::clock, "--share-clock");
    requireOneExport(plan.devices, &RigDevice::start, "--share-start");
    if (shareClock.empty() && shareStart.empty()) {
        return plan;
    }
    for (auto device = plan.devices.begin() + 1; device != plan.devices.end(); ++device) {
        if (!device->clock || !device->start) {
            throw UsageError(device->name +
                             (device->clock   ? " takes the leader's sample clock but not its "
                                                "start trigger: give --share-start for it too"
                              : device->start ? " takes the leader's start trigger but not "
                                                "its sample clock: give --share-clock for it too"
                                              : " is not wired to the leader: give --share-clock "
                                                "and --share-start for it too"));
        }
    }
    return plan;
}

}  // namespace ni_usb_daq::host
