// Buffer-size rules of string and array properties as the plug-in reads them.
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

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
