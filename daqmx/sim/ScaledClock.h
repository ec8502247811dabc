#pragma once

#include <chrono>

namespace daqmx_sim {

/// The simulated time base that paces acquisitions: simulated seconds run
/// `scale` times as fast as real ones. At scale 0 time stands still and
/// acquisitions are unpaced (everything is available at once).
class ScaledClock {
public:
    using RealClock = std::chrono::steady_clock;

    explicit ScaledClock(double scale = 1.0);

    /// Simulated seconds since the clock was made.
    double now() const;
    double scale() const { return scale_; }
    bool unpaced() const { return scale_ <= 0.0; }

    /// Changes the pace from now on; simulated time does not jump.
    void setScale(double scale);

    /// Moves simulated time forward by `seconds` (> 0) at once.
    void advance(double seconds);

    /// The real moment at which simulated time reaches `simulated` (for a paced
    /// clock; an unpaced one returns the present).
    RealClock::time_point realTimeAt(double simulated) const;

private:
    double scale_;
    double simulatedAtBase_ = 0.0;
    RealClock::time_point realBase_;
};

}  // namespace daqmx_sim
