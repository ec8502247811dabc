#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "device/IDeviceStub.h"

namespace kra::device::stubs {

/// The stream subscribers and the delivery of records to them. Callbacks run
/// with the registry locked; a subscribe or unsubscribe one of them makes is
/// queued and applied when that delivery ends, and a subscriber removed
/// meanwhile gets nothing more.
class SubscriberRegistry {
public:
    /// True on the thread of a delivery, that is from inside a callback.
    bool calledFromCallback() const {
        return deliveringThread.load() == std::this_thread::get_id();
    }

    void add(std::uint64_t id, IDeviceStub::StateCallback callback);
    void remove(std::uint64_t id);

    /// Calls every subscriber with `state`, each in isolation: one that throws
    /// is logged and the others still get the record.
    void deliver(const DeviceState& state);

    /// Logs how often each subscriber threw beyond its first time since the
    /// last call, then forgets the counts. Delivering thread only.
    void reportRepeatedFailures();

private:
    void noteFailure(std::uint64_t id, const char* what);

    std::mutex subscribersMutex;
    std::unordered_map<std::uint64_t, IDeviceStub::StateCallback> subscribers;
    std::atomic<std::thread::id> deliveringThread{};
    // Changes made by callbacks (an empty callback is a removal) and the ids
    // removed meanwhile. Delivering thread, under subscribersMutex.
    std::vector<std::pair<std::uint64_t, IDeviceStub::StateCallback>> queuedChanges;
    std::unordered_set<std::uint64_t> removedDuringDelivery;
    // Throws per subscriber since the last report. Delivering thread only.
    std::unordered_map<std::uint64_t, std::uint64_t> throwCounts;
};

}  // namespace kra::device::stubs
