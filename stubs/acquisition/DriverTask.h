#pragma once

#include "daqmx/NIDAQmx.h"
#include "stubs/DriverStatus.h"

namespace kra::device::stubs {

/// Sole owner of one NI-DAQmx task. Dropping the owner stops and clears the
/// task, so every early return releases what it created.
class DriverTask {
public:
    DriverTask() = default;
    ~DriverTask() { reset(); }

    DriverTask(const DriverTask&) = delete;
    DriverTask& operator=(const DriverTask&) = delete;

    /// Creates a task with a driver-chosen name, replacing any task held.
    DriverStatus create();

    /// Stops (status ignored), clears (status ignored) and forgets the task.
    void reset() noexcept;
    /// Clears without stopping first, for tasks that were never started or
    /// whose start failed.
    void clear() noexcept;

    DriverStatus start() const;
    /// Stops the task if there is one; the status is of no use to anyone.
    void stop() const noexcept;

    TaskHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    TaskHandle handle_ = nullptr;
};

}  // namespace kra::device::stubs
