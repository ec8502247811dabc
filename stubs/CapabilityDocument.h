#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"

namespace kra::device::stubs {

/// The capability document: from the manifest file at `manifestPath` as it
/// reads now when that is not empty, otherwise from the record (null: none).
/// File errors are the JSON library's exceptions and reach the caller.
nlohmann::json buildCapabilities(const std::string& manifestPath, const DeviceManifest* manifest);

}  // namespace kra::device::stubs
