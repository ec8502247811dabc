#include "stubs/acquisition/StreamLoop.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <vector>

#include "daqmx/DriverStatusClasses.h"
#include "device/FrameKeys.h"
#include "stubs/Clocks.h"
#include "stubs/DriverStatus.h"
#include "stubs/Logging.h"
#include "stubs/acquisition/BinaryBlock.h"
#include "stubs/acquisition/SampleFrame.h"

namespace kra::device::stubs {

namespace {

/// Read statuses that mean "not now" rather than "broken" are retried after
/// a short pause, up to kMaxTransientRetries times in a row.
constexpr int kMaxTransientRetries = 10;
constexpr auto kTransientPause = std::chrono::milliseconds(10);

/// Longest stretch the stream thread waits for a block without looking at
/// the stop flag, and the shortest pause between two looks at the driver's
/// count (so a count one sample short does not make the loop spin).
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
constexpr auto kShortestPause = std::chrono::microseconds(200);
/// Pause after a read that succeeded without samples, before the next one.
constexpr auto kEmptyReadPause = std::chrono::milliseconds(1);

bool isTransient(int32 status) {
    return daqmx::classifyStatus(status).retriedByStream;
}

/// True while a started task has acquired no sample at all, which for a
/// triggered task means its trigger has not come yet.
bool acquiredNothing(TaskHandle task) {
    uInt64 acquired = 0;
    return DAQmxGetReadTotalSampPerChanAcquired(task, &acquired) == 0 && acquired == 0;
}

/// One digital sample per line into `bits`; `bits` stays empty when there is
/// no digital task or the read fails or delivers nothing.
void takeDigitalSnapshot(TaskHandle task, double timeoutS, std::vector<uInt8>& bytes,
                         std::vector<bool>& bits) {
    bits.clear();
    if (bytes.empty()) {
        return;
    }
    std::fill(bytes.begin(), bytes.end(), uInt8{0});
    int32 read = 0;
    int32 bytesPerSample = 0;
    const int32 status =
        DAQmxReadDigitalLines(task, 1, timeoutS, DAQmx_Val_GroupByChannel, bytes.data(),
                              static_cast<uInt32>(bytes.size()), &read, &bytesPerSample, nullptr);
    if (status != 0 || read < 1) {
        return;
    }
    bits.assign(bytes.begin(), bytes.end());  // every non-zero byte is a set line
}

DeviceState streamingRecord(const char* message) {
    DeviceState record;
    record.code = DeviceStateCode::Connected;
    record.stateName = "streaming";
    record.message = message;
    return record;
}

}  // namespace

/// One record per topic, made when the stream starts. Every block rewrites
/// the texts in place, so their buffers are reused from block to block; the
/// references name entries of the records' maps, which never move.
struct StreamLoop::BlockRecords {
    BlockRecords() = default;
    BlockRecords(const BlockRecords&) = delete;
    BlockRecords& operator=(const BlockRecords&) = delete;

    DeviceState frame = streamingRecord("frame");
    DeviceState binary = streamingRecord("samples");
    std::string& frameText = frame.properties[std::string(frame::kFrameProperty)];
    std::string& header = binary.properties[std::string(frame::kHeaderProperty)];
    std::string& samples = binary.properties[std::string(frame::kSamplesProperty)];
};

std::optional<std::string> StreamLoop::start(const StreamPlan& plan) {
    const bool previousStopRequest = stopRequested.exchange(false);
    sequenceCounter = 0;
    if (!numberTextCache) {  // made on the first start, then kept
        numberTextCache = std::make_unique<NumberTextCache>();
    }
    try {
        streamThread = std::thread([this, plan] { streamLoop(plan); });
    } catch (const std::system_error& error) {
        stopRequested = previousStopRequest;
        return std::string("Failed to start stream thread: ") + error.what();
    }
    return std::nullopt;
}

void StreamLoop::join() {
    if (streamThread.joinable()) {
        streamThread.join();
    }
}

void StreamLoop::requestStop() {
    {
        // Set under the lock the waits sleep on, so none of them misses it.
        std::lock_guard lock(stopMutex);
        stopRequested = true;
    }
    stopSignal.notify_all();
}

bool StreamLoop::pauseUnlessStopped(std::chrono::nanoseconds pause) {
    std::unique_lock lock(stopMutex);
    return stopSignal.wait_for(lock, pause, [this] { return stopRequested.load(); });
}

StreamLoop::BlockWait StreamLoop::waitForBlock(const StreamPlan& plan, double& samplesPerSecond) {
    using Clock = std::chrono::steady_clock;
    using Seconds = std::chrono::duration<double>;
    const auto start = Clock::now();
    // A negative timeout is the driver's "wait for ever"; a huge one is as good.
    const bool bounded = plan.readTimeoutS >= 0.0 && plan.readTimeoutS < 1e6;
    const auto deadline =
        bounded ? start + std::chrono::duration_cast<Clock::duration>(Seconds(plan.readTimeoutS))
                : Clock::time_point::max();
    const auto wanted = static_cast<uInt32>(std::max(plan.samplesPerChannel, 1));
    uInt32 previous = 0;
    auto previousAt = start;
    for (bool first = true;; first = false) {
        uInt32 available = 0;
        if (DAQmxGetReadAvailSampPerChan(plan.aiTask, &available) != 0) {
            return BlockWait::CountUnavailable;
        }
        if (available >= wanted) {
            return BlockWait::Ready;
        }
        const auto now = Clock::now();
        // The pace the samples really arrive at (a driver's clock is not the
        // nominal rate, and a simulated one may run faster), for the next pause.
        if (!first && available > previous && now > previousAt) {
            samplesPerSecond = (available - previous) / Seconds(now - previousAt).count();
        }
        previous = available;
        previousAt = now;
        if (now >= deadline) {
            return BlockWait::TimedOut;
        }
        Clock::duration pause = kWaitSlice;
        if (samplesPerSecond > 0.0) {
            const Seconds untilComplete((wanted - available) / samplesPerSecond);
            if (untilComplete < Seconds(kWaitSlice)) {
                pause = std::max<Clock::duration>(
                    std::chrono::duration_cast<Clock::duration>(untilComplete), kShortestPause);
            }
        } else if (plan.sampleRateHz > 0.0) {
            // Not measured yet. A sped-up simulated driver delivers many times
            // the nominal rate, and a whole slice at that pace overruns its
            // buffer: look again after one nominal sample period.
            const Seconds period(std::min(1.0 / plan.sampleRateHz, Seconds(kWaitSlice).count()));
            pause = std::max<Clock::duration>(std::chrono::duration_cast<Clock::duration>(period),
                                              kShortestPause);
        }
        if (pauseUnlessStopped(std::min(pause, deadline - now))) {
            return BlockWait::Stopped;
        }
    }
}

void StreamLoop::streamLoop(const StreamPlan& plan) noexcept {
    // Whatever escapes (memory, a throwing callback) ends the stream the way a
    // driver failure does, instead of terminating the host.
    auto fail = [this](const char* reason) noexcept {
        if (stopRequested) {
            return;
        }
        try {
            endStreamWithError(std::string("Streaming stopped: ") + reason);
        } catch (...) {
            // Nothing is left to report with.
        }
    };
    try {
        runStream(plan);
    } catch (const std::exception& error) {
        fail(error.what());
    } catch (...) {
        fail("unknown exception");
    }
    subscribers.reportRepeatedFailures();
}

void StreamLoop::runStream(const StreamPlan& plan) {
    // Everything the loop needs is allocated here, once: per block the driver
    // fills these buffers and the records' texts are rewritten in place.
    std::vector<double> block(
        static_cast<std::size_t>(plan.samplesPerChannel) * plan.aiChannelCount, 0.0);
    const bool digital = plan.diTask != nullptr && plan.diLineCount > 0;
    std::vector<uInt8> lineBytes(digital ? plan.diLineCount : 0);
    std::vector<bool> lineBits;
    lineBits.reserve(lineBytes.size());
    BlockRecords records;

    int transientErrors = 0;
    double samplesPerSecond = 0.0;  // the pace the waits measure; unknown so far
    std::uint64_t delivered = 0;    // per channel, since the start
    const auto blockSamples = static_cast<std::uint64_t>(plan.samplesPerChannel);
    while (!stopRequested) {
        double timeoutS = plan.readTimeoutS;
        const bool wholeBlockLeft =
            plan.finiteSamples == 0 ||
            (delivered < plan.finiteSamples && plan.finiteSamples - delivered >= blockSamples);
        if (plan.waitInSlices && wholeBlockLeft) {
            const BlockWait wait = waitForBlock(plan, samplesPerSecond);
            if (wait == BlockWait::Stopped) {
                return;
            }
            if (wait == BlockWait::TimedOut) {
                timeoutS = 0.0;  // the timeout has passed: the driver reports it now
            }
        }
        int32 read = 0;
        const DriverStatus status = checkDriver(
            DAQmxReadAnalogF64(plan.aiTask, plan.samplesPerChannel, timeoutS,
                               DAQmx_Val_GroupByChannel, block.empty() ? nullptr : block.data(),
                               static_cast<uInt32>(block.size()), &read, nullptr));
        // Samples that come back with a failure (a timeout hands over what it
        // had) are consumed: they go out as a shorter frame before the status
        // is dealt with, so the frames still add up to what the driver read.
        if (read >= 1) {
            delivered += static_cast<std::uint64_t>(std::min(read, plan.samplesPerChannel));
            takeDigitalSnapshot(plan.diTask, plan.readTimeoutS, lineBytes, lineBits);
            emitBlock(plan, block, std::min(read, plan.samplesPerChannel), lineBits, records);
        }
        if (status.ok()) {
            transientErrors = 0;
            if (read < 1 && pauseUnlessStopped(kEmptyReadPause)) {
                return;  // a driver that keeps answering "nothing" must not make this spin
            }
            continue;
        }
        if (stopRequested) {
            return;
        }
        // A trigger may take as long as the rig wants: waiting for it is
        // neither an error nor worth a word, and the wait keeps looking at
        // the stop flag.
        if (plan.triggered && status.code == DAQmxErrorSamplesNotYetAvailable && delivered == 0 &&
            acquiredNothing(plan.aiTask)) {
            if (pauseUnlessStopped(kWaitSlice)) {
                return;
            }
            continue;
        }
        const bool transient = isTransient(status.code);
        if (transient && transientErrors < kMaxTransientRetries) {
            if (status.code == DAQmxErrorSamplesNoLongerAvailable) {
                logWarn("AcquisitionEngine: samples lost ({}), continuing", status.text);
            }
            ++transientErrors;
            if (pauseUnlessStopped(kTransientPause)) {
                return;
            }
            continue;
        }
        endStreamWithError((transient ? "Streaming stopped: too many transient DAQmx errors. "
                                      : "Streaming stopped: ") +
                               status.text,
                           status.code);
        return;
    }
}

void StreamLoop::emitBlock(const StreamPlan& plan, const std::vector<double>& samples,
                           std::int32_t sampleCount, const std::vector<bool>& digitalLines,
                           BlockRecords& records) {
    // Numbered and stamped once, so that both forms of the block agree.
    SampleFrameView frame;
    frame.sequenceNo = sequenceCounter.fetch_add(1) + 1;
    frame.timestampNs = wallClockNs100();
    frame.sampleCount = sampleCount;
    frame.channelCount = plan.aiChannelCount;
    frame.samples = samples.data();
    frame.sampleBufferSize = samples.size();
    frame.digitalLines = &digitalLines;

    // Each form is made only for its subscribers; with none the block is dropped.
    TopicRecords deliveries;
    const auto builtAt = static_cast<std::uint64_t>(steadyClockNs());
    if (subscribers.has(StreamTopic::Frames)) {
        writeFrameText(frame, records.frameText, *numberTextCache);
        records.frame.timestampNs = builtAt;
        deliveries.frames = &records.frame;
    }
    if (subscribers.has(StreamTopic::Binary)) {
        writeBinaryBlockHeader(frame, records.header);
        writeBinaryBlockSamples(frame, records.samples);
        records.binary.timestampNs = builtAt;
        deliveries.binary = &records.binary;
    }
    if (deliveries.frames != nullptr || deliveries.binary != nullptr) {
        subscribers.deliver(deliveries);
    }
}

void StreamLoop::endStreamWithError(const std::string& message, std::optional<int32> status) {
    logError("{}", message);
    DeviceState record;
    record.code = DeviceStateCode::Error;
    record.stateName = "error";
    record.message = message;
    if (status) {
        record.properties["daqmx_status"] = std::to_string(*status);
    }
    record.timestampNs = static_cast<std::uint64_t>(steadyClockNs());
    subscribers.deliverToAll(record);
}

}  // namespace kra::device::stubs
