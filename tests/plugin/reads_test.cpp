// "read_finite" and "read_single": refusals, the frame of a finite read and
// its buffer rules, and the temporary task of a single-point read.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::OperationParams;
using kra::device::OperationResult;
using nlohmann::json;

namespace {

double expectedSample(int channel, int sample, const char* device = "Dev1") {
    const std::string name = device + std::string("/ai") + std::to_string(channel);
    return DAQmxSim_ExpectedSample(name.c_str(), sample);
}

class ReadsTest : public test_support::StubTest {
protected:
    ReadsTest() : StubTest("rd") {}
    void configureFinite(const char* channels) {
        ASSERT_TRUE(execute("configure", {{"sample_mode", "FINITE"},
                                          {"samples_per_channel", "10"},
                                          {"ai_channels", channels}})
                        .success);
    }
    json readFrame(const OperationParams& params = {}) {
        const auto result = execute("read_finite", params);
        EXPECT_TRUE(result.success) << result.error;
        EXPECT_EQ(result.requestId, "rd");
        return result.success ? json::parse(result.data.at("frame")) : json::object();
    }
    /// Every inner array holds the first `count` simulated values of its channel.
    static void expectSamples(const json& frame, int channels, int count) {
        EXPECT_EQ(frame.at("sample_count"), count);
        ASSERT_EQ(frame.at("samples").size(), static_cast<std::size_t>(channels));
        for (int c = 0; c < channels; ++c) {
            ASSERT_EQ(frame.at("samples")[c].size(), static_cast<std::size_t>(count));
            for (int s = 0; s < count; ++s) {
                EXPECT_EQ(frame.at("samples")[c][s].get<double>(), expectedSample(c, s))
                    << "ai" << c << " sample " << s;
            }
        }
    }
    void expectFailure(const OperationParams& params, const std::string& operation,
                       const std::string& prefix) {
        const auto result = execute(operation, params);
        EXPECT_EQ(result.error.rfind(prefix, 0), 0u) << result.error;
        EXPECT_FALSE(result.success);
        EXPECT_TRUE(result.data.empty());
        EXPECT_EQ(result.requestId, "rd");
    }
};

TEST_F(ReadsTest, FiniteReadReturnsOneChannelsFirstFrameAndStopsTheTask) {
    ASSERT_TRUE(execute("configure", {{"sample_mode", "FINITE"},
                                      {"samples_per_channel", "10"},
                                      {"ai_channels", "Dev1/ai0:1"},
                                      {"digital_input_lines", "Dev1/port0/line0:3"}})
                    .success);
    const json frame = readFrame();
    EXPECT_EQ(frame.size(), 6u) << "never digital data: " << frame.dump();
    EXPECT_EQ(frame.at("sequence_no"), 0);
    EXPECT_EQ(frame.at("layout"), "channels_first");
    EXPECT_EQ(frame.at("n_channels"), 2);
    EXPECT_EQ(frame.at("timestamp_ns").get<std::int64_t>() % 100, 0);
    expectSamples(frame, 2, 10);
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    expectSamples(readFrame(), 2, 10);  // started afresh, so from sample 0 again
}

TEST_F(ReadsTest, RequestCountIsForOneReadAndTheDeliveredCountBoundsTheFrame) {
    configureFinite("Dev1/ai0:2");
    DAQmxSim_SetReadSampleCap(7);
    expectSamples(readFrame({{"samples_per_channel", "10"}}), 3, 7);  // 7 as stride too
    DAQmxSim_SetReadSampleCap(0);
    expectSamples(readFrame({{"samples_per_channel", "3"}}), 3, 3);
    expectSamples(readFrame({{"samples_per_channel", "junk"}}), 3, 10);
    expectSamples(readFrame(), 3, 10);
    // A driver reporting more than it was asked for must not make the frame
    // read past the buffer.
    DAQmxSim_SetReadCountSkew(1000);
    expectSamples(readFrame({{"samples_per_channel", "4"}}), 3, 4);
}

TEST_F(ReadsTest, UnusableRequestCountsAreRefusedBeforeTheDriverIsAsked) {
    configureFinite("Dev1/ai0:3");
    const auto calls = DAQmxSim_CallLogSize();
    expectFailure({{"samples_per_channel", "0"}}, "read_finite",
                  "Invalid samples_per_channel: 0 (must be 1 or more)");
    expectFailure({{"samples_per_channel", "-3"}}, "read_finite",
                  "Invalid samples_per_channel: -3 (must be 1 or more)");
    expectFailure({{"samples_per_channel", "2147483647"}}, "read_finite",
                  "Block too large: 2147483647 samples per channel x 4 channels exceeds the "
                  "limit of 134217728 samples");
    EXPECT_EQ(DAQmxSim_CallLogSize(), calls);
}

TEST_F(ReadsTest, FiniteReadFailuresCarryTheTextOfTheFailingCall) {
    configureFinite("Dev1/ai0");
    DAQmxSim_FailCall("DAQmxStartTask", -200479, 1);
    expectFailure({}, "read_finite", "DAQmxStartTask failed: DAQmx error -200479: ");
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxReadAnalogF64"), 0u);

    // The stop after the read fails as well: the message must still be the read's.
    DAQmxSim_FailCall("DAQmxReadAnalogF64", -200474, 1);
    DAQmxSim_FailCall("DAQmxStopTask", -200088, 1);
    const auto failed = execute("read_finite");
    EXPECT_EQ(failed.error.rfind("DAQmxReadAnalogF64 failed: DAQmx error -200474: ", 0), 0u);
    EXPECT_NE(failed.error.find("Function: DAQmxReadAnalogF64"), std::string::npos) << failed.error;
}

TEST_F(ReadsTest, RunningStreamRefusesFiniteReadsButLeavesSinglePointOnesToTheDriver) {
    ASSERT_TRUE(execute("configure", {{"ai_channels", "Dev1/ai0"}}).success);
    ASSERT_TRUE(execute("start_stream").success);
    expectFailure({}, "read_finite", "Cannot read_finite while streaming. Call stop_stream first.");
    EXPECT_TRUE(execute("read_single", {{"ai_channels", "Dev2/ai0"}}).success);
    expectFailure({}, "read_single", "DAQmxReadAnalogF64 (single) failed: DAQmx error -");
    ASSERT_TRUE(execute("stop_stream").success);
}

TEST_F(ReadsTest, SinglePointReadUsesStoredDefaultsAndATemporaryTask) {
    const auto result = execute("read_single");
    ASSERT_TRUE(result.success) << result.error;
    ASSERT_EQ(result.data.size(), 3u);
    EXPECT_EQ(result.data.at("n_channels"), "1");
    // No sample clock: the value of the signal now, at the on-demand rate of 1 kS/s.
    const auto now = [] { return static_cast<int>(std::floor(DAQmxSim_SimulatedTime() * 1000)); };
    EXPECT_EQ(json::parse(result.data.at("samples")), json::array({expectedSample(0, now())}));
    EXPECT_EQ(std::stoll(result.data.at("timestamp_ns")) % 100, 0);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxStopTask"), 0u) << "cleared, never stopped";

    // Differential inputs need their pair: Dev2 has them on ai0 to ai3.
    const auto other = execute("read_single", {{"ai_channels", "Dev2/ai1:3"},
                                               {"voltage_range_min", "-1"},
                                               {"voltage_range_max", "1"},
                                               {"terminal_config", "DIFF"},
                                               {"read_timeout_s", "2"}});
    ASSERT_TRUE(other.success) << other.error;
    EXPECT_EQ(other.data.at("n_channels"), "3");
    EXPECT_EQ(json::parse(other.data.at("samples"))[2], expectedSample(3, now(), "Dev2"));
    EXPECT_EQ(execute("configure").data.at("ai_channels"), "Dev1/ai0") << "nothing was stored";
}

TEST_F(ReadsTest, SinglePointFailuresClearTheTemporaryTask) {
    DAQmxSim_FailCall("DAQmxGetTaskNumChans", -200077, 1);
    const auto uncounted = execute("read_single");
    EXPECT_EQ(uncounted.data.at("samples"), "[]");
    EXPECT_EQ(uncounted.data.at("n_channels"), "0");

    DAQmxSim_FailCall("DAQmxCreateTask", -200088, 1);
    expectFailure({}, "read_single", "DAQmxCreateTask failed: DAQmx error -200088: ");
    expectFailure({{"ai_channels", "Dev1/ai99"}}, "read_single",
                  "Add channel failed: DAQmx error -");
    DAQmxSim_FailCall("DAQmxReadAnalogF64", -200474, 1);
    expectFailure({}, "read_single", "DAQmxReadAnalogF64 (single) failed: DAQmx error -200474: ");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxStopTask"), 0u);
}

}  // namespace

TEST_F(ReadsTest, SignalsBeyondTheRangeClipAndNarrowerRangesShowFinerSteps) {
    // ai0: a 5 V sine; ai1: 0.1 V with 1 mV of noise, which spreads its
    // readings over neighbouring codes.
    test_support::TempDir dir;
    const std::string rig = dir.write("rig.json", R"({"devices": [{"name": "Dev1",
        "product_type": "USB-6211", "ai_channels": 2, "ai_max_single_chan_rate_hz": 250000,
        "ai_max_multi_chan_rate_hz": 250000, "ai_voltage_ranges": [[-10, 10], [-1, 1]],
        "ai_signals": {"ai0": {"kind": "sine", "amplitude": 5, "frequency_hz": 50},
                       "ai1": {"kind": "constant", "offset": 0.1, "noise_rms": 0.001}}}]})");
    ASSERT_EQ(DAQmxSim_LoadDevices(rig.c_str()), 0);
    struct Reading {
        double low = 0.0, high = 0.0, smallestStep = 1e9;
    };
    const auto readWithin = [&](const char* low, const char* high) {
        const auto configured = execute("configure", {{"ai_channels", "Dev1/ai0:1"},
                                                      {"sample_mode", "FINITE"},
                                                      {"samples_per_channel", "1000"},
                                                      {"voltage_range_min", low},
                                                      {"voltage_range_max", high}});
        EXPECT_TRUE(configured.success) << configured.error;
        const auto read = execute("read_finite");
        EXPECT_TRUE(read.success) << read.error;
        const json samples = json::parse(read.data.at("frame")).at("samples");
        std::vector<double> sine = samples[0], noisy = samples[1];
        for (std::size_t i = 0; i < sine.size(); ++i) {
            EXPECT_EQ(sine[i], DAQmxSim_ExpectedSample("Dev1/ai0", i)) << i;
        }
        Reading reading;
        reading.low = *std::min_element(sine.begin(), sine.end());
        reading.high = *std::max_element(sine.begin(), sine.end());
        std::sort(noisy.begin(), noisy.end());
        for (std::size_t i = 1; i < noisy.size(); ++i) {
            if (noisy[i] > noisy[i - 1]) {
                reading.smallestStep = std::min(reading.smallestStep, noisy[i] - noisy[i - 1]);
            }
        }
        return reading;
    };
    const double narrowCode = DAQmxSim_CodeWidth("Dev1/ai0", -1, 1);
    const double wideCode = DAQmxSim_CodeWidth("Dev1/ai0", -10, 10);
    const Reading narrow = readWithin("-1", "1");
    EXPECT_NEAR(narrow.low, -1.0, narrowCode) << "a 5 V sine reads as the range's limits";
    EXPECT_NEAR(narrow.high, 1.0 - narrowCode, narrowCode);
    EXPECT_NEAR(narrow.smallestStep, narrowCode, narrowCode / 2);
    const Reading wide = readWithin("-10", "10");
    EXPECT_NEAR(wide.low, -5.0, 0.05);
    EXPECT_NEAR(wide.high, 5.0, 0.05);
    EXPECT_NEAR(wide.smallestStep, wideCode, wideCode / 2);
}
