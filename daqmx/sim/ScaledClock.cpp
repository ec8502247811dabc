#include "ScaledClock.h"

#include <algorithm>
#include <cmath>

namespace daqmx_sim {

ScaledClock::ScaledClock(double scale) : scale_(0.0), realBase_(RealClock::now()) {
    setScale(scale);
}

double ScaledClock::now() const {
    const std::chrono::duration<double> real = RealClock::now() - realBase_;
    return simulatedAtBase_ + real.count() * scale_;
}

void ScaledClock::setScale(double scale) {
    simulatedAtBase_ = now();
    realBase_ = RealClock::now();
    scale_ = (std::isfinite(scale) && scale > 0.0) ? scale : 0.0;
}

void ScaledClock::advance(double seconds) {
    if (std::isfinite(seconds) && seconds > 0.0) {
        simulatedAtBase_ += seconds;
    }
}

ScaledClock::RealClock::time_point ScaledClock::realTimeAt(double simulated) const {
    if (unpaced()) {
        return RealClock::now();
    }
    const RealClock::time_point realNow = RealClock::now();
    const std::chrono::duration<double> sinceBase = realNow - realBase_;
    const double ahead = (simulated - simulatedAtBase_) / scale_ - sinceBase.count();
    // Far-away moments (huge timeouts at slow scales) saturate at a day.
    const double bounded = std::min(std::max(ahead, 0.0), 86400.0);
    return realNow +
           std::chrono::duration_cast<RealClock::duration>(std::chrono::duration<double>(bounded));
}

}  // namespace daqmx_sim
