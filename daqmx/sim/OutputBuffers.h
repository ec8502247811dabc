#pragma once

#include <string_view>

#include "daqmx/NIDAQmx.h"

namespace daqmx_sim {

/// Writes a string property the way the driver does: size 0 returns the size
/// needed (terminating zero included) as a positive status; a buffer too
/// small fails with kBufferTooSmallForString and is left untouched; otherwise
/// the text is copied NUL-terminated and 0 returned.
int32 writeStringProperty(std::string_view text, char* data, uInt32 bufferSize);

/// Fails with kNullPointer for a missing output argument.
int32 nullOutput(std::string_view argument);

}  // namespace daqmx_sim
