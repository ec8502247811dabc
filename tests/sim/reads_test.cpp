// Reads as the plug-in makes them: channel-after-channel layout, buffer and
// finite limits, pacing in scaled time, and the read-shaping scripts.
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

class Reads : public test_support::SimulatorTest {
protected:
    void TearDown() override {
        DAQmxClearTask(task);
        SimulatorTest::TearDown();
    }
    void makeTask(const char* channels, double rate, int32 mode, uInt64 samples) {
        ASSERT_EQ(DAQmxCreateTask("", &task), 0);
        ASSERT_EQ(DAQmxCreateAIVoltageChan(task, channels, "", DAQmx_Val_RSE, -10, 10,
                                           DAQmx_Val_Volts, nullptr),
                  0);
        if (rate > 0.0) {
            ASSERT_EQ(DAQmxCfgSampClkTiming(task, nullptr, rate, DAQmx_Val_Rising, mode, samples),
                      0);
        }
    }
    int32 read(int32 samples, double timeout, std::vector<float64>& data, int32& got) {
        got = 0;
        return DAQmxReadAnalogF64(task, samples, timeout, DAQmx_Val_GroupByChannel, data.data(),
                                  static_cast<uInt32>(data.size()), &got, nullptr);
    }

    TaskHandle task = nullptr;
};

TEST_F(Reads, GroupByChannelHoldsEachChannelsSamplesInOrder) {
    makeTask("Dev1/ai3, Dev1/ai1", 1000.0, DAQmx_Val_ContSamps, 100);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    std::vector<float64> data(20, -99.0);
    int32 got = 0;
    ASSERT_EQ(read(10, 1.0, data, got), 0);
    ASSERT_EQ(got, 10);
    ASSERT_EQ(read(10, 1.0, data, got), 0);  // the second block continues the first
    for (int s = 0; s < 10; ++s) {
        EXPECT_EQ(data[s], DAQmxSim_ExpectedSample("Dev1/ai3", 10 + s)) << s;
        EXPECT_EQ(data[10 + s], DAQmxSim_ExpectedSample("Dev1/ai1", 10 + s)) << s;
    }
    EXPECT_NE(data[0], data[10]) << "channels must be distinguishable";
    EXPECT_NE(data[0], data[1]) << "samples must be distinguishable";
}

TEST_F(Reads, BufferTooSmallAndBeyondFiniteEndFail) {
    makeTask("Dev1/ai0:1", 1000.0, DAQmx_Val_FiniteSamps, 8);
    std::vector<float64> small(15);
    int32 got = -1;
    EXPECT_EQ(read(8, 1.0, small, got), -200229);
    std::vector<float64> data(20);
    EXPECT_EQ(read(9, 1.0, data, got), DAQmxErrorSamplesWillNeverBeAvailable);
    ASSERT_EQ(read(5, 1.0, data, got), 0);  // auto-started
    EXPECT_EQ(read(4, 1.0, data, got), DAQmxErrorSamplesWillNeverBeAvailable);
    ASSERT_EQ(read(-1, 1.0, data, got), 0);  // the remainder
    EXPECT_EQ(got, 3);
}

TEST_F(Reads, PacedReadWaitsForItsBlockOrTimesOutInScaledTimeWithWhatItHad) {
    DAQmxSim_SetTimeScale(100.0);
    makeTask("Dev1/ai0", 1000.0, DAQmx_Val_ContSamps, 1000);
    std::vector<float64> data(20000);
    int32 got = 0;
    // Timed from before the start: the block cannot be there sooner than 5 ms
    // after it, however long a slow (sanitized, loaded) run takes to get here.
    auto begin = Clock::now();
    ASSERT_EQ(DAQmxStartTask(task), 0);
    ASSERT_EQ(read(500, 10.0, data, got), 0);  // 0.5 s of samples, 5 ms at scale 100
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(4));
    begin = Clock::now();
    EXPECT_EQ(read(20000, 1.0, data, got), DAQmxErrorSamplesNotYetAvailable);  // needs 20 s
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(9));
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2));
    std::array<char, 1024> text{};
    DAQmxGetExtendedErrorInfo(text.data(), 1024);
    EXPECT_NE(std::string(text.data()).find("have not yet been acquired"), std::string::npos);
    // What had arrived in the second of simulated time came along and is consumed.
    ASSERT_GE(got, 1000);
    ASSERT_LT(got, 20000);
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Dev1/ai0", 500));
    EXPECT_EQ(data[got - 1], DAQmxSim_ExpectedSample("Dev1/ai0", 500 + got - 1));
    const int32 delivered = got;
    ASSERT_EQ(read(1, 1.0, data, got), 0);
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Dev1/ai0", 500 + delivered));
}

TEST_F(Reads, QueuedStatusesCapAndSkewShapeTheNextReads) {
    makeTask("Dev1/ai0:1", 1000.0, DAQmx_Val_ContSamps, 100);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    const std::array<int32, 2> queued{DAQmxErrorSamplesNotYetAvailable, 0};
    DAQmxSim_QueueReadStatuses(queued.data(), 2);
    std::vector<float64> data(20, 0.0);
    int32 got = 0;
    EXPECT_EQ(read(10, 1.0, data, got), DAQmxErrorSamplesNotYetAvailable);
    EXPECT_EQ(read(10, 1.0, data, got), 0);
    EXPECT_EQ(got, 10);

    DAQmxSim_SetReadSampleCap(4);
    std::fill(data.begin(), data.end(), -1.0);
    ASSERT_EQ(read(10, 1.0, data, got), 0);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(data[4], DAQmxSim_ExpectedSample("Dev1/ai1", 10)) << "stride is the delivered count";
    EXPECT_EQ(data[8], -1.0);

    DAQmxSim_SetReadSampleCap(0);
    DAQmxSim_SetReadCountSkew(3);
    ASSERT_EQ(read(10, 1.0, data, got), 0);
    EXPECT_EQ(got, 13);
}

}  // namespace
