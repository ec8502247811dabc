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
#include "FrameContents.h"

namespace ni_usb_daq::host {

/// What a stream callback passes on to the main thread.
struct StreamEvent {
    enum class Kind {
        Frame,  ///< a frame's text
        Block,  ///< a binary block, read on arrival
        Error,
        Other
    };
    Kind kind = Kind::Other;
    /// The frame's JSON text, or the message of an error or any other state.
    std::string text;
    /// Error: the driver status that ended the stream; 0 when unknown.
    std::int32_t status = 0;
    /// Block: what its reader found, and its numbers, samples and snapshot.
    FrameReading reading;
    FrameContents contents;
};

/// The driver status of an error state: its "daqmx_status" property; 0 when
/// it has none.
std::int32_t errorStatus(const kra::device::DeviceState& state);

/// Hands events from the plug-in's stream thread to the main thread. It is
/// bounded by the bytes of frame text and samples it holds: a full queue
/// makes the stream thread wait, so a slow output slows the stream instead
/// of filling memory. An empty queue takes any one event, however large.
/// Once it stops waiting it takes everything at once, which lets a waiting
/// stream thread go before the host unsubscribes while keeping the frames
/// that still come; once closed, it drops what arrives. Events handed back
/// with recycle() are refilled by later ones, buffers and all, so a steady
/// stream allocates nothing per block.
class StreamEventQueue {
public:
    explicit StreamEventQueue(std::size_t capacityBytes) : capacityBytes_(capacityBytes) {}

    /// Queues an event of `bytes` made by `fill(event)`, which is called on
    /// a recycled event (its buffers kept, its fields to be set) once there
    /// is room, outside the lock. Nothing is made once the queue is closed.
    template <typename Fill>
    void push(std::size_t bytes, Fill&& fill) {
        if (auto event = reserve(bytes)) {
            fill(*event);
            put(std::move(*event), bytes);
        }
    }
    void push(StreamEvent::Kind kind, const std::string& text, std::int32_t status = 0);
    /// The oldest event, or nullopt when none arrives within `timeout`.
    std::optional<StreamEvent> pop(std::chrono::milliseconds timeout);
    /// A popped event, for reuse.
    void recycle(StreamEvent event);
    /// From now on push() never waits.
    void stopWaiting();
    void close();
    /// How many times a push found the queue full and had to wait.
    std::uint64_t stalls() const;
    /// Events waiting to be taken.
    std::size_t pending() const;

private:
    struct Queued {
        StreamEvent event;
        std::size_t bytes;
    };

    /// Waits for room for `bytes`, counts them in and hands out a spare
    /// event; nullopt when the queue is closed.
    std::optional<StreamEvent> reserve(std::size_t bytes);
    void put(StreamEvent event, std::size_t bytes);
    void warnFull(std::unique_lock<std::mutex>& lock);

    const std::size_t capacityBytes_;
    mutable std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<Queued> events_;
    std::vector<StreamEvent> spare_;
    std::size_t bytes_ = 0;
    std::uint64_t stalls_ = 0;
    bool waits_ = true;
    bool closed_ = false;
};

/// Queues what a stream subscription receives: a frame's text, a binary
/// block (read here, on the stream thread, while its payload is valid), an
/// error with its driver status, or any other state as "name: message".
void queueStreamState(StreamEventQueue& queue, const kra::device::DeviceState& state);

}  // namespace ni_usb_daq::host
