#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DeviceRecords.h"

namespace ni_usb_daq::host {

/// What a stream callback passes on to the main thread.
struct StreamEvent {
    enum class Kind { Frame, Error, Other };
    Kind kind = Kind::Other;
    /// The frame's JSON text, or the message of any other state.
    std::string text;
    /// Error: the driver status that ended the stream; 0 when unknown.
    std::int32_t status = 0;
};

/// The driver status of an error state: its "daqmx_status" property; 0 when
/// it has none.
std::int32_t errorStatus(const kra::device::DeviceState& state);

StreamEvent toStreamEvent(const kra::device::DeviceState& state);

/// Hands events from the plug-in's stream thread to the main thread. It is
/// bounded by the bytes of text it holds: a full queue makes the stream
/// thread wait, so a slow output slows the stream instead of filling memory.
/// An empty queue takes any one event, however large. Once it stops waiting
/// it takes everything at once, which lets a waiting stream thread go before
/// the host unsubscribes while keeping the frames that still come; once
/// closed, it drops what arrives. Texts handed back with recycle() are
/// refilled by later events, so a steady stream allocates nothing per frame.
class StreamEventQueue {
public:
    explicit StreamEventQueue(std::size_t capacityBytes) : capacityBytes_(capacityBytes) {}

    void push(StreamEvent::Kind kind, const std::string& text, std::int32_t status = 0);
    /// The oldest event, or nullopt when none arrives within `timeout`.
    std::optional<StreamEvent> pop(std::chrono::milliseconds timeout);
    /// A popped event's text, for reuse.
    void recycle(std::string text);
    /// From now on push() never waits.
    void stopWaiting();
    void close();
    /// How many times a push found the queue full and had to wait.
    std::uint64_t stalls() const;
    /// Events waiting to be taken.
    std::size_t pending() const;

private:
    const std::size_t capacityBytes_;
    mutable std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<StreamEvent> events_;
    std::vector<std::string> spare_;
    std::size_t bytes_ = 0;
    std::uint64_t stalls_ = 0;
    bool waits_ = true;
    bool closed_ = false;
};

/// Queues what a stream subscription receives: a frame's text, or an error
/// with its driver status, or any other state as "name: message".
void queueStreamState(StreamEventQueue& queue, const kra::device::DeviceState& state);

}  // namespace ni_usb_daq::host
