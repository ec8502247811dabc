#pragma once

#include <chrono>
#include <functional>

namespace ni_usb_daq::host {

/// True once a stop was requested.
using StopCheck = std::function<bool()>;

/// The time a recovery goes by and the pauses it makes between attempts:
/// the system's in the program; tests step their own, so that an outage of
/// minutes takes no time and lands on the same instants every run.
class RecoveryClock {
public:
    using Monotonic = std::chrono::steady_clock;
    using Wall = std::chrono::system_clock;

    virtual ~RecoveryClock() = default;
    virtual Monotonic::time_point now() const = 0;
    virtual Wall::time_point wallNow() const = 0;
    /// Waits `duration`, or less when a stop is requested meanwhile; false then.
    virtual bool pause(Monotonic::duration duration, const StopCheck& stopRequested) = 0;
};

/// The system's clocks, and pauses that look at the stop request often
/// enough for Ctrl-C to feel immediate.
class SystemRecoveryClock final : public RecoveryClock {
public:
    Monotonic::time_point now() const override { return Monotonic::now(); }
    Wall::time_point wallNow() const override { return Wall::now(); }
    bool pause(Monotonic::duration duration, const StopCheck& stopRequested) override;
};

}  // namespace ni_usb_daq::host
