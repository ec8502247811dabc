#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "device/DeviceRecords.h"

namespace kra::device::stubs {

// Lookups of request parameters. Every value arrives as text; a value that
// does not convert keeps the caller's default without any message.

/// The value under `key`, or `fallback` when the key is absent. An empty value
/// is a value.
std::string getStringParam(const OperationParams& params, const std::string& key,
                           const std::string& fallback);

/// strtod rules in the C locale: the longest numeric prefix counts, trailing
/// text is ignored; `fallback` when nothing converts or on a range error.
double getDoubleParam(const OperationParams& params, const std::string& key, double fallback);

/// strtol (base 10) rules in the C locale into 32 bits; `fallback` when no
/// digit converts or the value does not fit.
std::int32_t getIntParam(const OperationParams& params, const std::string& key,
                         std::int32_t fallback);

/// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
/// nothing above U+10FFFF): what the JSON writer accepts in a string.
bool isValidUtf8(std::string_view text);

}  // namespace kra::device::stubs
