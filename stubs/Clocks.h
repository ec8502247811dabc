#pragma once

#include <chrono>
#include <cstdint>

namespace kra::device::stubs {

/// Monotonic clock reading in nanoseconds since its (arbitrary) epoch.
inline std::int64_t steadyClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// Wall clock (UTC) in nanoseconds since 1970-01-01, in whole 100 ns ticks.
inline std::int64_t wallClockNs100() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    const auto ticks =
        std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
    return ticks.count() * 100;
}

}  // namespace kra::device::stubs
