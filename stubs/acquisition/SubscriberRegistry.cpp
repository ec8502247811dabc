#include "stubs/acquisition/SubscriberRegistry.h"

#include <algorithm>

#include "device/FrameKeys.h"
#include "stubs/Logging.h"

namespace kra::device::stubs {

std::optional<StreamTopic> streamTopicNamed(std::string_view topic) {
    if (topic == frame::kTextTopic) {
        return StreamTopic::Frames;
    }
    if (topic == frame::kBinaryTopic) {
        return StreamTopic::Binary;
    }
    return std::nullopt;
}

void SubscriberRegistry::add(std::uint64_t id, StreamTopic topic,
                             IDeviceStub::StateCallback callback) {
    // A delivery holds the lock while its callbacks run: their changes wait.
    if (calledFromCallback()) {
        queuedChanges.emplace_back(id, Subscriber{topic, std::move(callback)});
        return;
    }
    std::lock_guard lock(subscribersMutex);
    subscribers.insert_or_assign(id, Subscriber{topic, std::move(callback)});
}

void SubscriberRegistry::remove(std::uint64_t id) {
    if (calledFromCallback()) {
        queuedChanges.emplace_back(id, Subscriber{});
        removedDuringDelivery.insert(id);
        return;
    }
    std::lock_guard lock(subscribersMutex);
    subscribers.erase(id);
}

bool SubscriberRegistry::has(StreamTopic topic) {
    std::lock_guard lock(subscribersMutex);
    return std::any_of(subscribers.begin(), subscribers.end(),
                       [topic](const auto& entry) { return entry.second.topic == topic; });
}

void SubscriberRegistry::deliver(const TopicRecords& records) {
    std::lock_guard lock(subscribersMutex);
    deliveringThread = std::this_thread::get_id();
    for (const auto& [id, subscriber] : subscribers) {
        const DeviceState* record = records.of(subscriber.topic);
        if (record == nullptr || !subscriber.callback ||
            (!removedDuringDelivery.empty() && removedDuringDelivery.count(id) != 0)) {
            continue;
        }
        try {
            subscriber.callback(*record);
        } catch (const std::exception& error) {
            noteFailure(id, error.what());
        } catch (...) {
            noteFailure(id, "unknown exception");
        }
    }
    deliveringThread = std::thread::id{};
    for (auto& [id, subscriber] : queuedChanges) {
        if (subscriber.callback) {
            subscribers.insert_or_assign(id, std::move(subscriber));
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
