// Streaming: start and stop, frame numbering, layout and samples, transient
// and fatal read errors, subscribers, and stopping by disconnect and
// destruction.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::DeviceState;
using kra::device::DeviceStateCode;
using kra::device::IDeviceStub;
using kra::device::OperationParams;
using kra::device::OperationResult;
using kra::device::StringMap;
using kra::device::SubscriptionHandle;
using nlohmann::json;

namespace {

/// What one subscriber received: the first frames in full, every error, and a
/// count of all frames. Waits have generous deadlines and no fixed sleeps.
class EventLog {
public:
    struct Seen {
        std::vector<DeviceState> frames, errors;
        std::size_t frameCount = 0;
        json frame(std::size_t i) const { return json::parse(frames.at(i).properties.at("frame")); }
    };
    IDeviceStub::StateCallback callback() {
        return [this](const DeviceState& state) {
            std::lock_guard lock(mutex_);
            if (state.code == DeviceStateCode::Error) {
                seen_.errors.push_back(state);
            } else if (++seen_.frameCount <= 8) {
                seen_.frames.push_back(state);
            }
            changed_.notify_all();
        };
    }
    /// True once `frames` frames (and, with `error`, an error) have arrived.
    bool waitFor(std::size_t frames, bool error = false) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            return seen_.frameCount >= frames && (!error || !seen_.errors.empty());
        });
    }
    Seen seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        seen_ = {};
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Seen seen_;
};

/// Every frame of a stream, parsed, for checks across frames.
class FrameCollector {
public:
    IDeviceStub::StateCallback callback(std::function<void()> afterFirst = {}) {
        return [this, afterFirst](const DeviceState& state) {
            if (state.code == DeviceStateCode::Error) {
                return;
            }
            bool first = false;
            {
                std::lock_guard lock(mutex_);
                frames_.push_back(json::parse(state.properties.at("frame")));
                first = frames_.size() == 1;
            }
            if (first && afterFirst) {
                afterFirst();
            }
        };
    }
    std::vector<json> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    /// Numbered 1, 2, 3... and holding, channel 0, the driver's samples one
    /// after the other: none lost, none twice, none out of order.
    void expectContiguous(const char* channel) const {
        std::uint64_t index = 0;
        const auto all = frames();
        for (std::size_t i = 0; i < all.size(); ++i) {
            EXPECT_EQ(all[i].at("sequence_no"), i + 1);
            for (const auto& value : all[i].at("samples")[0]) {
                ASSERT_EQ(value.get<double>(), DAQmxSim_ExpectedSample(channel, index))
                    << "frame " << i + 1 << ", sample " << index;
                ++index;
            }
        }
    }

private:
    mutable std::mutex mutex_;
    std::vector<json> frames_;
};

class StreamingTest : public test_support::StubTest {
protected:
    StreamingTest() : StubTest("st") {}
    /// Configures `params` (10 samples per channel unless given), subscribes
    /// `events` and starts the stream.
    void startStreaming(OperationParams params = {}) {
        params.emplace("samples_per_channel", "10");
        ASSERT_TRUE(execute("configure", params).success);
        ASSERT_NE(stub->subscribe("analog_input", "stream", events.callback()).id, 0u);
        const auto started = execute("start_stream");
        ASSERT_TRUE(started.success) << started.error;
        EXPECT_EQ(started.data, (StringMap{{"streaming", "true"}}));
    }
    void expectIdleAfterStop() {
        const auto stopped = execute("stop_stream");
        ASSERT_TRUE(stopped.success);
        EXPECT_EQ(stopped.data, (StringMap{{"streaming", "false"}}));
        EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
        EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);
    }
    /// The stream ended with one error record, its message starting with `prefix`.
    DeviceState expectStreamError(const std::string& prefix) {
        EXPECT_TRUE(events.waitFor(0, true));
        const auto errors = events.seen().errors;
        EXPECT_EQ(errors.size(), 1u);
        const DeviceState error = errors.empty() ? DeviceState{} : errors[0];
        EXPECT_EQ(error.message.rfind(prefix, 0), 0u) << error.message;
        return error;
    }

    EventLog events;  // outlives the stub, whose thread calls into it
};

TEST_F(StreamingTest, StartAndStopAnswerForTheStateTheyFind) {
    const auto calls = DAQmxSim_CallLogSize();
    expectIdleAfterStop();
    EXPECT_EQ(DAQmxSim_CallLogSize(), calls) << "no driver call while idle";

    startStreaming();
    const int threads = test_support::processThreadCount();
    const auto again = execute("start_stream");
    EXPECT_EQ(again.data, (StringMap{{"streaming", "true"}, {"note", "already_streaming"}}));
    EXPECT_EQ(test_support::processThreadCount(), threads) << "still one stream thread";
    expectIdleAfterStop();
}

TEST_F(StreamingTest, FramesAreNumberedFromOneAndContinueTheWaveformWithoutGaps) {
    // Short deliveries: each frame holds 7 of the 10 asked for, with 7 as stride.
    DAQmxSim_SetReadSampleCap(7);
    startStreaming({{"ai_channels", "Dev1/ai0:1"}});
    ASSERT_TRUE(events.waitFor(4));
    expectIdleAfterStop();
    const auto seen = events.seen();
    const DeviceState& envelope = seen.frames[0];
    EXPECT_EQ(envelope.code, DeviceStateCode::Connected);
    EXPECT_EQ(envelope.stateName, "streaming");
    EXPECT_EQ(envelope.message, "frame");
    EXPECT_EQ(envelope.properties.size(), 1u);
    EXPECT_GT(envelope.timestampNs, 0u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const json frame = seen.frame(i);
        EXPECT_EQ(frame.size(), 6u) << frame.dump();
        EXPECT_EQ(frame.at("sequence_no"), i + 1);
        EXPECT_EQ(frame.at("sample_count"), 7);
        ASSERT_EQ(frame.at("samples").size(), 2u);
        for (int c = 0; c < 2; ++c) {
            const std::string channel = "Dev1/ai" + std::to_string(c);
            ASSERT_EQ(frame.at("samples")[c].size(), 7u);
            for (int s = 0; s < 7; ++s) {
                EXPECT_EQ(frame.at("samples")[c][s].get<double>(),
                          DAQmxSim_ExpectedSample(channel.c_str(), 7 * i + s))
                    << channel << " sample " << s;
            }
        }
    }
}

TEST_F(StreamingTest, DigitalSnapshotAddsTwoMembersAndItsFailuresOnlyDropThem) {
    DAQmxSim_FailCall("DAQmxReadDigitalLines", -200474, 1);
    startStreaming({{"digital_input_lines", "Dev1/port0/line0:3"}});
    ASSERT_TRUE(events.waitFor(3));
    expectIdleAfterStop();
    auto seen = events.seen();
    EXPECT_EQ(seen.frame(0).size(), 6u) << "the failed snapshot";
    EXPECT_EQ(seen.frame(1).size(), 8u) << seen.frame(1).dump();
    EXPECT_EQ(seen.frame(1).at("n_digital_lines"), 4);
    // The simulated lines count the successful digital reads up in binary.
    EXPECT_EQ(seen.frame(1).at("digital_lines"), json({true, false, false, false}));
    EXPECT_EQ(seen.frame(2).at("digital_lines"), json({false, true, false, false}));

    // The digital task's start (the second start call) fails: the task is dropped.
    events.clear();
    DAQmxSim_FailCallAtPosition(DAQmxSim_CallLogSize() + 1, -200479);
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitFor(1));
    expectIdleAfterStop();
    seen = events.seen();
    EXPECT_EQ(seen.frame(0).size(), 6u);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 1u);
    EXPECT_TRUE(seen.errors.empty());
}

TEST_F(StreamingTest, TransientErrorsArePausedOverUntilTheEleventhInARow) {
    // Ten in a row, a good block, ten more, a good block, then eleven.
    std::vector<int32> statuses(10, DAQmxErrorSamplesNotYetAvailable);
    statuses.push_back(0);
    statuses.insert(statuses.end(), 10, DAQmxErrorSamplesNoLongerAvailable);
    statuses.push_back(0);
    statuses.insert(statuses.end(), 11, DAQmxErrorSamplesNotYetAvailable);
    DAQmxSim_QueueReadStatuses(statuses.data(), static_cast<uInt32>(statuses.size()));
    test_support::StderrCapture capture;
    const auto started = std::chrono::steady_clock::now();
    startStreaming();
    const auto error = expectStreamError(
        "Streaming stopped: too many transient DAQmx errors. DAQmx error -200284: ");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300))
        << "30 pauses of 10 ms";
    expectIdleAfterStop();
    EXPECT_EQ(events.seen().frameCount, 2u);
    std::size_t warnings = 0;
    for (const auto& line : capture.lines()) {
        warnings +=
            line.rfind("[ni-usb-daq W] AcquisitionEngine: samples lost (DAQmx error -200279: ",
                       0) == 0;
    }
    EXPECT_EQ(warnings, 10u) << "each lost block is visible, and only those";
    EXPECT_NE(capture.text().find("[ni-usb-daq E] " + error.message + "\n"), std::string::npos);
}

TEST_F(StreamingTest, FatalReadErrorEndsTheStreamUntilStopped) {
    const int32 fatal = -200474;
    DAQmxSim_QueueReadStatuses(&fatal, 1);
    startStreaming();
    const auto error = expectStreamError("Streaming stopped: DAQmx error -200474: ");
    EXPECT_EQ(error.code, DeviceStateCode::Error);
    EXPECT_EQ(error.stateName, "error");
    EXPECT_EQ(error.properties, (StringMap{{"daqmx_status", "-200474"}}));

    // Ended: the flag stays set until a stop.
    EXPECT_EQ(execute("start_stream").data.at("note"), "already_streaming");
    EXPECT_EQ(execute("configure").error,
              "Cannot configure while streaming. Call stop_stream first.");
    expectIdleAfterStop();
    EXPECT_EQ(events.seen().frameCount, 0u);

    // A new start numbers from one again.
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.seen().frame(0).at("sequence_no"), 1);
}

TEST_F(StreamingTest, RemovedSubscriberReceivesNothingAfterRemoval) {
    EventLog removed;
    const auto handle = stub->subscribe("analog_input", "stream", removed.callback());
    startStreaming();
    ASSERT_TRUE(removed.waitFor(3));
    stub->unsubscribe("analog_input", "stream", handle);
    const auto seen = removed.seen().frameCount;
    ASSERT_TRUE(events.waitFor(events.seen().frameCount + 5));
    EXPECT_EQ(removed.seen().frameCount, seen);
    expectIdleAfterStop();
}

TEST_F(StreamingTest, ThrowingCallbackIsIsolatedAndLoggedOnceWithACountAtTheEnd) {
    stub->subscribe("analog_input", "stream",
                    [](const DeviceState&) { throw std::runtime_error("callback broke"); });
    test_support::StderrCapture capture;
    startStreaming();
    ASSERT_TRUE(events.waitFor(5)) << "the other subscriber keeps getting every frame";
    expectIdleAfterStop();
    const auto seen = events.seen();
    EXPECT_TRUE(seen.errors.empty());
    std::vector<std::string> lines;
    for (const auto& line : capture.lines()) {
        if (line.rfind("[ni-usb-daq E] ", 0) == 0) {
            lines.push_back(line);
        }
    }
    ASSERT_EQ(lines.size(), 2u) << capture.text();
    EXPECT_NE(lines[0].find("threw: callback broke"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("threw " + std::to_string(seen.frameCount - 1) + " more times"),
              std::string::npos)
        << lines[1];
}

TEST_F(StreamingTest, CallbacksChangeSubscriptionsFromInsideAfterTheirDelivery) {
    // A one-shot subscriber that leaves in its own callback, one that removes
    // a third subscriber, and one that adds a new subscriber.
    SubscriptionHandle oneShot, victim;
    std::size_t oneShotFrames = 0, victimFrames = 0, victimFramesAtRemoval = 0;
    EventLog added;
    bool adding = true;
    oneShot = stub->subscribe("analog_input", "stream", [&](const DeviceState&) {
        ++oneShotFrames;
        stub->unsubscribe("analog_input", "stream", oneShot);
    });
    victim = stub->subscribe("analog_input", "stream", [&](const DeviceState&) { ++victimFrames; });
    stub->subscribe("analog_input", "stream", [&](const DeviceState&) {
        if (std::exchange(adding, false)) {
            victimFramesAtRemoval = victimFrames;
            stub->unsubscribe("analog_input", "stream", victim);
            EXPECT_NE(stub->subscribe("analog_input", "stream", added.callback()).id, 0u);
        }
    });
    startStreaming();
    ASSERT_TRUE(added.waitFor(3)) << "the subscriber added from inside gets later frames";
    ASSERT_TRUE(events.waitFor(5));
    expectIdleAfterStop();
    EXPECT_EQ(oneShotFrames, 1u);
    EXPECT_EQ(victimFrames, victimFramesAtRemoval)
        << "nothing after the removal, same frame either";
    EXPECT_EQ(added.seen().frame(0).at("sequence_no"), 2) << "from the next delivery on";
}

TEST_F(StreamingTest, StopFromACallbackGetsTheDeadlockErrorAndEndsAfterThatDelivery) {
    std::error_code seen;
    stub->subscribe("analog_input", "stream", [&](const DeviceState&) {
        try {
            stub->execute("analog_input", "stop_stream", {}, "");
        } catch (const std::system_error& error) {
            seen = error.code();
        }
    });
    startStreaming();
    ASSERT_TRUE(events.waitFor(1));
    expectIdleAfterStop();
    // By value and category name: where each module links its own C++
    // runtime (Windows), the plug-in's generic category is another object.
    EXPECT_EQ(seen.value(), static_cast<int>(std::errc::resource_deadlock_would_occur));
    EXPECT_STREQ(seen.category().name(), std::generic_category().name());
    EXPECT_EQ(events.seen().frameCount, 1u);
    EXPECT_TRUE(events.seen().errors.empty());
}

TEST_F(StreamingTest, StopReturnsPromptlyFromEveryWaitOfTheStreamThread) {
    // Each case puts the stream thread into one of its waits and stops it from
    // there; a stop that waited for the block would take 1000 s or for ever.
    struct Case {
        const char* wait;
        OperationParams params;
        std::function<void()> arrange;
        const char* busyCall;  // called at least twice once the thread waits
    };
    const OperationParams slowBlocks = {{"sample_clock_rate_hz", "1"},
                                        {"samples_per_channel", "1000"}};
    auto withTimeout = [&](const char* timeout) {
        OperationParams params = slowBlocks;
        params["read_timeout_s"] = timeout;
        return params;
    };
    const std::vector<Case> cases = {
        {"block wait, timeout for ever", withTimeout("-1"), [] {}, "DAQmxGetReadAvailSampPerChan"},
        {"block wait, long timeout", withTimeout("500"), [] {}, "DAQmxGetReadAvailSampPerChan"},
        {"transient pause",
         {},
         [] {
             const std::vector<int32> statuses(8, DAQmxErrorSamplesNotYetAvailable);
             DAQmxSim_QueueReadStatuses(statuses.data(), static_cast<uInt32>(statuses.size()));
         },
         "DAQmxReadAnalogF64"},
        {"reads that deliver nothing",
         {},
         [] { DAQmxSim_SetReadCountSkew(-10); },
         "DAQmxReadAnalogF64"},
    };
    for (const Case& c : cases) {
        for (const char* stop : {"stop_stream", "disconnect", "destroy"}) {
            SCOPED_TRACE(std::string(c.wait) + ", " + stop);
            DAQmxSim_Reset();
            DAQmxSim_SetTimeScale(1.0);
            stub = test_support::createStub();
            stub->connect();
            c.arrange();
            startStreaming(c.params);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (DAQmxSim_CallCount(c.busyCall) < 2 &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const auto before = std::chrono::steady_clock::now();
            if (std::string(stop) == "stop_stream") {
                expectIdleAfterStop();
            } else if (std::string(stop) == "disconnect") {
                stub->disconnect();
            } else {
                stub.reset();
            }
            EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
            stub.reset();
            EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
            EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);
        }
    }
}

TEST_F(StreamingTest, ReadsThatDeliverNothingArePacedNotSpun) {
    DAQmxSim_SetReadCountSkew(-10);
    startStreaming();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto before = DAQmxSim_CallCount("DAQmxReadAnalogF64");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // About one read per millisecond; a spinning loop makes tens of thousands.
    EXPECT_LT(DAQmxSim_CallCount("DAQmxReadAnalogF64") - before, 1000u);
    expectIdleAfterStop();
    EXPECT_EQ(events.seen().frameCount, 0u);
}

TEST_F(StreamingTest, SubscriberSlowerThanTheAcquisitionOverflowsTheDriverBuffer) {
    // 10 ms blocks into a 50-sample buffer; one callback stalls for 150 ms.
    DAQmxSim_SetTimeScale(1.0);
    DAQmxSim_SetInputBufferSize(50);
    FrameCollector collector;
    stub->subscribe("analog_input", "stream", collector.callback([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }));
    test_support::StderrCapture capture;
    startStreaming();
    expectStreamError("Streaming stopped: too many transient DAQmx errors. DAQmx error -200279: ");
    expectIdleAfterStop();
    std::size_t warnings = 0;
    for (const auto& line : capture.lines()) {
        warnings += line.find("samples lost (DAQmx error -200279: ") != std::string::npos;
    }
    EXPECT_EQ(warnings, 10u);
    collector.expectContiguous("Dev1/ai0");

    events.clear();
    ASSERT_TRUE(execute("start_stream").success) << "a new start begins clean";
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_TRUE(events.seen().errors.empty());
    expectIdleAfterStop();
}

TEST_F(StreamingTest, ASpedUpDriverIsPacedByItsMeasuredRateNotTheNominalOne) {
    // At 100 times real time, 1 s blocks arrive every 10 ms and a 4000-sample
    // buffer overflows after 40 ms; a first wait of a whole slice at the
    // nominal rate (50 ms) would lose the stream before its first block.
    DAQmxSim_SetTimeScale(100.0);
    DAQmxSim_SetInputBufferSize(4000);
    startStreaming({{"sample_clock_rate_hz", "1000"}, {"samples_per_channel", "1000"}});
    ASSERT_TRUE(events.waitFor(20));
    expectIdleAfterStop();
    EXPECT_TRUE(events.seen().errors.empty());
}

TEST_F(StreamingTest, SamplesThatComeWithATimeoutAreDeliveredAsShorterFrames) {
    // 1 s blocks that time out after 30 ms, each time with what had arrived.
    DAQmxSim_SetTimeScale(1.0);
    FrameCollector collector;
    stub->subscribe("analog_input", "stream", collector.callback());
    startStreaming({{"samples_per_channel", "1000"}, {"read_timeout_s", "0.03"}});
    expectStreamError("Streaming stopped: too many transient DAQmx errors. DAQmx error -200284: ");
    expectIdleAfterStop();
    const auto frames = collector.frames();
    ASSERT_GE(frames.size(), 10u);
    for (const auto& frame : frames) {
        EXPECT_GE(frame.at("sample_count"), 1);
        EXPECT_LT(frame.at("sample_count"), 1000);
        EXPECT_EQ(frame.at("samples")[0].size(), frame.at("sample_count"));
    }
    collector.expectContiguous("Dev1/ai0");
}

TEST_F(StreamingTest, DeviceUnpluggedMidStreamEndsItOnceAndWorksAgainAfterReplug) {
    stub->connect();
    startStreaming();
    ASSERT_TRUE(events.waitFor(2));
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev1", 0), 0);
    expectStreamError("Streaming stopped: DAQmx error -50405: ");
    EXPECT_TRUE(execute("stop_stream").success);
    EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);

    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev1", 1), 0);
    EXPECT_EQ(execute("start_stream").error.rfind("DAQmxStartTask failed: DAQmx error -50405: ", 0),
              0u)
        << "the old task stays dead";
    stub->connect();
    events.clear();
    ASSERT_TRUE(execute("configure").success);
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_TRUE(events.seen().errors.empty());
    expectIdleAfterStop();
}

TEST_F(StreamingTest, StopsFromOtherThreadsDisconnectAndDestructionEndARunningStream) {
    const int threads = test_support::processThreadCount();
    stub->connect();
    startStreaming();
    ASSERT_TRUE(events.waitFor(1));
    // The host's stop and a disconnect's, at once.
    OperationResult other;
    std::thread thread([&] { other = stub->execute("analog_input", "stop_stream", {}, "b"); });
    stub->disconnect();
    thread.join();
    EXPECT_EQ(other.data, (StringMap{{"streaming", "false"}}));
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);
    EXPECT_EQ(test_support::settledThreadCount(threads), threads);

    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitFor(events.seen().frameCount + 1));
    stub.reset();
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(test_support::settledThreadCount(threads), threads);
}

}  // namespace
