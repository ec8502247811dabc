#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daqmx/NIDAQmx.h"

namespace kra::device::stubs {

/// One string property call: fills `buffer` (room for `size` bytes) or, with a
/// null buffer and size 0, returns the size the value needs.
using DriverStringCall = std::function<int32(char* buffer, uInt32 size)>;

/// One array property call of doubles, the same way round as a string call.
using DriverArrayCall = std::function<int32(float64* buffer, uInt32 size)>;

/// Largest buffer a property may ask for, in bytes; a larger claim is a failure.
inline constexpr uInt32 kMaxDriverStringSize = 1U << 20;

/// The text a driver wrote into `buffer`: up to its first zero, or the whole
/// buffer when the driver left none, so a missing zero is never read past.
inline std::string_view textInBuffer(const char* buffer, std::size_t size) {
    const std::string_view whole(buffer, size);
    return whole.substr(0, whole.find('\0'));
}

/// Reads a string property into a zero-filled buffer of `initialSize` bytes.
/// When the driver says that is too small, asks it for the size it needs and
/// reads again. The text ends at the first zero or at the end of the buffer,
/// whichever comes first. Empty when the driver call does not succeed; then
/// `failedStatus` (when given) receives the status of the last call made, so
/// its extended error text is still the thread's latest.
std::optional<std::string> readDriverString(const DriverStringCall& call, uInt32 initialSize,
                                            int32* failedStatus = nullptr);

/// Reads an array property of doubles by the same rule, into a zero-filled
/// buffer of `initialSize` elements, read again at the driver's size when
/// that is too small. The whole buffer is returned; the caller knows where
/// the driver's list ends.
std::optional<std::vector<float64>> readDriverArray(const DriverArrayCall& call,
                                                    uInt32 initialSize);

}  // namespace kra::device::stubs
