#include "StreamEventQueue.h"

#include <charconv>
#include <iostream>

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

StreamEvent toStreamEvent(const kra::device::DeviceState& state) {
    if (state.code == kra::device::DeviceStateCode::Error) {
        return {StreamEvent::Kind::Error, state.message, errorStatus(state)};
    }
    if (const auto frame = state.properties.find("frame"); frame != state.properties.end()) {
        return {StreamEvent::Kind::Frame, frame->second};
    }
    return {StreamEvent::Kind::Other, state.stateName + ": " + state.message};
}

void StreamEventQueue::push(StreamEvent::Kind kind, const std::string& text, std::int32_t status) {
    std::unique_lock lock(mutex_);
    const auto room = [&] {
        return closed_ || !waits_ || events_.empty() || bytes_ + text.size() <= capacityBytes_;
    };
    if (!room()) {
        // The output fell behind: the stream thread now waits, and the
        // driver's buffer fills meanwhile. Said from here, at once: the main
        // thread may itself be stuck in a write to the slow output.
        if (++stalls_ == 1) {
            lock.unlock();
            const std::string warning =
                std::string(kProgramName) + ": warning: the output cannot keep up: the host's " +
                std::to_string(capacityBytes_ >> 20) +
                " MiB frame queue is full and the driver's stream thread waits; the driver's "
                "buffer overflows if this goes on\n";
            // Straight to the buffer: std::cerr would first flush std::cout,
            // which is what is stuck.
            std::cerr.rdbuf()->sputn(warning.data(), static_cast<std::streamsize>(warning.size()));
            std::cerr.rdbuf()->pubsync();
            lock.lock();
        }
        notFull_.wait(lock, room);
    }
    if (closed_) {
        return;
    }
    StreamEvent event{kind, {}, status};
    if (!spare_.empty()) {
        event.text = std::move(spare_.back());
        spare_.pop_back();
    }
    event.text.assign(text);
    bytes_ += event.text.size();
    events_.push_back(std::move(event));
    notEmpty_.notify_one();
}

std::optional<StreamEvent> StreamEventQueue::pop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!notEmpty_.wait_for(lock, timeout, [this] { return !events_.empty(); })) {
        return std::nullopt;
    }
    StreamEvent event = std::move(events_.front());
    events_.pop_front();
    bytes_ -= event.text.size();
    notFull_.notify_one();
    return event;
}

void StreamEventQueue::recycle(std::string text) {
    const std::lock_guard lock(mutex_);
    // As many spares as texts can wait at once, counted by their capacity.
    std::size_t spareBytes = text.capacity();
    for (const auto& spare : spare_) {
        spareBytes += spare.capacity();
    }
    if (spareBytes <= capacityBytes_ && !closed_) {
        spare_.push_back(std::move(text));
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
    // Frames, by far the most events, are copied once: into a recycled text.
    if (state.code != kra::device::DeviceStateCode::Error) {
        if (const auto frame = state.properties.find("frame"); frame != state.properties.end()) {
            queue.push(StreamEvent::Kind::Frame, frame->second);
            return;
        }
    }
    const StreamEvent event = toStreamEvent(state);
    queue.push(event.kind, event.text, event.status);
}

}  // namespace ni_usb_daq::host
