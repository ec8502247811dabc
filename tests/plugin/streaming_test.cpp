// Streaming: start and stop, frame numbering and layout, transient and fatal
// read errors, subscribers, and stopping by disconnect and destruction.
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

constexpr int32 kNotYetAvailable = DAQmxErrorSamplesNotYetAvailable;

/// What one subscriber received: the first frames in full, every error, and a
/// count of all frames. Waits have generous deadlines and no fixed sleeps.
class EventLog {
public:
    IDeviceStub::StateCallback callback() {
        return [this](const DeviceState& state) {
            std::lock_guard lock(mutex_);
            if (state.code == DeviceStateCode::Error) {
                errors_.push_back(state);
            } else if (++frameCount_ <= 8) {
                frames_.push_back(state);
            }
            changed_.notify_all();
        };
    }
    bool waitForFrames(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return frameCount_ >= count; });
    }
    bool waitForError() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return !errors_.empty(); });
    }
    std::size_t frameCount() const {
        std::lock_guard lock(mutex_);
        return frameCount_;
    }
    DeviceState state(std::size_t i) const {
        std::lock_guard lock(mutex_);
        return frames_.at(i);
    }
    json frame(std::size_t i) const { return json::parse(state(i).properties.at("frame")); }
    std::vector<DeviceState> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        frames_.clear();
        errors_.clear();
        frameCount_ = 0;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeviceState> frames_;
    std::vector<DeviceState> errors_;
    std::size_t frameCount_ = 0;
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

    EventLog events;  // outlives the stub, whose thread calls into it
    test_support::StubPtr stub = test_support::createStub();
};

TEST_F(StreamingTest, StartAndStopAnswerForTheStateTheyFind) {
    EXPECT_EQ(execute("start_stream").error, "Not configured. Call configure first.");
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

TEST_F(StreamingTest, FramesAreNumberedFromOne) {
    startStreaming();
    ASSERT_TRUE(events.waitForFrames(3));
    const DeviceState envelope = events.state(0);
    EXPECT_EQ(envelope.code, DeviceStateCode::Connected);
    EXPECT_EQ(envelope.stateName, "streaming");
    EXPECT_EQ(envelope.message, "frame");
    EXPECT_EQ(envelope.properties.size(), 1u);
    EXPECT_GT(envelope.timestampNs, 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events.frame(i).at("sequence_no"), i + 1);
    }
    const json first = events.frame(0);
    EXPECT_EQ(first.size(), 6u) << first.dump();
    EXPECT_EQ(first.at("sample_count"), 10);
    expectIdleAfterStop();
}

TEST_F(StreamingTest, DigitalSnapshotAddsTwoMembersAndItsFailuresOnlyDropThem) {
    DAQmxSim_FailCall("DAQmxReadDigitalLines", -200474, 1);
    startStreaming({{"digital_input_lines", "Dev1/port0/line0:3"}});
    ASSERT_TRUE(events.waitForFrames(3));
    expectIdleAfterStop();
    EXPECT_EQ(events.frame(0).size(), 6u) << "the failed snapshot";
    const json frame = events.frame(1);
    EXPECT_EQ(frame.size(), 8u) << frame.dump();
    EXPECT_EQ(frame.at("n_digital_lines"), 4);
    // The simulated lines count the successful digital reads up in binary.
    EXPECT_EQ(frame.at("digital_lines"), json({true, false, false, false}));
    EXPECT_EQ(events.frame(2).at("digital_lines"), json({false, true, false, false}));

    // The digital task's start (the second start call) fails: the task is dropped.
    events.clear();
    DAQmxSim_FailCallAtPosition(DAQmxSim_CallLogSize() + 1, -200479);
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitForFrames(1));
    expectIdleAfterStop();
    EXPECT_EQ(events.frame(0).size(), 6u);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 1u);
    EXPECT_TRUE(events.errors().empty());
}

TEST_F(StreamingTest, ShortBlocksUseTheDeliveredCountAsStride) {
    DAQmxSim_SetReadSampleCap(7);
    startStreaming({{"ai_channels", "Dev1/ai0:1"}});
    ASSERT_TRUE(events.waitForFrames(1));
    expectIdleAfterStop();
    const json frame = events.frame(0);
    EXPECT_EQ(frame.at("sample_count"), 7);
    ASSERT_EQ(frame.at("samples").size(), 2u);
    ASSERT_EQ(frame.at("samples")[1].size(), 7u);
    // ai1's first sample sits at offset 7 of the block.
    EXPECT_NEAR(frame.at("samples")[1][0].get<double>(), 0.002, 1e-12);
    EXPECT_NEAR(frame.at("samples")[0][6].get<double>(), 0.001006, 1e-12);
}

TEST_F(StreamingTest, TransientErrorsArePausedOverUntilTheEleventhInARow) {
    // Ten in a row, a good block, ten more, a good block, then eleven.
    std::vector<int32> statuses(10, kNotYetAvailable);
    statuses.push_back(0);
    statuses.insert(statuses.end(), 10, DAQmxErrorSamplesNoLongerAvailable);
    statuses.push_back(0);
    statuses.insert(statuses.end(), 11, kNotYetAvailable);
    DAQmxSim_QueueReadStatuses(statuses.data(), static_cast<uInt32>(statuses.size()));
    test_support::StderrCapture capture;
    const auto started = std::chrono::steady_clock::now();
    startStreaming();
    ASSERT_TRUE(events.waitForError());
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300))
        << "30 pauses of 10 ms";
    expectIdleAfterStop();
    EXPECT_EQ(events.frameCount(), 2u);
    const auto errors = events.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message.rfind(
                  "Streaming stopped: too many transient DAQmx errors. DAQmx error -200284: ", 0),
              0u)
        << errors[0].message;
    std::size_t warnings = 0;
    for (const auto& line : capture.lines()) {
        warnings += line.rfind(
                        "[ni-usb-daq W] AcquisitionEngine: samples lost (DAQmx error "
                        "-200279: ",
                        0) == 0;
    }
    EXPECT_EQ(warnings, 10u) << "each lost block is visible, and only those";
    EXPECT_NE(capture.text().find("[ni-usb-daq E] " + errors[0].message + "\n"), std::string::npos);
}

TEST_F(StreamingTest, FatalReadErrorEndsTheStreamUntilStopped) {
    const int32 fatal = -200474;
    DAQmxSim_QueueReadStatuses(&fatal, 1);
    startStreaming();
    ASSERT_TRUE(events.waitForError());
    const DeviceState error = events.errors().at(0);
    EXPECT_EQ(error.code, DeviceStateCode::Error);
    EXPECT_EQ(error.stateName, "error");
    EXPECT_TRUE(error.properties.empty());
    EXPECT_EQ(error.message.rfind("Streaming stopped: DAQmx error -200474: ", 0), 0u);

    // Ended: the flag stays set until a stop.
    const auto again = execute("start_stream");
    EXPECT_EQ(again.data.at("note"), "already_streaming");
    EXPECT_EQ(execute("configure").error,
              "Cannot configure while streaming. Call stop_stream first.");
    expectIdleAfterStop();
    EXPECT_EQ(events.frameCount(), 0u);
    EXPECT_EQ(events.errors().size(), 1u);

    // A new start numbers from one again.
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitForFrames(1));
    EXPECT_EQ(events.frame(0).at("sequence_no"), 1);
}

TEST_F(StreamingTest, RemovedSubscriberReceivesNothingAfterRemoval) {
    EventLog removed;
    const auto handle = stub->subscribe("analog_input", "stream", removed.callback());
    startStreaming();
    ASSERT_TRUE(removed.waitForFrames(3));
    stub->unsubscribe("analog_input", "stream", handle);
    const auto seen = removed.frameCount();
    const auto others = events.frameCount();
    ASSERT_TRUE(events.waitForFrames(others + 5));
    EXPECT_EQ(removed.frameCount(), seen);
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
    ASSERT_TRUE(events.waitForFrames(1));
    expectIdleAfterStop();
    EXPECT_EQ(seen, std::errc::resource_deadlock_would_occur);
    EXPECT_EQ(events.frameCount(), 1u);
    EXPECT_TRUE(events.errors().empty());

    // A callback that throws ends the stream like a driver failure.
    stub->unsubscribe("analog_input", "stream", stopper);
    stub->subscribe("analog_input", "stream",
                    [](const DeviceState&) { throw std::runtime_error("callback broke"); });
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitForError());
    EXPECT_EQ(events.errors().at(0).message, "Streaming stopped: callback broke");
    expectIdleAfterStop();
}

TEST_F(StreamingTest, ConcurrentStopsBothSucceed) {
    startStreaming();
    ASSERT_TRUE(events.waitForFrames(1));
    OperationResult first;
    OperationResult second;
    std::thread other([&] { second = stub->execute("analog_input", "stop_stream", {}, "b"); });
    first = execute("stop_stream");
    other.join();
    EXPECT_TRUE(first.success);
    EXPECT_TRUE(second.success);
    EXPECT_EQ(second.data.at("streaming"), "false");
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
}

TEST_F(StreamingTest, DisconnectAndDestructionStopARunningStream) {
    const int threads = test_support::processThreadCount();
    stub->connect();
    startStreaming();
    ASSERT_TRUE(events.waitForFrames(1));
    stub->disconnect();
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);
    EXPECT_EQ(test_support::processThreadCount(), threads);

    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(events.waitForFrames(2));
    stub.reset();
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(test_support::processThreadCount(), threads);
}

}  // namespace
