#include "StreamEventQueue.h"

#include <charconv>
#include <iostream>

#include "FrameKeys.h"
#include "FrameReaders.h"
#include "HostError.h"

namespace ni_usb_daq::host {

std::int32_t errorStatus(const kra::device::DeviceState& state) {
    std::int32_t status = 0;
    if (const auto given = state.properties.find("daqmx_status"); given != state.properties.end()) {
        const std::string& text = given->second;
        std::from_chars(text.data(), text.data() + text.size(), status);
    }
    return status;
}

void StreamEventQueue::warnFull(std::unique_lock<std::mutex>& lock) {
    // The output fell behind: the stream thread now waits, and the driver's
    // buffer fills meanwhile. Said from here, at once: the main thread may
    // itself be stuck in a write to the slow output.
    if (++stalls_ != 1) {
        return;
    }
    lock.unlock();
    const std::string warning =
        std::string(kProgramName) + ": warning: the output cannot keep up: the host's " +
        std::to_string(capacityBytes_ >> 20) +
        " MiB frame queue is full and the driver's stream thread waits; the driver's "
        "buffer overflows if this goes on\n";
    // Straight to the buffer: std::cerr would first flush std::cout, which is
    // what is stuck.
    std::cerr.rdbuf()->sputn(warning.data(), static_cast<std::streamsize>(warning.size()));
    std::cerr.rdbuf()->pubsync();
    lock.lock();
}

std::optional<StreamEvent> StreamEventQueue::reserve(std::size_t bytes) {
    std::unique_lock lock(mutex_);
    const auto room = [&] {
        return closed_ || !waits_ || bytes_ == 0 || bytes_ + bytes <= capacityBytes_;
    };
    if (!room()) {
        warnFull(lock);
        notFull_.wait(lock, room);
    }
    if (closed_) {
        return std::nullopt;
    }
    bytes_ += bytes;
    if (spare_.empty()) {
        return StreamEvent{};
    }
    StreamEvent event = std::move(spare_.back());
    spare_.pop_back();
    return event;
}

void StreamEventQueue::put(StreamEvent event, std::size_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        if (closed_) {
            bytes_ -= bytes;
            return;
        }
        events_.push_back({std::move(event), bytes});
    }
    notEmpty_.notify_one();
}

void StreamEventQueue::push(StreamEvent::Kind kind, const std::string& text, std::int32_t status) {
    push(text.size(), [&](StreamEvent& event) {
        event.kind = kind;
        event.text.assign(text);
        event.status = status;
    });
}

std::optional<StreamEvent> StreamEventQueue::pop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!notEmpty_.wait_for(lock, timeout, [this] { return !events_.empty(); })) {
        return std::nullopt;
    }
    Queued queued = std::move(events_.front());
    events_.pop_front();
    bytes_ -= queued.bytes;
    notFull_.notify_one();
    return std::move(queued.event);
}

void StreamEventQueue::recycle(StreamEvent event) {
    const std::lock_guard lock(mutex_);
    // As many spares as events can wait at once, counted by their storage.
    const auto storage = [](const StreamEvent& spare) {
        return spare.text.capacity() + spare.contents.capacityBytes();
    };
    std::size_t spareBytes = storage(event);
    for (const auto& spare : spare_) {
        spareBytes += storage(spare);
    }
    if (spareBytes <= capacityBytes_ && !closed_) {
        spare_.push_back(std::move(event));
    }
}

void StreamEventQueue::stopWaiting() {
    {
        const std::lock_guard lock(mutex_);
        waits_ = false;
    }
    notFull_.notify_all();
}

void StreamEventQueue::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        spare_.clear();
    }
    notFull_.notify_all();
}

std::size_t StreamEventQueue::pending() const {
    const std::lock_guard lock(mutex_);
    return events_.size();
}

std::uint64_t StreamEventQueue::stalls() const {
    const std::lock_guard lock(mutex_);
    return stalls_;
}

void queueStreamState(StreamEventQueue& queue, const kra::device::DeviceState& state) {
    namespace frame = kra::device::frame;
    const auto property = [&](std::string_view name) -> const std::string* {
        const auto found = state.properties.find(std::string(name));
        return found != state.properties.end() ? &found->second : nullptr;
    };
    if (state.code == kra::device::DeviceStateCode::Error) {
        queue.push(StreamEvent::Kind::Error, state.message, errorStatus(state));
        return;
    }
    // Frames and blocks, by far the most events, are copied once: into the
    // buffers of a recycled event.
    if (const std::string* text = property(frame::kFrameProperty)) {
        queue.push(text->size(), [text](StreamEvent& event) {
            event.kind = StreamEvent::Kind::Frame;
            event.text.assign(*text);
        });
        return;
    }
    const std::string* header = property(frame::kHeaderProperty);
    const std::string* samples = property(frame::kSamplesProperty);
    if (header != nullptr && samples != nullptr) {
        queue.push(samples->size(), [header, samples](StreamEvent& event) {
            event.kind = StreamEvent::Kind::Block;
            event.reading = readBinaryBlock(*header, *samples, event.contents);
        });
        return;
    }
    queue.push(StreamEvent::Kind::Other, state.stateName + ": " + state.message);
}

}  // namespace ni_usb_daq::host
