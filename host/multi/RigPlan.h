#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "DeviceRecords.h"

namespace ni_usb_daq::host {

/// One pair of wired terminals: a signal the leader exports and the
/// follower's terminal it arrives on ("/Dev1/PFI4" to "/Dev4/PFI0").
struct WiredTerminals {
    std::string leader;
    std::string follower;
};

/// One device of a stream of several: its name and its part of ai_channels.
struct RigDevice {
    std::string name;
    std::string channels;  ///< as given, e.g. "Dev4/ai0:3"
    /// For a synchronised follower: where the leader's clock and start trigger arrive.
    std::optional<WiredTerminals> clock;
    std::optional<WiredTerminals> start;
};

/// A stream of several devices, each with its own stub and task. The device
/// of the first channel leads; with shared terminals the others take its
/// sample clock and start trigger, otherwise every device runs on its own clock.
struct RigPlan {
    std::vector<RigDevice> devices;  ///< the leader first

    const RigDevice& leader() const { return devices.front(); }
    /// Every follower takes the leader's clock and start trigger.
    bool synchronised() const;
    /// The settings of device `index`: the common ones with its channels,
    /// and the terminals it exports (the leader) or takes its clock and
    /// start trigger from (a follower).
    kra::device::OperationParams settingsFor(std::size_t index,
                                             const kra::device::OperationParams& common) const;
    /// The wiring as recordings state it: "sample clock /Dev1/PFI4 -> /Dev4/PFI0", ...
    std::vector<std::string> wiring() const;
    /// One line for a header: how the devices are (or are not) synchronised.
    std::string synchronisationText() const;
    /// The order to start the devices in: followers first, so that they wait
    /// for the leader's start trigger; the leader last.
    std::vector<std::size_t> startOrder() const;
};

/// The rig the settings and the wiring options describe, or nullopt when
/// ai_channels names channels of one device only (and no wiring is given).
/// Throws UsageError for wiring that does not fit the devices: a pair that
/// is not LEADER_TERMINAL=FOLLOWER_TERMINAL, a terminal of another device
/// than the leader or a follower, a follower wired twice or only half.
std::optional<RigPlan> planRig(const kra::device::OperationParams& settings,
                               const std::vector<std::string>& shareClock,
                               const std::vector<std::string>& shareStart);

}  // namespace ni_usb_daq::host
