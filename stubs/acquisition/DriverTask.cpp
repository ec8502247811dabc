#include "stubs/acquisition/DriverTask.h"

namespace kra::device::stubs {

namespace {

/// A clear that the driver refuses would leave the task allocated for the rest
/// of the process; one more attempt covers a passing refusal.
void clearTaskHandle(TaskHandle handle) noexcept {
    if (DAQmxClearTask(handle) != 0) {
        (void)DAQmxClearTask(handle);
    }
}

}  // namespace

DriverStatus DriverTask::create() {
    reset();
    TaskHandle created = nullptr;
    DriverStatus status = checkDriver(DAQmxCreateTask("", &created));
    if (status.ok()) {
        handle_ = created;
    } else if (created != nullptr) {
        // A warning status still hands out a task; it must not leak.
        clearTaskHandle(created);
    }
    return status;
}

void DriverTask::reset() noexcept {
    if (handle_ != nullptr) {
        (void)DAQmxStopTask(handle_);
        clearTaskHandle(handle_);
        handle_ = nullptr;
    }
}

void DriverTask::clear() noexcept {
    if (handle_ != nullptr) {
        clearTaskHandle(handle_);
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
