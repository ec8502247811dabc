#pragma once

#include <string>

#include "daqmx/NIDAQmx.h"

// The extended error information of the calling thread, as the driver keeps
// it: each thread sees the text of its own last failure.
namespace daqmx_sim {

/// Records `text` (or the override set by a test) as the calling thread's last
/// failure and returns `status`, so call sites can `return fail(...)`.
int32 fail(int32 status, std::string text);

/// The calling thread's last failure text (empty before the first failure).
const std::string& lastErrorText();

/// Text that replaces every later failure's own text; empty restores them.
void setErrorTextOverride(std::string text);

}  // namespace daqmx_sim
