// Tasks as the plug-in builds them: the registry of live tasks, channel lists
// in the driver's syntax, range and terminal checks, and sample clock coercion.
#include <array>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

std::string extendedError() {
    std::array<char, 2048> text{};
    DAQmxGetExtendedErrorInfo(text.data(), static_cast<uInt32>(text.size()));
    return text.data();
}

class TaskConfiguration : public test_support::SimulatorTest {
protected:
    void TearDown() override {
        if (task != nullptr) {
            DAQmxClearTask(task);
        }
        SimulatorTest::TearDown();
    }
    int32 addAi(const char* channels, float64 min = -10.0, float64 max = 10.0,
                int32 terminal = DAQmx_Val_RSE) {
        return DAQmxCreateAIVoltageChan(task, channels, "", terminal, min, max, DAQmx_Val_Volts,
                                        nullptr);
    }
    uInt32 channelCount() {
        uInt32 count = 0;
        EXPECT_EQ(DAQmxGetTaskNumChans(task, &count), 0);
        return count;
    }
    double grantedRate(const char* channels, double requested) {
        EXPECT_EQ(addAi(channels), 0);
        EXPECT_EQ(DAQmxCfgSampClkTiming(task, nullptr, requested, DAQmx_Val_Rising,
                                        DAQmx_Val_ContSamps, 1000),
                  0);
        float64 rate = 0.0;
        EXPECT_EQ(DAQmxGetSampClkRate(task, &rate), 0);
        return rate;
    }
    void SetUp() override {
        SimulatorTest::SetUp();
        ASSERT_EQ(DAQmxCreateTask("", &task), 0);
    }

    TaskHandle task = nullptr;
};

TEST_F(TaskConfiguration, RegistryCountsLiveAndRunningTasks) {
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 1u);
    ASSERT_EQ(addAi("Dev1/ai0"), 0);
    EXPECT_EQ(DAQmxStopTask(task), 0);  // stopping an idle task is fine
    ASSERT_EQ(DAQmxStartTask(task), 0);
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 1u);
    ASSERT_EQ(DAQmxStopTask(task), 0);
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    ASSERT_EQ(DAQmxStartTask(task), 0);  // a stopped task starts again
    ASSERT_EQ(DAQmxClearTask(task), 0);  // clearing a running task releases it
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);

    EXPECT_EQ(DAQmxClearTask(task), -200088);  // the handle is stale now
    EXPECT_EQ(DAQmxStartTask(task), -200088);
    EXPECT_NE(extendedError().find("Task specified is invalid or does not exist"),
              std::string::npos);
    task = nullptr;
}

TEST_F(TaskConfiguration, StartWithoutChannelsFails) {
    EXPECT_LT(DAQmxStartTask(task), 0);
}

TEST_F(TaskConfiguration, NamesAreUniqueAndGeneratedWhenEmpty) {
    TaskHandle named = nullptr;
    TaskHandle clash = nullptr;
    TaskHandle unnamed = nullptr;
    ASSERT_EQ(DAQmxCreateTask("ai", &named), 0);
    EXPECT_LT(DAQmxCreateTask("ai", &clash), 0);
    EXPECT_EQ(clash, nullptr);
    ASSERT_EQ(DAQmxCreateTask("", &unnamed), 0);
    EXPECT_NE(unnamed, task);
    DAQmxClearTask(named);
    DAQmxClearTask(unnamed);
}

TEST_F(TaskConfiguration, ChannelListsExpandRangesAndCommaLists) {
    ASSERT_EQ(addAi("Dev1/ai0:3"), 0);
    EXPECT_EQ(channelCount(), 4u);
    ASSERT_EQ(addAi(" Dev1/ai7 , Dev1/ai5:4"), 0);
    EXPECT_EQ(channelCount(), 7u);
    EXPECT_LT(addAi("Dev1/ai2"), 0) << "a channel already in the task";
    EXPECT_EQ(addAi("Dev1/ai16"), -200170);
    EXPECT_EQ(addAi("Dev7/ai0"), -200220);
    EXPECT_LT(addAi("Dev1/ai0:"), 0);
    EXPECT_LT(addAi(""), 0);
    EXPECT_EQ(channelCount(), 7u) << "failed calls add nothing";
}

TEST_F(TaskConfiguration, RangesMustFitOneOfTheDeviceRanges) {
    EXPECT_EQ(addAi("Dev1/ai0", -0.1, 0.2), 0);
    EXPECT_EQ(addAi("Dev1/ai1", 0.0, 5.0), 0);
    EXPECT_EQ(addAi("Dev1/ai2", -10.5, 10.0), -200077);
    EXPECT_EQ(addAi("Dev1/ai2", 1.0, 1.0), -200077);
    EXPECT_EQ(addAi("Dev1/ai2", 2.0, 1.0), -200077);
    EXPECT_EQ(addAi("Dev1/ai2", NAN, 1.0), -200077);
    EXPECT_EQ(DAQmxCreateAIVoltageChan(task, "Dev1/ai2", "", DAQmx_Val_RSE, -1, 1, 12345, nullptr),
              -200077);
}

TEST_F(TaskConfiguration, TerminalConfigMustBeSupportedByTheChannel) {
    EXPECT_EQ(addAi("Dev2/ai0", -10, 10, DAQmx_Val_Diff), 0);
    EXPECT_EQ(addAi("Dev2/ai1", -10, 10, DAQmx_Val_NRSE), -200077);
    EXPECT_NE(extendedError().find("DAQmx_AI_TermCfg"), std::string::npos);
    EXPECT_EQ(addAi("Dev2/ai1", -10, 10, DAQmx_Val_PseudoDiff), -200077);
    EXPECT_EQ(addAi("Dev2/ai1", -10, 10, 4711), -200077);
}

TEST_F(TaskConfiguration, ChannelsOfOneTaskShareOneDeviceAndOneType) {
    ASSERT_EQ(addAi("Dev1/ai0"), 0);
    EXPECT_LT(addAi("Dev2/ai0"), 0);
    EXPECT_LT(DAQmxCreateDIChan(task, "Dev1/port0/line0", "", DAQmx_Val_ChanPerLine), 0);
}

TEST_F(TaskConfiguration, DigitalLinesAreOneChannelPerLine) {
    ASSERT_EQ(DAQmxCreateDIChan(task, "Dev1/port0/line0:3", "", DAQmx_Val_ChanPerLine), 0);
    EXPECT_EQ(channelCount(), 4u);
    EXPECT_EQ(DAQmxCreateDIChan(task, "Dev1/port0/line4", "", DAQmx_Val_ChanPerLine), -200170);
    TaskHandle port = nullptr;
    ASSERT_EQ(DAQmxCreateTask("", &port), 0);
    EXPECT_EQ(DAQmxCreateDIChan(port, "Dev2/port0", "", DAQmx_Val_ChanPerLine), 0);
    uInt32 lines = 0;
    EXPECT_EQ(DAQmxGetTaskNumChans(port, &lines), 0);
    EXPECT_EQ(lines, 8u);
    DAQmxClearTask(port);
}

TEST_F(TaskConfiguration, FineTimebaseCoercesSlightly) {
    const double rate = grantedRate("Dev1/ai0", 3333.0);
    EXPECT_DOUBLE_EQ(rate, 80e6 / std::round(80e6 / 3333.0));
    EXPECT_NE(rate, 3333.0);
    EXPECT_LT(std::abs(rate - 3333.0) / 3333.0, 0.005);
}

TEST_F(TaskConfiguration, CoarseTimebaseCoercesVisibly) {
    const double rate = grantedRate("Dev2/ai0", 30000.0);
    EXPECT_DOUBLE_EQ(rate, 100000.0 / 3.0);
    EXPECT_GT(std::abs(rate - 30000.0) / 30000.0, 0.005);
}

TEST_F(TaskConfiguration, AggregateRateIsLimitedByTheMultiChannelMaximum) {
    ASSERT_EQ(addAi("Dev1/ai0:1"), 0);
    EXPECT_EQ(
        DAQmxCfgSampClkTiming(task, nullptr, 125000.0, DAQmx_Val_Rising, DAQmx_Val_ContSamps, 1000),
        0);
    EXPECT_EQ(
        DAQmxCfgSampClkTiming(task, "", 125001.0, DAQmx_Val_Rising, DAQmx_Val_ContSamps, 1000),
        -200077);
    const std::string text = extendedError();
    EXPECT_NE(text.find("Requested Value: 125001"), std::string::npos) << text;
    EXPECT_NE(text.find("Maximum Value: 125000"), std::string::npos) << text;
    for (const double bad : {0.0, -5.0, double(INFINITY), double(NAN)}) {
        EXPECT_EQ(
            DAQmxCfgSampClkTiming(task, nullptr, bad, DAQmx_Val_Rising, DAQmx_Val_ContSamps, 1000),
            -200077)
            << bad;
    }
}

TEST_F(TaskConfiguration, ExternalClockAndForcedRateReportTheirOwnRate) {
    ASSERT_EQ(addAi("Dev2/ai0"), 0);
    ASSERT_EQ(DAQmxCfgSampClkTiming(task, "/Dev2/PFI0", 30000.0, DAQmx_Val_Falling,
                                    DAQmx_Val_FiniteSamps, 10),
              0);
    float64 rate = 0.0;
    ASSERT_EQ(DAQmxGetSampClkRate(task, &rate), 0);
    EXPECT_EQ(rate, 30000.0);

    DAQmxSim_ForceSampleClockRate(1234.5);
    ASSERT_EQ(
        DAQmxCfgSampClkTiming(task, nullptr, 1000.0, DAQmx_Val_Rising, DAQmx_Val_ContSamps, 10), 0);
    ASSERT_EQ(DAQmxGetSampClkRate(task, &rate), 0);
    EXPECT_EQ(rate, 1234.5);
}

TEST_F(TaskConfiguration, OnDemandTaskHasNoClockRate) {
    ASSERT_EQ(addAi("Dev1/ai0"), 0);
    float64 rate = 99.0;
    EXPECT_LT(DAQmxGetSampClkRate(task, &rate), 0);
    EXPECT_EQ(rate, 99.0);
}

TEST_F(TaskConfiguration, SecondRunningAnalogTaskOnOneDeviceIsRefused) {
    ASSERT_EQ(addAi("Dev1/ai0"), 0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    TaskHandle other = nullptr;
    ASSERT_EQ(DAQmxCreateTask("", &other), 0);
    ASSERT_EQ(DAQmxCreateAIVoltageChan(other, "Dev1/ai1", "", DAQmx_Val_RSE, -10, 10,
                                       DAQmx_Val_Volts, nullptr),
              0);
    EXPECT_EQ(DAQmxStartTask(other), DAQmxErrorPALResourceReserved);
    DAQmxClearTask(other);
}

}  // namespace
