#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kra::device::stubs {

// Number text for results and log lines. The plug-in lives in a host process
// that may have set any locale; none of these depend on it.

/// Fixed notation with six decimals, the bytes printf("%f") gives in the C locale.
std::string formatFixed(double value, int decimals = 6);

/// Lower-case hexadecimal without leading zeros, as printf("%lx").
std::string formatHex(std::uint64_t value);

/// strtod in the C locale: leading white space skipped, the longest valid
/// prefix converted, trailing text ignored; "inf", "infinity", "nan" (any case)
/// and hexadecimal floats ("0x1.8p3") read as strtod reads them. Empty when
/// nothing converts or the value is out of range. The same on every system.
std::optional<double> parseDouble(const std::string& text);

/// strtol (base 10) in the C locale into a signed 32-bit value. Empty when no
/// digit converts or the value lies outside the 32-bit range.
std::optional<std::int32_t> parseInt32(const std::string& text);

}  // namespace kra::device::stubs
