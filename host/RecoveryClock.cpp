#include "RecoveryClock.h"

#include <algorithm>
#include <thread>

namespace ni_usb_daq::host {

namespace {
constexpr std::chrono::milliseconds kStopPoll{20};
}  // namespace

bool SystemRecoveryClock::pause(Monotonic::duration duration, const StopCheck& stopRequested) {
    const auto until = Monotonic::now() + duration;
    while (!stopRequested()) {
        const auto left = until - Monotonic::now();
        if (left <= Monotonic::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Monotonic::duration>(kStopPoll, left));
    }
    return false;
}

}  // namespace ni_usb_daq::host
