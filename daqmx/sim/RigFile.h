#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SimDevice.h"

namespace daqmx_sim {

/// A rig: its devices and the wires between their terminals.
struct Rig {
    std::vector<SimDevice> devices;
    // Each net a list of terminals joined by wires, as "/Dev1/PFI4".
    std::vector<std::vector<std::string>> wiring;
    /// Signals follow simulated time when devices share wires or a clock errs.
    bool signalsInTime() const;
};

/// The rig of a freshly loaded driver (builtInDevices(), no wiring).
Rig builtInRig();

/// Reads a rig description (format: see RigFile.cpp). On failure returns
/// nullopt and puts the reason into `problem`.
std::optional<Rig> loadRigFile(const std::string& path, std::string& problem);

}  // namespace daqmx_sim
