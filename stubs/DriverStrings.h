#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "daqmx/NIDAQmx.h"

namespace kra::device::stubs {

/// One string property call: fills `buffer` (room for `size` bytes) or, with a
/// null buffer and size 0, returns the size the value needs.
using DriverStringCall = std::function<int32(char* buffer, uInt32 size)>;

/// Largest buffer a string property may ask for; a larger claim is a failure.
inline constexpr uInt32 kMaxDriverStringSize = 1U << 20;

/// Reads a string property into a zero-filled buffer of `initialSize` bytes.
/// When the driver says that is too small, asks it for the size it needs and
/// reads again. The text ends at the first zero or at the end of the buffer,
/// whichever comes first. Empty when the driver call does not succeed.
std::optional<std::string> readDriverString(const DriverStringCall& call, uInt32 initialSize);

}  // namespace kra::device::stubs
