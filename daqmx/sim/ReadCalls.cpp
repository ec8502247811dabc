// DAQmx read entry points: paced delivery of the simulated signals.
//
// A timed task acquires sample n (counted from 0 at its start) at simulated
// time start + n / rate, so a block of samples becomes readable once its last
// sample is acquired. A read waits, releasing the driver lock, until its block
// is there or its timeout (in simulated seconds) expires; then it delivers
// and consumes what there is, with the timeout status. Unpaced (time scale 0)
// everything is there at once. A finite task never acquires more than its
// sample count: asking for samples beyond it fails at once with
// DAQmxErrorSamplesWillNeverBeAvailable. A paced continuous task whose reader
// falls further behind than its input buffer holds has lost the acquisition
// until it is stopped. Reading a task that is not started starts it, as the
// vendor's driver does; on-demand tasks (no sample clock) deliver immediately
// the signal at the present simulated time. Unpaced, simulated time moves on
// by the acquisition time of what each timed read delivers, so scheduled
// events happen after the samples that precede them.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "EscapedException.h"
#include "ExtendedError.h"
#include "OutputBuffers.h"
#include "Simulator.h"
#include "StatusCodes.h"
#include "Triggers.h"
#include "Waveforms.h"

using namespace daqmx_sim;

namespace {

// The checks every read makes before it looks at samples.
int32 checkReadable(Simulator& sim, SimTask& task, ChannelKind expected, bool32 fillMode,
                    int32 numSampsPerChan) {
    if (task.kind == ChannelKind::None) {
        return taskFailure(status::kNoChannelsInTask, task);
    }
    if (task.kind != expected) {
        return taskFailure(status::kReadTypeMismatch, task);
    }
    if (task.abortStatus != 0) {
        return abortedTask(task);
    }
    int32 status = 0;
    if (sim.presentDevice(task.device, status) == nullptr) {
        return status;
    }
    if (fillMode != DAQmx_Val_GroupByChannel && fillMode != DAQmx_Val_GroupByScanNumber) {
        return fail(
            status::kInvalidAttributeValue,
            errorText(status::kInvalidAttributeValue, statusSummary(status::kInvalidAttributeValue),
                      {{"Argument", "fillMode"},
                       {"Requested Value", std::to_string(fillMode)},
                       {"Task Name", task.name}}));
    }
    if (numSampsPerChan < -1) {
        return fail(
            status::kInvalidAttributeValue,
            errorText(status::kInvalidAttributeValue, statusSummary(status::kInvalidAttributeValue),
                      {{"Argument", "numSampsPerChan"},
                       {"Requested Value", std::to_string(numSampsPerChan)},
                       {"Task Name", task.name}}));
    }
    return 0;
}

// Starts a task that a read finds stopped; fails when another task holds the
// device's analogue input.
int32 startImplicitly(Simulator& sim, SimTask& task) {
    if (task.running) {
        return 0;
    }
    if (task.kind == ChannelKind::AnalogInput) {
        if (const SimTask* holder = sim.analogInputHolder(task)) {
            return taskFailure(status::kResourceReserved, task,
                               {{"Device", task.device}, {"Reserved By Task", holder->name}});
        }
    }
    if (task.timing) {
        if (const int32 refused = verifyTriggers(sim, task); refused != 0) {
            return refused;
        }
        sim.startTaskLocked(task);
    }
    return 0;
}

// Samples per channel that a timed task has acquired by now: none before its
// trigger, or while nothing drives its external clock.
std::uint64_t acquiredSamples(const Simulator& sim, const SimTask& task) {
    const std::optional<double> origin = acquisitionOrigin(sim, task);
    const double rate = tickRate(sim, task);
    if (!origin || rate <= 0.0) {
        return 0;
    }
    const double elapsed = std::max(0.0, sim.clock.now() - *origin);
    const double count = std::floor(elapsed * rate + 1e-9);
    std::uint64_t acquired = count >= 1.8e19 ? std::numeric_limits<std::uint64_t>::max()
                                             : static_cast<std::uint64_t>(count);
    if (task.timing->finite()) {
        acquired = std::min(acquired, task.timing->samplesPerChannel);
    }
    return acquired;
}

// Whether the acquisition of a running timed task is lost to an overflow of
// its input buffer: once the reader is further behind than the buffer holds,
// and from then on until the task stops.
bool overflowed(Simulator& sim, SimTask& task, std::uint64_t acquired) {
    if (!task.overflowed && sim.realistic(DAQMXSIM_BUFFER_OVERFLOW) && !sim.clock.unpaced() &&
        !task.timing->finite() && acquired - task.samplesRead > sim.inputBufferSize(task)) {
        task.overflowed = true;
    }
    return task.overflowed;
}

int32 overflowFailure(Simulator& sim, const SimTask& task) {
    return taskFailure(status::kSamplesNoLongerAvailable, task,
                       {{"Attempted to Read Sample", std::to_string(task.samplesRead)},
                        {"Buffer Size Per Channel", std::to_string(sim.inputBufferSize(task))},
                        {"Property", "DAQmx_Read_RelativeTo"},
                        {"Corresponding Value", "DAQmx_Val_CurrReadPos"}});
}

std::int64_t steadyNs(ScaledClock::RealClock::time_point at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

struct Block {
    std::uint64_t firstSample = 0;
    std::uint64_t samples = 0;  // per channel
};

// Waits (releasing the lock) until `samples` per channel past the task's read
// position are acquired, then takes them. On a timeout it takes what there is
// and returns the timeout status with it. `task` may be cleared while
// waiting, so it is looked up again after every wake-up.
int32 waitForBlock(DriverCall& call, TaskHandle handle, std::uint64_t samples, float64 timeout,
                   Block& block) {
    Simulator& sim = call.sim;
    int32 status = 0;
    SimTask* task = sim.findTask(handle, status);
    const std::uint64_t generation = task->generation;
    const double deadline = (timeout < 0.0 || std::isinf(timeout))
                                ? std::numeric_limits<double>::infinity()
                                : sim.clock.now() + (std::isnan(timeout) ? 0.0 : timeout);
    for (;;) {
        sim.applyDueEventsLocked();
        task = sim.findTask(handle, status);
        if (task == nullptr) {
            return status;
        }
        if (task->abortStatus != 0) {
            return abortedTask(*task);
        }
        if (!task->running || task->generation != generation) {
            return taskFailure(status::kTaskStoppedDuringRead, *task);
        }
        if (sim.presentDevice(task->device, status) == nullptr) {
            return status;
        }
        searchAnalogTriggerLocked(sim, *task);
        const std::uint64_t wanted = task->samplesRead + samples;
        // What was read was acquired, even once the clock it came on has
        // stopped (a follower whose leader stopped first counts no ticks).
        std::uint64_t acquired = std::max(acquiredSamples(sim, *task), task->samplesRead);
        const std::optional<double> origin = acquisitionOrigin(sim, *task);
        const double rate = tickRate(sim, *task);
        const bool ticking = origin && rate > 0.0;
        if (sim.clock.unpaced() && ticking && acquired < wanted) {
            const double due = static_cast<double>(wanted) / rate;
            if (sim.signalsInTime) {
                // Signals follow time here: time moves to the block rather
                // than the acquisition back, so devices stay in step.
                sim.clock.advance(*origin + due - sim.clock.now());
            } else {
                // Time stands still and the block is due now, however far the
                // task has come (the start time cannot say so exactly once
                // the count outgrows the precision of seconds). The start
                // moves back so that later paced reads carry on from here.
                task->firstSampleAt = std::min(*task->firstSampleAt, sim.clock.now() - due);
            }
            acquired = wanted;
        }
        if (overflowed(sim, *task, acquired)) {
            return overflowFailure(sim, *task);
        }
        if (acquired >= wanted) {
            sim.lastBlockReadyNs = steadyNs(sim.clock.realTimeAt(
                *acquisitionOrigin(sim, *task) + static_cast<double>(wanted) / rate));
            block = {task->samplesRead, samples};
            task->samplesRead = wanted;
            if (sim.clock.unpaced() && !sim.signalsInTime) {
                sim.clock.advance(static_cast<double>(samples) / rate);
            }
            return 0;
        }
        const double now = sim.clock.now();
        if (now >= deadline) {
            const std::uint64_t available = acquired - task->samplesRead;
            block = {task->samplesRead, 0};
            if (sim.realistic(DAQMXSIM_PARTIAL_TIMEOUT_READS)) {
                block.samples = available;
                task->samplesRead += available;
            }
            return taskFailure(status::kSamplesNotYetAvailable, *task,
                               {{"Attempted to Read Sample", std::to_string(task->samplesRead)},
                                {"Samples Requested Per Channel", std::to_string(samples)},
                                {"Samples Available Per Channel", std::to_string(available)}});
        }
        const double nextEvent = sim.schedule.empty() ? std::numeric_limits<double>::infinity()
                                                      : sim.schedule.front().at;
        // An analogue trigger is looked for as time goes by.
        const double searchAgain =
            awaitingTrigger(*task) && (task->startTrigger.type == DAQmx_Val_AnlgEdge ||
                                       task->referenceTrigger.type == DAQmx_Val_AnlgEdge)
                ? now + 0.01
                : std::numeric_limits<double>::infinity();
        const double wakeAt = std::min({ticking ? *origin + static_cast<double>(wanted) / rate
                                                : std::numeric_limits<double>::infinity(),
                                        deadline, nextEvent, searchAgain});
        if (sim.clock.unpaced()) {
            // Nothing moves stopped time but the waits themselves: on to the
            // next thing that can happen, or asleep until someone moves it.
            if (std::isfinite(wakeAt)) {
                sim.clock.advance(std::max(wakeAt - now, 1e-9));
            } else {
                sim.changed.wait(call.lock);
            }
            continue;
        }
        sim.changed.wait_until(call.lock,
                               sim.clock.realTimeAt(wakeAt) + std::chrono::microseconds(50));
    }
}

// Samples per channel a timed read asks for, resolving -1.
int32 timedRequest(const SimTask& task, int32 numSampsPerChan, uInt32 capacityPerChannel,
                   std::uint64_t& samples) {
    const SampleTiming& timing = *task.timing;
    if (timing.finite()) {
        const std::uint64_t remaining = timing.samplesPerChannel - task.samplesRead;
        if (numSampsPerChan == -1) {
            samples = remaining;
        } else if (static_cast<std::uint64_t>(numSampsPerChan) > remaining) {
            return taskFailure(status::kSamplesWillNeverBeAvailable, task,
                               {{"Samples Requested Per Channel", std::to_string(numSampsPerChan)},
                                {"Samples Remaining Per Channel", std::to_string(remaining)}});
        } else {
            samples = static_cast<std::uint64_t>(numSampsPerChan);
        }
        return 0;
    }
    if (numSampsPerChan == -1) {
        // Unpaced, "everything available" is unbounded: take a buffer's worth.
        samples = std::max<std::uint64_t>(
            1, std::min<std::uint64_t>(capacityPerChannel,
                                       std::max<std::uint64_t>(timing.samplesPerChannel, 1)));
        return 0;
    }
    samples = static_cast<std::uint64_t>(numSampsPerChan);
    return 0;
}

int32 bufferTooSmall(const SimTask& task, std::uint64_t needed, uInt32 size) {
    return taskFailure(
        status::kReadBufferTooSmall, task,
        {{"Required Size", std::to_string(needed)}, {"Buffer Size", std::to_string(size)}});
}

std::size_t elementIndex(bool32 fillMode, std::size_t channel, std::size_t channels,
                         std::size_t sample, std::size_t samples) {
    return fillMode == DAQmx_Val_GroupByChannel ? channel * samples + sample
                                                : sample * channels + channel;
}

}  // namespace

extern "C" {

int32 DAQmxGetReadAvailSampPerChan(TaskHandle taskHandle, uInt32* data) try {
    TaskCall call("DAQmxGetReadAvailSampPerChan", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    Simulator& sim = call.sim;
    int32 status = 0;
    if (task->kind == ChannelKind::None) {
        return taskFailure(status::kNoChannelsInTask, *task);
    }
    if (task->abortStatus != 0) {
        return abortedTask(*task);
    }
    if (sim.presentDevice(task->device, status) == nullptr) {
        return status;
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    std::uint64_t available = 0;
    if (task->running && task->timing) {
        if (task->overflowed) {
            return overflowFailure(sim, *task);
        }
        if (sim.clock.unpaced() && awaitingTrigger(*task) && !sim.schedule.empty()) {
            // Stopped time moves for whoever waits, and a stream that waits
            // for its trigger only looks: the next scheduled event happens now.
            sim.clock.advance(std::max(sim.schedule.front().at - sim.clock.now(), 1e-9));
            sim.applyDueEventsLocked();
        }
        searchAnalogTriggerLocked(sim, *task);
        if (!acquisitionOrigin(sim, *task) || tickRate(sim, *task) <= 0.0) {
            available = 0;  // awaiting its trigger or its clock
        } else if (sim.clock.unpaced()) {
            // Time stands still and every block is due at once.
            available = task->timing->finite() ? task->timing->samplesPerChannel - task->samplesRead
                                               : std::numeric_limits<uInt32>::max();
        } else {
            const std::uint64_t acquired = std::max(acquiredSamples(sim, *task), task->samplesRead);
            if (overflowed(sim, *task, acquired)) {
                return overflowFailure(sim, *task);
            }
            available = acquired - task->samplesRead;
        }
    }
    *data =
        static_cast<uInt32>(std::min<std::uint64_t>(available, std::numeric_limits<uInt32>::max()));
    return 0;
} catch (...) {
    return escapedException("DAQmxGetReadAvailSampPerChan");
}

int32 DAQmxReadAnalogF64(TaskHandle taskHandle, int32 numSampsPerChan, float64 timeout,
                         bool32 fillMode, float64 readArray[], uInt32 arraySizeInSamps,
                         int32* sampsPerChanRead, bool32* reserved) try {
    (void)reserved;
    const ReadInProgress inProgress;
    DriverCall call("DAQmxReadAnalogF64");
    if (call.scripted) {
        return *call.scripted;
    }
    Simulator& sim = call.sim;
    if (!sim.queuedReadStatuses.empty()) {
        const int32 queued = sim.queuedReadStatuses.front();
        sim.queuedReadStatuses.pop_front();
        if (queued != 0) {
            return fail(queued, scriptedFailureText("DAQmxReadAnalogF64", queued));
        }
    }
    int32 status = 0;
    SimTask* task = sim.findTask(taskHandle, status);
    if (task == nullptr) {
        return status;
    }
    if (status = checkReadable(sim, *task, ChannelKind::AnalogInput, fillMode, numSampsPerChan);
        status != 0) {
        return status;
    }
    const std::size_t channels = task->channelCount();
    const uInt32 capacityPerChannel = arraySizeInSamps / static_cast<uInt32>(channels);
    std::uint64_t samples = 0;
    if (task->timing) {
        if (status = timedRequest(*task, numSampsPerChan, capacityPerChannel, samples);
            status != 0) {
            return status;
        }
    } else {
        samples = numSampsPerChan == -1 ? 1 : static_cast<std::uint64_t>(numSampsPerChan);
    }
    if (samples * channels > arraySizeInSamps) {
        return bufferTooSmall(*task, samples * channels, arraySizeInSamps);
    }
    if (samples > 0 && readArray == nullptr) {
        return taskFailure(status::kNullPointer, *task, {{"Argument", "readArray"}});
    }
    if (sim.readSampleCap > 0) {
        samples = std::min<std::uint64_t>(samples, static_cast<std::uint64_t>(sim.readSampleCap));
    }
    if (status = startImplicitly(sim, *task); status != 0) {
        return status;
    }

    Block block;
    int32 outcome = 0;
    if (task->timing) {
        outcome = waitForBlock(call, taskHandle, samples, timeout, block);
        if (outcome != 0 && (outcome != status::kSamplesNotYetAvailable ||
                             !sim.realistic(DAQMXSIM_PARTIAL_TIMEOUT_READS))) {
            return outcome;
        }
        task = sim.findTask(taskHandle, status);
    } else {
        // No sample clock: the signal as it is now, sampled at the on-demand rate.
        const double index = std::floor(sim.clock.now() * kOnDemandRate + 1e-9);
        block = {index >= 1.8e19 ? std::numeric_limits<std::uint64_t>::max() - samples
                                 : static_cast<std::uint64_t>(std::max(index, 0.0)),
                 samples};
        task->samplesRead += samples;
    }
    const SimDevice* device = sim.findDevice(task->device);
    std::vector<SampleSource> sources;
    sources.reserve(channels);
    for (const AnalogChannel& channel : task->analog) {
        sources.push_back(sim.taskSourceFor(*device, *task, channel));
    }
    block.firstSample += sim.sourceIndexOffset(*task);
    const std::int64_t reported = static_cast<std::int64_t>(block.samples) + sim.readCountSkew;
    const bool timed = task->timing.has_value();
    call.lock.unlock();

    // Channel after channel with the delivered count as stride, or scan after scan.
    const bool byChannel = fillMode == DAQmx_Val_GroupByChannel;
    for (std::size_t c = 0; c < channels; ++c) {
        sources[c].fill(block.firstSample, block.samples,
                        readArray + (byChannel ? c * block.samples : c), byChannel ? 1 : channels);
    }
    if (sampsPerChanRead != nullptr) {
        *sampsPerChanRead = static_cast<int32>(
            std::clamp<std::int64_t>(reported, 0, std::numeric_limits<int32>::max()));
    }
    if (timed) {
        sim.lastReadReturnedNs = steadyNs(ScaledClock::RealClock::now());
    }
    // A timeout's status goes with the samples it delivered.
    return outcome;
} catch (...) {
    return escapedException("DAQmxReadAnalogF64");
}

int32 DAQmxReadDigitalLines(TaskHandle taskHandle, int32 numSampsPerChan, float64 timeout,
                            bool32 fillMode, uInt8 readArray[], uInt32 arraySizeInBytes,
                            int32* sampsPerChanRead, int32* numBytesPerSamp, bool32* reserved) try {
    (void)timeout;  // lines are read on demand: nothing to wait for
    (void)reserved;
    const ReadInProgress inProgress;
    TaskCall call("DAQmxReadDigitalLines", taskHandle);
    SimTask* const task = call.task;
    if (task == nullptr) {
        return call.status;
    }
    Simulator& sim = call.sim;
    int32 status = 0;
    if (status = checkReadable(sim, *task, ChannelKind::DigitalInput, fillMode, numSampsPerChan);
        status != 0) {
        return status;
    }
    std::size_t bytesPerSample = 1;
    for (const DigitalChannel& channel : task->digital) {
        bytesPerSample = std::max(bytesPerSample, channel.lineIndices.size());
    }
    const std::size_t channels = task->channelCount();
    const std::uint64_t samples = numSampsPerChan == -1 ? 1 : numSampsPerChan;
    const std::uint64_t needed = samples * channels * bytesPerSample;
    if (needed > arraySizeInBytes) {
        return bufferTooSmall(*task, needed, arraySizeInBytes);
    }
    if (samples > 0 && readArray == nullptr) {
        return taskFailure(status::kNullPointer, *task, {{"Argument", "readArray"}});
    }
    const std::uint64_t first = task->samplesRead;
    task->samplesRead += samples;
    const std::vector<DigitalChannel> lines = task->digital;
    call.lock.unlock();

    std::fill(readArray, readArray + needed, uInt8{0});
    for (std::size_t c = 0; c < channels; ++c) {
        for (std::size_t s = 0; s < samples; ++s) {
            uInt8* bytes =
                readArray + elementIndex(fillMode, c, channels, s, samples) * bytesPerSample;
            for (std::size_t l = 0; l < lines[c].lineIndices.size(); ++l) {
                bytes[l] = digitalSample(lines[c].lineIndices[l], first + s);
            }
        }
    }
    if (sampsPerChanRead != nullptr) {
        *sampsPerChanRead = static_cast<int32>(samples);
    }
    if (numBytesPerSamp != nullptr) {
        *numBytesPerSamp = static_cast<int32>(bytesPerSample);
    }
    return 0;
} catch (...) {
    return escapedException("DAQmxReadDigitalLines");
}

}  // extern "C"
