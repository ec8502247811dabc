#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "daqmx/NIDAQmx.h"
#include "device/DeviceRecords.h"
#include "stubs/acquisition/NumberTextCache.h"
#include "stubs/acquisition/SubscriberRegistry.h"

namespace kra::device::stubs {

/// What the stream thread works with, copied at its start so that it never
/// touches what host threads write.
struct StreamPlan {
    TaskHandle aiTask = nullptr;
    TaskHandle diTask = nullptr;
    std::uint64_t aiChannelCount = 0;
    std::uint64_t diLineCount = 0;
    std::int32_t samplesPerChannel = 0;
    double readTimeoutS = 0.0;
    double sampleRateHz = 0.0;  ///< achieved rate, for pacing the waits
    /// Wait for a whole block by watching the driver's count of available
    /// samples, so a stop never waits for a block. Off for on-demand tasks,
    /// whose reads the driver answers at once.
    bool waitInSlices = false;
    /// Samples per channel a finite task acquires in all (0: continuous).
    /// The driver answers a read at once when less than a block is left.
    std::uint64_t finiteSamples = 0;
    /// The task waits for a trigger: until it has acquired a sample, reads
    /// that time out are waiting, not failing.
    bool triggered = false;
};

/// The stream thread: reads block after block from started tasks and hands
/// each to the subscribers in the forms they subscribed to (frame text, binary
/// block), rides out transient read failures, and ends on a stop request or
/// with one Error record on a fatal failure.
/// Its owner serialises `start`, `requestStop` and `join`; the thread takes
/// only the registry's lock and `stopMutex`, the leaf its waits sleep on.
class StreamLoop {
public:
    explicit StreamLoop(SubscriberRegistry& subscribers) : subscribers(subscribers) {}
    ~StreamLoop() {
        requestStop();
        join();
    }

    /// Starts the thread; the error text when it could not be made.
    std::optional<std::string> start(const StreamPlan& plan);
    /// Asks the thread to finish; it does at its next look at the flag.
    void requestStop();
    void join();

private:
    /// How the wait for a block ended.
    enum class BlockWait { Ready, TimedOut, Stopped, CountUnavailable };
    /// The records a stream hands out, rewritten in place for every block.
    struct BlockRecords;

    /// Sleeps up to `pause`; true when a stop was requested.
    bool pauseUnlessStopped(std::chrono::nanoseconds pause);
    BlockWait waitForBlock(const StreamPlan& plan, double& samplesPerSecond);
    void streamLoop(const StreamPlan& plan) noexcept;
    void runStream(const StreamPlan& plan);
    void emitBlock(const StreamPlan& plan, const std::vector<double>& samples,
                   std::int32_t sampleCount, const std::vector<bool>& digitalLines,
                   BlockRecords& records);
    /// The one Error record that ends a stream; `status` is the driver's, when it failed.
    void endStreamWithError(const std::string& message, std::optional<int32> status = {});

    SubscriberRegistry& subscribers;
    std::thread streamThread;
    std::atomic<bool> stopRequested{false};
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    std::atomic<std::uint64_t> sequenceCounter{0};
    /// The text of values the streams wrote, for the stream thread alone; one
    /// table serves every stream, as a value's text never changes.
    std::unique_ptr<NumberTextCache> numberTextCache;
};

}  // namespace kra::device::stubs
