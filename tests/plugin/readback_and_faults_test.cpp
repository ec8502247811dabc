// What configure reads back from the driver (input buffer, channel names and
// ranges, the exact rate), and streams that meet the device's faults: a late
// reader, a finite stream's stop, and a reset, an unplug or an aborted
// transfer under a running stream, each ending it with one Error record.
#include <array>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::DeviceState;
using kra::device::DeviceStateCode;
using kra::device::OperationParams;
using kra::device::OperationResult;

namespace {

/// Frames counted, errors kept, and a sleep per frame for a slow reader.
class Subscriber {
public:
    explicit Subscriber(std::chrono::milliseconds delay = {}) : delay_(delay) {}
    kra::device::IDeviceStub::StateCallback callback() {
        return [this](const DeviceState& state) {
            if (state.code != DeviceStateCode::Error && delay_.count() > 0) {
                std::this_thread::sleep_for(delay_);
            }
            std::lock_guard lock(mutex_);
            if (state.code == DeviceStateCode::Error) {
                errors_.push_back(state);
            } else {
                ++frames_;
            }
            changed_.notify_all();
        };
    }
    bool waitFor(std::size_t frames, bool error) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return frames_ >= frames && (!error || !errors_.empty()); });
    }
    std::size_t frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<DeviceState> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }

private:
    std::chrono::milliseconds delay_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t frames_ = 0;
    std::vector<DeviceState> errors_;
};

class ReadbackAndFaultsTest : public test_support::StubTest {
protected:
    ReadbackAndFaultsTest() : StubTest("rf") {}
    OperationResult configure(const OperationParams& params) {
        const auto result = execute("configure", params);
        EXPECT_TRUE(result.success) << result.error;
        return result;
    }
    /// The stream ended with exactly one Error record carrying `status`.
    void expectEndedWith(const Subscriber& subscriber, int32 status) {
        const auto errors = subscriber.errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].message.rfind(
                      "Streaming stopped: DAQmx error " + std::to_string(status) + ": ", 0),
                  0u)
            << errors[0].message;
        EXPECT_EQ(errors[0].properties.at("daqmx_status"), std::to_string(status));
    }
};

std::string shortest(double value) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string(text.data(), end);
}

TEST_F(ReadbackAndFaultsTest, InputBufferHoldsTwoBlocksOfAContinuousTaskOnly) {
    const struct {
        const char* mode;
        const char* rate;
        const char* samples;
        const char* buffer;  // nullptr: no such key
        bool enlarged;
    } cases[] = {
        {"CONTINUOUS", "10k", "10000", "20000", true},   // the default would be one block
        {"CONTINUOUS", "1000", "100", "10000", false},   // already ten blocks
        {"CONTINUOUS", "1000", "5000", "10000", false},  // exactly two
        {"FINITE", "10000", "10000", nullptr, false},
        {"ON_DEMAND", "1000", "100", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.rate + " " + c.samples);
        const auto before = DAQmxSim_CallCount("DAQmxCfgInputBuffer");
        const auto result = configure({{"sample_mode", c.mode},
                                       {"sample_clock_rate_hz", c.rate},
                                       {"samples_per_channel", c.samples}});
        if (c.buffer == nullptr) {
            EXPECT_EQ(result.data.count("input_buffer_samples_per_channel"), 0u);
        } else {
            EXPECT_EQ(result.data.at("input_buffer_samples_per_channel"), c.buffer);
        }
        EXPECT_EQ(DAQmxSim_CallCount("DAQmxCfgInputBuffer") - before, c.enlarged ? 1u : 0u);
    }
}

TEST_F(ReadbackAndFaultsTest, InputBufferFailuresFailConfigureOnlyWhenTheBufferCannotBeSet) {
    const OperationParams oneBlock{{"sample_clock_rate_hz", "10000"},
                                   {"samples_per_channel", "10000"}};
    DAQmxSim_FailCall("DAQmxCfgInputBuffer", -200077, 1);
    const auto refused = execute("configure", oneBlock);
    EXPECT_EQ(refused.error.rfind("Failed to configure input buffer: DAQmx error -200077: ", 0), 0u)
        << refused.error;
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);

    // A size that cannot be read is set all the same.
    DAQmxSim_FailCall("DAQmxGetBufInputBufSize", -200077, 1);
    EXPECT_EQ(
        configure({{"samples_per_channel", "100"}}).data.at("input_buffer_samples_per_channel"),
        "200");
}

TEST_F(ReadbackAndFaultsTest, ChannelsRangesAndTheExactRateAreReportedAsTheDriverHasThem) {
    auto result = configure(
        {{"ai_channels", "Dev1/ai2:3"}, {"voltage_range_min", "-0.5"}, {"voltage_range_max", "1"}});
    EXPECT_EQ(result.data.at("ai_physical_channels"), R"(["Dev1/ai2","Dev1/ai3"])");
    EXPECT_EQ(result.data.at("ai_voltage_ranges_v"), "[[-1.0,1.0],[-1.0,1.0]]")
        << "the smallest device range holding the request";

    // Dev2's coarse timebase grants 100 kHz / 30 for 3333 Hz.
    result = configure({{"ai_channels", "Dev2/ai0"},
                        {"voltage_range_min", "-10"},
                        {"voltage_range_max", "10"},
                        {"sample_clock_rate_hz", "3333"}});
    EXPECT_EQ(result.data.at("achieved_sample_rate_hz_exact"), shortest(100e3 / 30));
    EXPECT_EQ(result.data.at("achieved_sample_rate_hz"), "3333.333333");
    EXPECT_EQ(result.data.at("ai_voltage_ranges_v"), "[[-10.0,10.0]]");

    EXPECT_EQ(configure({{"sample_mode", "ON_DEMAND"}}).data.at("achieved_sample_rate_hz_exact"),
              "0");
}

TEST_F(ReadbackAndFaultsTest, ReadBackThatFailsLeavesItsKeyOutWithOneWarning) {
    const struct {
        const char* failing;
        bool channels, ranges;
    } cases[] = {
        {"DAQmxGetNthTaskChannel", false, false},
        {"DAQmxGetAIRngLow", true, false},
        {"DAQmxGetAIRngHigh", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        DAQmxSim_FailCall(c.failing, -200077, 1);
        test_support::StderrCapture capture;
        const auto result = configure({{"ai_channels", "Dev1/ai0:2"}});
        EXPECT_EQ(result.data.count("ai_physical_channels"), c.channels ? 1u : 0u);
        EXPECT_EQ(result.data.count("ai_voltage_ranges_v"), c.ranges ? 1u : 0u);
        EXPECT_EQ(result.data.at("n_channels"), "3");
        std::size_t warnings = 0;
        for (const auto& line : capture.lines()) {
            warnings += line.rfind("[ni-usb-daq W] ", 0) == 0 &&
                        line.find("DAQmx error -200077") != std::string::npos;
        }
        EXPECT_EQ(warnings, 1u) << capture.text();
    }
}

TEST_F(ReadbackAndFaultsTest, OneBlockPerSecondStreamsUnderALateReader) {
    // 10k blocks at 10 kS/s, ten times faster than real time: 100 ms per
    // block, and a subscriber that takes 30 ms with each. With a buffer of
    // one block the first late read would lose the acquisition.
    DAQmxSim_SetTimeScale(10.0);
    Subscriber late(std::chrono::milliseconds(30));
    stub->subscribe("analog_input", "stream", late.callback());
    configure({{"sample_clock_rate_hz", "10k"}, {"samples_per_channel", "10k"}});
    ASSERT_TRUE(execute("start_stream").success);
    EXPECT_TRUE(late.waitFor(4, false));
    ASSERT_TRUE(execute("stop_stream").success);
    EXPECT_TRUE(late.errors().empty()) << late.errors().front().message;
}

TEST_F(ReadbackAndFaultsTest, FiniteStreamWaitingForEverStopsWithin150ms) {
    DAQmxSim_SetTimeScale(1.0);
    Subscriber subscriber;
    stub->subscribe("analog_input", "stream", subscriber.callback());
    configure({{"sample_mode", "FINITE"},
               {"sample_clock_rate_hz", "1000"},
               {"samples_per_channel", "1000"},
               {"read_timeout_s", "-1"}});
    ASSERT_TRUE(execute("start_stream").success);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (DAQmxSim_CallCount("DAQmxGetReadAvailSampPerChan") < 2 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(execute("stop_stream").success);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(150));
    EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);
}

TEST_F(ReadbackAndFaultsTest, ResetUnderAWaitingStreamEndsItWithTheResetStatus) {
    // One-second blocks waited for without end: only the reset can end the wait.
    DAQmxSim_SetTimeScale(1.0);
    Subscriber subscriber;
    stub->subscribe("analog_input", "stream", subscriber.callback());
    configure({{"samples_per_channel", "1000"}, {"read_timeout_s", "-1"}});
    ASSERT_TRUE(execute("start_stream").success);
    while (DAQmxSim_CallCount("DAQmxGetReadAvailSampPerChan") < 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(DAQmxResetDevice("Dev1"), 0);
    ASSERT_TRUE(subscriber.waitFor(0, true));
    expectEndedWith(subscriber, -88709);
    ASSERT_TRUE(execute("stop_stream").success);

    DAQmxSim_SetTimeScale(0.0);
    configure({{"samples_per_channel", "10"}});
    ASSERT_TRUE(execute("start_stream").success);
    EXPECT_TRUE(subscriber.waitFor(3, false));
    ASSERT_TRUE(execute("stop_stream").success);
    EXPECT_EQ(subscriber.errors().size(), 1u);
}

TEST_F(ReadbackAndFaultsTest, ScheduledFaultsEndTheStreamOnceAndANewStreamWorksAfterwards) {
    // Unpaced, simulated time moves by the samples delivered: 100-sample
    // blocks at 1 kS/s are 0.1 s each, so an event at 0.45 s comes after the
    // fifth block, whatever the machine's speed.
    const struct {
        const char* event;
        int32 status;
        const char* afterwards;  // events that bring the device back
    } cases[] = {
        {"unplug", -50405, R"([{"at_s": 0, "device": "Dev1", "event": "replug"}])"},
        {"transfer_abort", -50405, "[]"},
        {"reset", -88709, "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        DAQmxSim_Reset();
        DAQmxSim_SetTimeScale(0.0);
        stub = test_support::createStub();
        stub->connect();
        Subscriber subscriber;
        stub->subscribe("analog_input", "stream", subscriber.callback());
        configure({{"sample_clock_rate_hz", "1000"}, {"samples_per_channel", "100"}});
        const std::string schedule =
            std::string(R"([{"at_s": 0.45, "device": "Dev1", "event": ")") + c.event + "\"}]";
        ASSERT_EQ(DAQmxSim_ScheduleEventsJson(schedule.c_str()), 0);
        ASSERT_TRUE(execute("start_stream").success);
        ASSERT_TRUE(subscriber.waitFor(0, true));
        EXPECT_EQ(subscriber.frames(), 5u);
        expectEndedWith(subscriber, c.status);
        ASSERT_TRUE(execute("stop_stream").success);

        ASSERT_EQ(DAQmxSim_ScheduleEventsJson(c.afterwards), 0);
        DAQmxSim_AdvanceTime(0.001);
        stub->connect();
        configure({});
        ASSERT_TRUE(execute("start_stream").success);
        EXPECT_TRUE(subscriber.waitFor(8, false));
        ASSERT_TRUE(execute("stop_stream").success);
        EXPECT_EQ(subscriber.errors().size(), 1u);
        stub.reset();
    }
}

}  // namespace
