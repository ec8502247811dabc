#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "stubs/acquisition/AcquisitionConfig.h"
#include "stubs/acquisition/ChannelReadback.h"
#include "stubs/acquisition/DriverTask.h"
#include "stubs/acquisition/Triggers.h"

namespace kra::device::stubs {

/// The driver tasks built from the stored settings: the analogue-input task
/// with its sample clock, the digital-input task when lines are set, and what
/// the driver told while they were built. Unlocked: its owner serialises use.
struct TaskSet {
    /// Replaces the tasks by new ones for `settings`. On failure the error
    /// text comes back and no task is left.
    std::optional<std::string> build(const AcquisitionConfig& settings);
    /// Stops and drops both tasks and forgets what was learnt about them.
    void clear() noexcept;

    DriverTask aiTask;
    DriverTask diTask;
    std::uint64_t aiChannelCount = 0;
    std::uint64_t diLineCount = 0;
    double achievedSampleRateHz = 0.0;
    /// Samples per channel the driver buffers for a continuous task.
    std::optional<std::uint64_t> inputBufferSamplesPerChannel;
    ChannelReadback channelReadback;
    TriggerReadback triggers;
    /// The analogue task waits for a trigger before its first sample.
    bool triggered = false;
    /// A reference trigger is set: finite reads return pretrigger samples.
    std::optional<std::uint32_t> pretriggerSamples;

private:
    void reportSampleClock(double requested);
    /// Makes the input buffer of a continuous task hold at least two blocks.
    std::optional<std::string> sizeInputBuffer(std::int32_t samplesPerChannel);
};

}  // namespace kra::device::stubs
