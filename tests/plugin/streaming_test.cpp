// Streaming: start and stop, frame numbering, layout and samples, transient
// and fatal read errors, subscribers, and stopping by disconnect and
// destruction.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
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

class StreamingTest : public test_support::SimulatorTest {
protected:
    void TearDown() override {
        stub.reset();
        SimulatorTest::TearDown();
    }
    OperationResult execute(const std::string& operation, const OperationParams& params = {}) {
        return stub->execute("analog_input", operation, params, "st");
    }
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
    test_support::StubPtr stub = test_support::createStub();
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
    EXPECT_TRUE(error.properties.empty());

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

TEST_F(StreamingTest, MisbehavingCallbacksEndTheStreamInsteadOfTheHost) {
    // A callback that stops its own stream cannot be joined by it: it gets the
    // deadlock error, and the stream ends quietly after that delivery.
    std::error_code seen;
    auto stopper = stub->subscribe("analog_input", "stream", [&](const DeviceState&) {
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

    // A callback that throws ends the stream like a driver failure.
    stub->unsubscribe("analog_input", "stream", stopper);
    stub->subscribe("analog_input", "stream",
                    [](const DeviceState&) { throw std::runtime_error("callback broke"); });
    ASSERT_TRUE(execute("start_stream").success);
    EXPECT_EQ(expectStreamError("").message, "Streaming stopped: callback broke");
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
