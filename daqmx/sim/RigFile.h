#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SimDevice.h"

namespace daqmx_sim {

/// Reads a rig description (format: see RigFile.cpp). On failure returns
/// nullopt and puts the reason into `problem`.
std::optional<std::vector<SimDevice>> loadRigFile(const std::string& path, std::string& problem);

}  // namespace daqmx_sim
