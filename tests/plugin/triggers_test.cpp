// Start and reference triggers through "configure", "read_finite" and the
// stream: where acquisition starts, what the driver refuses, what the result
// reads back, and that waiting for a trigger is not a failure.
#include <chrono>
#include <cstdio>
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
using nlohmann::json;

namespace {

void scheduleEdge(double at, const char* terminal) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.17g", at);
    const std::string events = R"([{"at_s": )" + std::string(seconds) +
                               R"(, "device": "Dev1", "event": "pfi_edge", "terminal": ")" +
                               terminal + R"(", "edge": "RISING"}])";
    ASSERT_EQ(DAQmxSim_ScheduleEventsJson(events.c_str()), 0);
}

class TriggersTest : public test_support::StubTest {
protected:
    TriggersTest() : StubTest("tr") {}

    static OperationParams finite(int samples, OperationParams more) {
        more.emplace("sample_mode", "FINITE");
        more.emplace("samples_per_channel", std::to_string(samples));
        return more;
    }
    void expectFailure(const std::string& operation, const OperationParams& params,
                       const std::string& prefix) {
        const auto result = execute(operation, params);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.error.rfind(prefix, 0), 0u) << result.error;
    }
    static void expectSamplesFrom(const json& frame, std::uint64_t first) {
        const auto& samples = frame.at("samples").at(0);
        for (std::size_t j = 0; j < samples.size(); ++j) {
            ASSERT_EQ(samples[j].get<double>(), DAQmxSim_ExpectedSample("Dev1/ai0", first + j))
                << j;
        }
    }
};

TEST_F(TriggersTest, ADigitalStartTriggerStartsAFiniteReadAtTheEdgeAndReadsBackWithTheSlash) {
    const auto configured =
        execute("configure", finite(100, {{"start_trigger_type", "DIGITAL_EDGE"},
                                          {"start_trigger_source", "Dev1/PFI0"},
                                          {"start_trigger_edge", "RISING"}}));
    ASSERT_TRUE(configured.success) << configured.error;
    EXPECT_EQ(configured.data.at("start_trigger"),
              R"({"edge":"RISING","source":"/Dev1/PFI0","type":"DIGITAL_EDGE"})");
    EXPECT_FALSE(configured.data.contains("reference_trigger"));

    scheduleEdge(DAQmxSim_SimulatedTime() + 0.25, "PFI0");
    const auto read = execute("read_finite");
    ASSERT_TRUE(read.success) << read.error;
    const json frame = json::parse(read.data.at("frame"));
    EXPECT_FALSE(frame.contains("pretrigger_samples"));
    EXPECT_EQ(frame.at("sample_count"), 100);
    expectSamplesFrom(frame, 250);
}

TEST_F(TriggersTest, ATriggerThatNeverComesFailsTheReadWithTheTimeoutAndNoSamples) {
    ASSERT_TRUE(execute("configure", finite(100, {{"start_trigger_type", "DIGITAL_EDGE"},
                                                  {"start_trigger_source", "/Dev1/PFI1"},
                                                  {"read_timeout_s", "0.5"}}))
                    .success);
    expectFailure("read_finite", {},
                  "DAQmxReadAnalogF64 failed: DAQmx error " +
                      std::to_string(DAQmxErrorSamplesNotYetAvailable));
}

TEST_F(TriggersTest, AReferenceTriggeredReadHoldsExactlyItsPretriggerSamplesBeforeTheEdge) {
    const auto configured =
        execute("configure", finite(1000, {{"reference_trigger_type", "DIGITAL_EDGE"},
                                           {"reference_trigger_source", "PFI2"},
                                           {"pretrigger_samples", "200"}}));
    ASSERT_TRUE(configured.success) << configured.error;
    const json reference = json::parse(configured.data.at("reference_trigger"));
    EXPECT_EQ(reference.at("type"), "DIGITAL_EDGE");
    EXPECT_EQ(reference.at("pretrigger_samples"), 200);

    scheduleEdge(DAQmxSim_SimulatedTime() + 0.5, "PFI2");
    const auto read = execute("read_finite");
    ASSERT_TRUE(read.success) << read.error;
    const json frame = json::parse(read.data.at("frame"));
    EXPECT_EQ(frame.at("pretrigger_samples"), 200);
    EXPECT_EQ(frame.at("sample_count"), 1000);
    expectSamplesFrom(frame, 500 - 200);
}

TEST_F(TriggersTest, WhatTheDeviceCannotDoIsRefusedAtConfigureWithTheDriversStatus) {
    expectFailure("configure",
                  finite(100, {{"start_trigger_type", "ANALOG_EDGE"},
                               {"start_trigger_source", "Dev1/ai0"},
                               {"analog_trigger_level_v", "0.5"}}),
                  "Failed to configure start trigger: DAQmx error " +
                      std::to_string(DAQmxErrorInvalidAttributeValue));
    expectFailure(
        "configure",
        finite(100, {{"start_trigger_type", "NONE"}, {"export_sample_clock_to", "Dev1/PFI0"}}),
        "Failed to export signal to /Dev1/PFI0: DAQmx error ");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
}

TEST_F(TriggersTest, AnUnknownTriggerTypeIsRefusedAndNothingIsStored) {
    const auto refused =
        execute("configure", {{"start_trigger_type", "SOMETIMES"}, {"samples_per_channel", "7"}});
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.error,
              "Invalid start_trigger_type: SOMETIMES (NONE, DIGITAL_EDGE, "
              "ANALOG_EDGE)");
    const auto rebuilt = execute("configure");
    ASSERT_TRUE(rebuilt.success) << rebuilt.error;
    EXPECT_EQ(rebuilt.data.at("samples_per_channel"), "100");
    EXPECT_FALSE(rebuilt.data.contains("start_trigger"));
}

TEST_F(TriggersTest, AStreamWithAReferenceTriggerIsRefusedWithTheDriversError) {
    const auto configured = execute("configure", {{"reference_trigger_type", "DIGITAL_EDGE"},
                                                  {"reference_trigger_source", "/Dev1/PFI0"},
                                                  {"pretrigger_samples", "10"}});
    if (configured.success) {
        expectFailure("start_stream", {},
                      "DAQmxStartTask failed: DAQmx error " +
                          std::to_string(DAQmxErrorRefTrigWhenContinuous));
    } else {
        EXPECT_NE(configured.error.find(std::to_string(DAQmxErrorRefTrigWhenContinuous)),
                  std::string::npos)
            << configured.error;
    }
}

TEST_F(TriggersTest, TheDeviceQueryNamesItsTriggersAndPfiTerminals) {
    const auto result = execute("query", {{"device_name", "Dev1"}});
    ASSERT_TRUE(result.success);
    const json triggers = json::parse(result.data.at("info")).at("triggers");
    EXPECT_EQ(triggers.at("start_trigger_types"), json({"DIGITAL_EDGE"}));
    EXPECT_EQ(triggers.at("reference_trigger_types"), json({"DIGITAL_EDGE"}));
    ASSERT_EQ(triggers.at("pfi_terminals").size(), 8u);
    EXPECT_EQ(triggers.at("pfi_terminals")[0], "/Dev1/PFI0");
    // A USB-6002 starts on an edge but has no reference trigger.
    const auto other = execute("query", {{"device_name", "Dev2"}});
    ASSERT_TRUE(other.success);
    const json its = json::parse(other.data.at("info")).at("triggers");
    EXPECT_EQ(its.at("start_trigger_types"), json({"DIGITAL_EDGE"}));
    EXPECT_EQ(its.at("reference_trigger_types"), json::array());
}

/// A triggered stream on a clock running ten times real time, its frames
/// and its error records collected.
class TriggeredStreamTest : public TriggersTest {
protected:
    void SetUp() override {
        TriggersTest::SetUp();
        DAQmxSim_SetTimeScale(10.0);
        DAQmxSim_SetRealism(0);  // the identifying sawtooth: every index its own value
        ASSERT_TRUE(execute("configure", {{"start_trigger_type", "DIGITAL_EDGE"},
                                          {"start_trigger_source", "/Dev1/PFI0"},
                                          {"samples_per_channel", "50"},
                                          {"read_timeout_s", "0.02"}})
                        .success);
        stub->subscribe("analog_input", "stream", [this](const DeviceState& state) {
            const std::lock_guard lock(mutex);
            (state.code == DeviceStateCode::Error ? errors : frames)
                .push_back(state.code == DeviceStateCode::Error ? state.message
                                                                : state.properties.at("frame"));
        });
    }
    std::mutex mutex;
    std::vector<std::string> frames;
    std::vector<std::string> errors;
};

TEST_F(TriggeredStreamTest, WaitsWithoutErrorsAndStartsAtTheEdge) {
    const double started = DAQmxSim_SimulatedTime();
    ASSERT_TRUE(execute("start_stream").success);
    scheduleEdge(started + 3.0, "PFI0");  // many read timeouts before it comes
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::lock_guard lock(mutex);
        if (!frames.empty() || !errors.empty()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(execute("stop_stream").success);
    const std::lock_guard lock(mutex);
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_FALSE(frames.empty());
    // The start was taken a moment before the task's own: allow a sample.
    const double first = json::parse(frames.front()).at("samples").at(0).at(0).get<double>();
    bool found = false;
    for (std::uint64_t index = 2999; index <= 3001; ++index) {
        found = found || first == DAQmxSim_ExpectedSample("Dev1/ai0", index);
    }
    EXPECT_TRUE(found) << "first sample " << first;
}

TEST_F(TriggeredStreamTest, AStopWhileWaitingReturnsPromptly) {
    ASSERT_TRUE(execute("start_stream").success);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(execute("stop_stream").success);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(150));
    const std::lock_guard lock(mutex);
    EXPECT_TRUE(frames.empty());
    EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
