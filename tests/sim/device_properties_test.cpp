// Device properties as the plug-in reads them: buffer-size rules of string and
// array properties, and the statuses and per-thread error texts of failures.
#include <array>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

std::string extendedError() {
    std::array<char, 2048> text{};
    DAQmxGetExtendedErrorInfo(text.data(), static_cast<uInt32>(text.size()));
    return text.data();
}

using DeviceProperties = test_support::SimulatorTest;

TEST_F(DeviceProperties, StringPropertyReportsNeededSizeForZeroBuffer) {
    EXPECT_EQ(DAQmxGetDevProductType("Dev1", nullptr, 0), 9);  // "USB-6211" and its zero
    EXPECT_EQ(DAQmxGetSysDevNames(nullptr, 0), 11);            // "Dev1, Dev2"
}

TEST_F(DeviceProperties, TooSmallBufferFailsAndStaysUntouched) {
    std::array<char, 8> exact{};
    exact.fill('x');
    EXPECT_EQ(DAQmxGetDevProductType("Dev1", exact.data(), 8), DAQmxErrorBufferTooSmallForString);
    EXPECT_EQ(std::string(exact.data(), 8), "xxxxxxxx");

    std::array<char, 9> fits{};
    fits.fill('x');
    ASSERT_EQ(DAQmxGetDevProductType("Dev1", fits.data(), 9), 0);
    EXPECT_STREQ(fits.data(), "USB-6211");
}

TEST_F(DeviceProperties, DescribeTheBuiltInRig) {
    std::array<char, 4096> names{};
    ASSERT_EQ(DAQmxGetSysDevNames(names.data(), 4096), 0);
    EXPECT_STREQ(names.data(), "Dev1, Dev2");
    ASSERT_EQ(DAQmxGetDevAIPhysicalChans("Dev2", names.data(), 4096), 0);
    EXPECT_STREQ(names.data(),
                 "Dev2/ai0, Dev2/ai1, Dev2/ai2, Dev2/ai3, Dev2/ai4, Dev2/ai5, Dev2/ai6, Dev2/ai7");

    uInt32 serial = 0;
    bool32 simulated = 0;
    float64 single = 0.0;
    ASSERT_EQ(DAQmxGetDevSerialNum("Dev1", &serial), 0);
    ASSERT_EQ(DAQmxGetDevIsSimulated("Dev1", &simulated), 0);
    ASSERT_EQ(DAQmxGetDevAIMaxSingleChanRate("Dev2", &single), 0);
    EXPECT_EQ(serial, 0x1A2B3C4Du);
    EXPECT_EQ(simulated, 1u);
    EXPECT_EQ(single, 50000.0);

    int32 bits = 0;
    ASSERT_EQ(DAQmxGetPhysicalChanAITermCfgs("Dev1/ai15", &bits), 0);
    EXPECT_EQ(bits,
              DAQmx_Val_Bit_TermCfg_RSE | DAQmx_Val_Bit_TermCfg_NRSE | DAQmx_Val_Bit_TermCfg_Diff);
    ASSERT_EQ(DAQmxGetPhysicalChanAITermCfgs("Dev2/ai0", &bits), 0);
    EXPECT_EQ(bits, DAQmx_Val_Bit_TermCfg_RSE | DAQmx_Val_Bit_TermCfg_Diff);
}

TEST_F(DeviceProperties, VoltageRangesFillPairsAndLeaveTheRest) {
    EXPECT_EQ(DAQmxGetDevAIVoltageRngs("Dev1", nullptr, 0), 8);
    std::array<float64, 64> ranges{};
    ranges.fill(7.0);
    EXPECT_LT(DAQmxGetDevAIVoltageRngs("Dev1", ranges.data(), 7), 0);
    EXPECT_EQ(ranges[0], 7.0);
    ASSERT_EQ(DAQmxGetDevAIVoltageRngs("Dev1", ranges.data(), 64), 0);
    const std::array<float64, 9> expected{-10, 10, -5, 5, -1, 1, -0.2, 0.2, 7.0};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(ranges[i], expected[i]) << "element " << i;
    }
}

TEST_F(DeviceProperties, UnknownDeviceFailsWithATextNamingIt) {
    uInt32 number = 42;
    EXPECT_EQ(DAQmxGetDevProductNum("Dev9", &number), -200220);
    EXPECT_EQ(number, 42u);
    const std::string text = extendedError();
    EXPECT_NE(text.find("Device identifier is invalid."), std::string::npos) << text;
    EXPECT_NE(text.find("Dev9"), std::string::npos) << text;
    EXPECT_NE(text.find("-200220"), std::string::npos) << text;
}

TEST_F(DeviceProperties, UnknownChannelAndUnpluggedDeviceHaveTheirOwnStatuses) {
    int32 bits = 0;
    EXPECT_EQ(DAQmxGetPhysicalChanAITermCfgs("Dev2/ai8", &bits), -200170);
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev2", 0), 0);
    std::array<char, 256> type{};
    EXPECT_EQ(DAQmxGetDevProductType("Dev2", type.data(), 256), -201003);
    EXPECT_EQ(type[0], '\0');
    EXPECT_EQ(DAQmxSelfTestDevice("Dev2"), -201003);
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev2", 1), 0);
    EXPECT_EQ(DAQmxGetDevProductType("Dev2", type.data(), 256), 0);
    EXPECT_EQ(DAQmxSim_SetDevicePresent("Nope", 0), -200220);
}

TEST_F(DeviceProperties, ExtendedErrorTextIsPerThreadAndCutToFit) {
    uInt32 number = 0;
    ASSERT_LT(DAQmxGetDevProductNum("DevA", &number), 0);
    std::thread other([] {
        uInt32 n = 0;
        DAQmxGetDevProductNum("DevB", &n);
        EXPECT_NE(extendedError().find("DevB"), std::string::npos);
    });
    other.join();
    const std::string mine = extendedError();
    EXPECT_NE(mine.find("DevA"), std::string::npos) << mine;
    EXPECT_EQ(mine.find("DevB"), std::string::npos) << mine;

    EXPECT_EQ(DAQmxGetExtendedErrorInfo(nullptr, 0), static_cast<int32>(mine.size() + 1));
    std::array<char, 6> cut{};
    cut.fill('x');
    EXPECT_EQ(DAQmxGetExtendedErrorInfo(cut.data(), 6), 0);
    EXPECT_EQ(std::string(cut.data()), mine.substr(0, 5));
}

TEST_F(DeviceProperties, SelfTestReturnsTheScriptedStatus) {
    EXPECT_EQ(DAQmxSelfTestDevice("Dev1"), 0);
    ASSERT_EQ(DAQmxSim_SetSelfTestStatus("Dev1", -200999), 0);
    EXPECT_EQ(DAQmxSelfTestDevice("Dev1"), -200999);
    EXPECT_NE(extendedError().find("-200999"), std::string::npos);
    EXPECT_EQ(DAQmxSelfTestDevice("Dev3"), -200220);
    EXPECT_EQ(DAQmxResetDevice("Dev1"), 0);
}

}  // namespace
