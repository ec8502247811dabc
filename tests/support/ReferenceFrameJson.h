#pragma once

#include <nlohmann/json.hpp>

#include "stubs/acquisition/SampleFrame.h"

namespace kra::device::stubs {

/// The frame as the JSON library's document (members sorted by key, as the
/// library keeps them): the plain way to the text the plug-in's writer makes
/// directly, which tests, the fuzz target and the benchmarks compare it with.
nlohmann::json buildFrameJson(const SampleFrameView& frame);

}  // namespace kra::device::stubs
