// The failure scripts and the call log that the plug-in's tests steer by, and
// the buffer-size rules of string and array properties as the plug-in reads them.
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

int32 productNum() {
    uInt32 number = 0;
    return DAQmxGetDevProductNum("Dev1", &number);
}

using Scripting = test_support::SimulatorTest;
using DeviceProperties = test_support::SimulatorTest;

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
    const std::vector<int32> threeTimes = {productNum(), productNum(), productNum(), productNum()};
    EXPECT_EQ(threeTimes, (std::vector<int32>{-1, -1, -1, 0}));

    DAQmxSim_FailCall("DAQmxGetDevProductNum", 50, -1);  // a warning counts too
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(productNum(), 50);
    }
    DAQmxSim_FailCall("DAQmxGetDevProductNum", -2, 1);
    EXPECT_EQ(productNum(), -2);
    EXPECT_EQ(productNum(), 0) << "the later script replaced the endless one";

    DAQmxSim_FailCallAtPosition(DAQmxSim_CallLogSize() + 2, -200777);
    const std::vector<int32> atPosition = {productNum(), productNum(), productNum(), productNum()};
    EXPECT_EQ(atPosition, (std::vector<int32>{0, 0, -200777, 0}));
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
}

TEST_F(Scripting, ResetForgetsScriptsTasksOverridesAndTheLog) {
    DAQmxSim_FailCall("DAQmxGetDevProductNum", -1, -1);
    DAQmxSim_SetDevicePresent("Dev1", 0);
    TaskHandle task = nullptr;
    ASSERT_EQ(DAQmxCreateTask("", &task), 0);
    DAQmxSim_Reset();
    DAQmxSim_SetTimeScale(0.0);
    EXPECT_EQ(DAQmxSim_CallLogSize(), 0u);
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxCreateTask"), 0u);
    EXPECT_EQ(productNum(), 0);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(DAQmxClearTask(task), -200088) << "handles from before a reset are stale";
}

TEST_F(DeviceProperties, StringsGiveTheirSizeForNoBufferAndLeaveATooSmallOneUntouched) {
    EXPECT_EQ(DAQmxGetDevProductType("Dev1", nullptr, 0), 9);  // "USB-6211" and its zero
    EXPECT_EQ(DAQmxGetSysDevNames(nullptr, 0), 11);            // "Dev1, Dev2"
    std::array<char, 9> text{};
    text.fill('x');
    EXPECT_EQ(DAQmxGetDevProductType("Dev1", text.data(), 8), DAQmxErrorBufferTooSmallForString);
    EXPECT_EQ(std::string(text.data(), 9), "xxxxxxxxx");
    ASSERT_EQ(DAQmxGetDevProductType("Dev1", text.data(), 9), 0);
    EXPECT_STREQ(text.data(), "USB-6211");
}

TEST_F(DeviceProperties, VoltageRangesFillPairsAndLeaveTheRest) {
    EXPECT_EQ(DAQmxGetDevAIVoltageRngs("Dev1", nullptr, 0), 8);
    std::vector<float64> ranges(64, 7.0);
    EXPECT_LT(DAQmxGetDevAIVoltageRngs("Dev1", ranges.data(), 7), 0);
    EXPECT_EQ(ranges[0], 7.0);
    ASSERT_EQ(DAQmxGetDevAIVoltageRngs("Dev1", ranges.data(), 64), 0);
    ranges.resize(9);
    EXPECT_EQ(ranges, (std::vector<float64>{-10, 10, -5, 5, -1, 1, -0.2, 0.2, 7.0}));
}

TEST_F(DeviceProperties, ExtendedErrorTextIsCutToFit) {
    uInt32 number = 0;
    ASSERT_LT(DAQmxGetDevProductNum("DevA", &number), 0);
    std::array<char, 2048> full{};
    DAQmxGetExtendedErrorInfo(full.data(), static_cast<uInt32>(full.size()));
    const std::string mine = full.data();
    EXPECT_EQ(DAQmxGetExtendedErrorInfo(nullptr, 0), static_cast<int32>(mine.size() + 1));
    std::array<char, 6> cut{};
    cut.fill('x');
    EXPECT_EQ(DAQmxGetExtendedErrorInfo(cut.data(), 6), 0);
    EXPECT_EQ(std::string(cut.data()), mine.substr(0, 5));
}

}  // namespace
