#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "device/IDeviceStub.h"

namespace kra::device::stubs {

/// The forms a stream hands its blocks out in, one per subscription topic.
enum class StreamTopic : std::uint8_t {
    Frames,  ///< "stream": the frame as compact JSON text
    Binary,  ///< "stream_binary": a JSON header and the raw doubles
};

/// The topic a subscription names, or nullopt for a topic the stream does not serve.
std::optional<StreamTopic> streamTopicNamed(std::string_view topic);

/// The records of one delivery, one per topic; a null one is a form nobody
/// asked for, and its topic's subscribers are skipped.
struct TopicRecords {
    const DeviceState* frames = nullptr;
    const DeviceState* binary = nullptr;

    const DeviceState* of(StreamTopic topic) const {
        return topic == StreamTopic::Frames ? frames : binary;
    }
};

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

    void add(std::uint64_t id, StreamTopic topic, IDeviceStub::StateCallback callback);
    void remove(std::uint64_t id);

    /// Whether any subscriber of `topic` is registered. Not from a callback.
    bool has(StreamTopic topic);

    /// Calls every subscriber with the record of its topic, each in isolation:
    /// one that throws is logged and the others still get theirs.
    void deliver(const TopicRecords& records);
    /// The same record to every subscriber, whatever its topic.
    void deliverToAll(const DeviceState& state) { deliver(TopicRecords{&state, &state}); }

    /// Logs how often each subscriber threw beyond its first time since the
    /// last call, then forgets the counts. Delivering thread only.
    void reportRepeatedFailures();

private:
    struct Subscriber {
        StreamTopic topic = StreamTopic::Frames;
        IDeviceStub::StateCallback callback;  ///< empty in a queued change: a removal
    };

    void noteFailure(std::uint64_t id, const char* what);

    std::mutex subscribersMutex;
    std::unordered_map<std::uint64_t, Subscriber> subscribers;
    std::atomic<std::thread::id> deliveringThread{};
    // Changes made by callbacks and the ids removed meanwhile. Delivering
    // thread, under subscribersMutex.
    std::vector<std::pair<std::uint64_t, Subscriber>> queuedChanges;
    std::unordered_set<std::uint64_t> removedDuringDelivery;
    // Throws per subscriber since the last report. Delivering thread only.
    std::unordered_map<std::uint64_t, std::uint64_t> throwCounts;
};

}  // namespace kra::device::stubs
