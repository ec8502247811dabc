#pragma once

#include <string>

#include "daqmx/NIDAQmx.h"

namespace kra::device::stubs {

/// The driver constant for a terminal configuration text. Matching is exact
/// and case-sensitive; any text the table does not know means RSE.
int32 parseTerminalConfig(const std::string& text);

}  // namespace kra::device::stubs
