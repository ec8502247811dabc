// The failure scripts and the call log that the plug-in's tests steer by.
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

int32 productNum() {
    uInt32 number = 0;
    return DAQmxGetDevProductNum("Dev1", &number);
}

using Scripting = test_support::SimulatorTest;

TEST_F(Scripting, FailCallOnceNTimesForeverAndReplaced) {
    DAQmxSim_FailCall("DAQmxGetDevProductNum", -200555, 1);
    uInt32 number = 7;
    EXPECT_EQ(DAQmxGetDevProductNum("Dev1", &number), -200555);
    EXPECT_EQ(number, 7u) << "outputs are not written";
    std::array<char, 2048> text{};
    DAQmxGetExtendedErrorInfo(text.data(), static_cast<uInt32>(text.size()));
    EXPECT_NE(std::string(text.data()).find("-200555"), std::string::npos);
    EXPECT_EQ(productNum(), 0);

    DAQmxSim_FailCall("DAQmxGetDevProductNum", -1, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(productNum(), -1);
    }
    EXPECT_EQ(productNum(), 0);

    DAQmxSim_FailCall("DAQmxGetDevProductNum", 50, -1);  // a warning counts too
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(productNum(), 50);
    }
    DAQmxSim_FailCall("DAQmxGetDevProductNum", -2, 1);
    EXPECT_EQ(productNum(), -2);
    EXPECT_EQ(productNum(), 0) << "the later script replaced the endless one";
}

TEST_F(Scripting, CallLogAndCountsFollowEveryCall) {
    productNum();
    TaskHandle task = nullptr;
    ASSERT_EQ(DAQmxCreateTask("", &task), 0);
    DAQmxSim_FailCall("DAQmxClearTask", -5, 1);
    EXPECT_EQ(DAQmxClearTask(task), -5);
    ASSERT_EQ(DAQmxClearTask(task), 0);

    ASSERT_EQ(DAQmxSim_CallLogSize(), 4u);
    EXPECT_STREQ(DAQmxSim_CallLogEntry(0), "DAQmxGetDevProductNum");
    EXPECT_STREQ(DAQmxSim_CallLogEntry(1), "DAQmxCreateTask");
    EXPECT_STREQ(DAQmxSim_CallLogEntry(3), "DAQmxClearTask");
    EXPECT_EQ(DAQmxSim_CallLogEntry(4), nullptr);
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxClearTask"), 2u) << "scripted failures count";
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxStartTask"), 0u);

    DAQmxSim_Reset();
    EXPECT_EQ(DAQmxSim_CallLogSize(), 0u);
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxClearTask"), 0u);
}

TEST_F(Scripting, FailAtPositionHitsExactlyThatCallOnce) {
    DAQmxSim_FailCallAtPosition(2, -200777);
    EXPECT_EQ(productNum(), 0);
    EXPECT_EQ(productNum(), 0);
    EXPECT_EQ(productNum(), -200777);
    EXPECT_EQ(productNum(), 0);
}

TEST_F(Scripting, ResetForgetsScriptsTasksAndOverrides) {
    DAQmxSim_FailCall("DAQmxGetDevProductNum", -1, -1);
    DAQmxSim_SetDevicePresent("Dev1", 0);
    TaskHandle task = nullptr;
    ASSERT_EQ(DAQmxCreateTask("", &task), 0);
    DAQmxSim_Reset();
    DAQmxSim_SetTimeScale(0.0);
    EXPECT_EQ(productNum(), 0);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(DAQmxClearTask(task), -200088) << "handles from before a reset are stale";
}

}  // namespace
