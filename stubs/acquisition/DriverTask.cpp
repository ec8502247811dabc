#include "stubs/acquisition/DriverTask.h"

#include <utility>

namespace kra::device::stubs {

DriverTask::DriverTask(DriverTask&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DriverTask& DriverTask::operator=(DriverTask&& other) noexcept {
    if (this != &other) {
        reset();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

DriverStatus DriverTask::create() {
    reset();
    TaskHandle created = nullptr;
    DriverStatus status = checkDriver(DAQmxCreateTask("", &created));
    if (status.ok()) {
        handle_ = created;
    } else if (created != nullptr) {
        // A warning status still hands out a task; it must not leak.
        (void)DAQmxClearTask(created);
    }
    return status;
}

void DriverTask::reset() noexcept {
    if (handle_ != nullptr) {
        (void)DAQmxStopTask(handle_);
        (void)DAQmxClearTask(handle_);
        handle_ = nullptr;
    }
}

void DriverTask::clear() noexcept {
    if (handle_ != nullptr) {
        (void)DAQmxClearTask(handle_);
        handle_ = nullptr;
    }
}

DriverStatus DriverTask::start() const {
    return checkDriver(DAQmxStartTask(handle_));
}

void DriverTask::stop() const noexcept {
    if (handle_ != nullptr) {
        (void)DAQmxStopTask(handle_);
    }
}

}  // namespace kra::device::stubs
