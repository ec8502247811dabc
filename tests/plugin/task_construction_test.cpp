// Task construction behind "configure": terminal configurations, the sample
// clock and its report line, and every failure leaving no task behind.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using kra::device::OperationParams;
using kra::device::OperationResult;

namespace {

class TaskConstructionTest : public test_support::SimulatorTest {
protected:
    // The stub goes first: the fixture checks that it left no task behind.
    void TearDown() override {
        stub.reset();
        SimulatorTest::TearDown();
    }
    OperationResult configure(const OperationParams& params) {
        return stub->execute("analog_input", "configure", params, "tc");
    }
    /// A failed configure: `prefix`, then the driver error text; no task left.
    void expectBuildFailure(const OperationParams& params, const std::string& prefix) {
        const auto result = configure(params);
        EXPECT_TRUE(result.data.empty());
        EXPECT_EQ(result.error.rfind(prefix + "DAQmx error -", 0), 0u) << result.error;
        EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
        EXPECT_EQ(stub->execute("analog_input", "start_stream", {}, "").error,
                  "Not configured. Call configure first.");
    }
    /// Arms a failure for the `nth` call of `function` that a configure with
    /// `params` makes next, located by a dry run on another stub.
    static void failNthCallOfConfigure(const OperationParams& params, const char* function,
                                       int nth) {
        const uInt32 start = DAQmxSim_CallLogSize();
        ASSERT_TRUE(
            test_support::createStub()->execute("analog_input", "configure", params, "").success);
        for (uInt32 i = start; i < DAQmxSim_CallLogSize(); ++i) {
            if (std::string(function) == DAQmxSim_CallLogEntry(i) && nth-- == 0) {
                DAQmxSim_FailCallAtPosition(DAQmxSim_CallLogSize() + (i - start), -200088);
                return;
            }
        }
        FAIL() << function << " not called";
    }

    test_support::StubPtr stub = test_support::createStub();
};

TEST_F(TaskConstructionTest, TerminalConfigurationTextsMapExactly) {
    // Dev2 has RSE and differential inputs only; Dev1 all but pseudo-differential.
    for (const char* accepted : {"DIFF", "Differential", "DIFFERENTIAL", "RSE", "nrse", ""}) {
        EXPECT_TRUE(configure({{"ai_channels", "Dev2/ai0"}, {"terminal_config", accepted}}).success)
            << accepted;
    }
    expectBuildFailure({{"terminal_config", "NRSE"}}, "Failed to add AI voltage channel: ");
    EXPECT_TRUE(configure({{"ai_channels", "Dev1/ai0"}}).success);
    for (const char* pseudo : {"PseudoDifferential", "PSEUDO_DIFF", "PSEUDODIFFERENTIAL"}) {
        expectBuildFailure({{"terminal_config", pseudo}}, "Failed to add AI voltage channel: ");
    }
    EXPECT_TRUE(configure({{"terminal_config", "pseudo_diff"}}).success);
}

TEST_F(TaskConstructionTest, SampleClockLineReportsDriftAndMarksCoercion) {
    const std::string head = "[ni-usb-daq] sample clock: requested=";
    const struct {
        const char* requested;
        double granted;  // 0: what the device grants itself
        std::string line;
    } cases[] = {
        {"100", 0.0, head + "100.000000 Hz achieved=100.000000 Hz (drift=0.000000%)"},
        {"100", 101.0,
         head + "100.000000 Hz achieved=101.000000 Hz (drift=1.000000%) *** COERCED ***"},
        {"1000", 1005.0, head + "1000.000000 Hz achieved=1005.000000 Hz (drift=0.500000%)"},
        {"1000", 1005.001,
         head + "1000.000000 Hz achieved=1005.001000 Hz (drift=0.500100%) *** COERCED ***"},
        // Below 1 Hz the drift is taken against 1 Hz.
        {"0.5", 0.504, head + "0.500000 Hz achieved=0.504000 Hz (drift=0.400000%)"},
    };
    for (const auto& c : cases) {
        DAQmxSim_ForceSampleClockRate(c.granted);
        test_support::StderrCapture capture;
        ASSERT_TRUE(configure({{"sample_clock_rate_hz", c.requested}}).success);
        EXPECT_EQ(capture.text(), c.line + "\n");
    }
}

TEST_F(TaskConstructionTest, FailedRateQueryFallsBackToTheRequestedRate) {
    DAQmxSim_FailCall("DAQmxGetSampClkRate", -200452, 1);
    test_support::StderrCapture capture;
    const auto result = configure({{"sample_clock_rate_hz", "2000"}});
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.data.at("achieved_sample_rate_hz"), "2000.000000");
    EXPECT_EQ(capture.text(),
              "[ni-usb-daq] sample clock: DAQmxGetSampClkRate failed (status=-200452), falling "
              "back to requested=2000.000000 Hz\n");
}

TEST_F(TaskConstructionTest, EachStepFailureHasItsPrefixAndTheTextOfThatFailure) {
    const char* const cases[][2] = {
        {"DAQmxCreateTask", ""},  // the bare driver text
        {"DAQmxCreateAIVoltageChan", "Failed to add AI voltage channel: "},
        {"DAQmxCfgSampClkTiming", "Failed to configure sample clock: "},
        {"DAQmxGetTaskNumChans", "Failed to query task channel count: "},
    };
    for (const auto& [function, prefix] : cases) {
        DAQmxSim_FailCall(function, -200077, 1);
        const auto result = configure({});
        EXPECT_EQ(result.error.rfind(std::string(prefix) + "DAQmx error -200077: ", 0), 0u)
            << result.error;
        EXPECT_NE(result.error.find(std::string("Function: ") + function), std::string::npos)
            << result.error;
        EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
        ASSERT_TRUE(configure({}).success) << "the script was for one call only";
    }
}

TEST_F(TaskConstructionTest, DigitalTaskIsBuiltAlongsideAndItsFailuresTakeBothTasks) {
    const OperationParams lines{{"digital_input_lines", "Dev1/port0/line0:3"}};
    ASSERT_TRUE(configure(lines).success);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 2u);
    expectBuildFailure({{"digital_input_lines", "Dev1/port7/line0"}},
                       "Failed to add DI channels (Dev1/port7/line0): ");
    failNthCallOfConfigure(lines, "DAQmxCreateTask", 1);
    expectBuildFailure(lines, "Failed to create DI task: ");

    // Only the digital line count may fail without failing the build.
    failNthCallOfConfigure(lines, "DAQmxGetTaskNumChans", 1);
    EXPECT_TRUE(configure(lines).success);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 2u);
}

TEST_F(TaskConstructionTest, BlockAboveTheSampleLimitIsRefusedWithNoTaskLeft) {
    // No clock, so that only the block size can object.
    const auto result = configure({{"sample_mode", "ON_DEMAND"},
                                   {"ai_channels", "Dev1/ai0:3"},
                                   {"samples_per_channel", "200000000"}});
    EXPECT_EQ(result.error,
              "Block too large: 200000000 samples per channel x 4 channels exceeds the limit of "
              "134217728 samples");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_TRUE(configure({{"samples_per_channel", "33554432"}}).success) << "exactly the limit";
}

}  // namespace
