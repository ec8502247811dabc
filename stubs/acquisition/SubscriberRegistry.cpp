#include "stubs/acquisition/SubscriberRegistry.h"

#include "stubs/Logging.h"

namespace kra::device::stubs {

void SubscriberRegistry::add(std::uint64_t id, IDeviceStub::StateCallback callback) {
    // A delivery holds the lock while its callbacks run: their changes wait.
    if (calledFromCallback()) {
        queuedChanges.emplace_back(id, std::move(callback));
        return;
    }
    std::lock_guard lock(subscribersMutex);
    subscribers.insert_or_assign(id, std::move(callback));
}

void SubscriberRegistry::remove(std::uint64_t id) {
    if (calledFromCallback()) {
        queuedChanges.emplace_back(id, nullptr);
        removedDuringDelivery.insert(id);
        return;
    }
    std::lock_guard lock(subscribersMutex);
    subscribers.erase(id);
}

void SubscriberRegistry::deliver(const DeviceState& state) {
    std::lock_guard lock(subscribersMutex);
    deliveringThread = std::this_thread::get_id();
    for (const auto& [id, callback] : subscribers) {
        if (!callback || (!removedDuringDelivery.empty() && removedDuringDelivery.count(id) != 0)) {
            continue;
        }
        try {
            callback(state);
        } catch (const std::exception& error) {
            noteFailure(id, error.what());
        } catch (...) {
            noteFailure(id, "unknown exception");
        }
    }
    deliveringThread = std::thread::id{};
    for (auto& [id, callback] : queuedChanges) {
        if (callback) {
            subscribers.insert_or_assign(id, std::move(callback));
        } else {
            subscribers.erase(id);
        }
    }
    queuedChanges.clear();
    removedDuringDelivery.clear();
}

void SubscriberRegistry::noteFailure(std::uint64_t id, const char* what) {
    // The first throw is told in full; a subscriber that throws on every
    // frame must not flood the log, so the rest are only counted.
    if (++throwCounts[id] == 1) {
        logError("AcquisitionEngine: stream subscriber {} threw: {}", id, what);
    }
}

void SubscriberRegistry::reportRepeatedFailures() {
    for (const auto& [id, throws] : throwCounts) {
        if (throws > 1) {
            logError("AcquisitionEngine: stream subscriber {} threw {} more times", id, throws - 1);
        }
    }
    throwCounts.clear();
}

}  // namespace kra::device::stubs
