// Start and reference triggers, exported signals, PFI terminals, wiring and
// device clocks, through the driver's C calls on a stepped clock.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

constexpr double kRate = 1000.0;

class Triggers : public test_support::SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        DAQmxSim_SetTimeScale(0.0);  // time moves only as the test or the reads move it
    }
    void TearDown() override {
        for (TaskHandle task : tasks) {
            DAQmxClearTask(task);
        }
        SimulatorTest::TearDown();
    }
    TaskHandle finiteTask(const char* channels, std::uint64_t samples,
                          int32 mode = DAQmx_Val_FiniteSamps, const char* clock = nullptr) {
        TaskHandle task = nullptr;
        EXPECT_EQ(DAQmxCreateTask("", &task), 0);
        tasks.push_back(task);
        EXPECT_EQ(DAQmxCreateAIVoltageChan(task, channels, "", DAQmx_Val_RSE, -1.0, 1.0,
                                           DAQmx_Val_Volts, nullptr),
                  0);
        EXPECT_EQ(DAQmxCfgSampClkTiming(task, clock, kRate, DAQmx_Val_Rising, mode, samples), 0);
        return task;
    }
    static int32 read(TaskHandle task, std::vector<float64>& data, double timeout = 10.0) {
        int32 got = 0;
        const int32 status = DAQmxReadAnalogF64(task, static_cast<int32>(data.size()), timeout,
                                                DAQmx_Val_GroupByChannel, data.data(),
                                                static_cast<uInt32>(data.size()), &got, nullptr);
        data.resize(static_cast<std::size_t>(got));
        return status;
    }
    static void edgeAt(double at, const char* device, const char* terminal) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.17g", at);
        const std::string events = R"([{"at_s": )" + std::string(seconds) + R"(, "device": ")" +
                                   device + R"(", "event": "pfi_edge", "terminal": ")" + terminal +
                                   R"(", "edge": "RISING"}])";
        ASSERT_EQ(DAQmxSim_ScheduleEventsJson(events.c_str()), 0);
    }
    static double triggerTime(TaskHandle task) {
        double at = 0.0;
        EXPECT_EQ(DAQmxSim_GetTriggerTime(task, &at), 0);
        return at;
    }
    std::vector<TaskHandle> tasks;
    test_support::TempDir dir;
};

TEST_F(Triggers, AStartTriggerHoldsTheAcquisitionUntilTheScheduledEdge) {
    const TaskHandle task = finiteTask("Dev1/ai0", 100);
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(task, "Dev1/PFI0", DAQmx_Val_Rising), 0);
    const double start = DAQmxSim_SimulatedTime();
    edgeAt(start + 0.25, "Dev1", "PFI0");
    ASSERT_EQ(DAQmxStartTask(task), 0);
    DAQmxSim_AdvanceTime(0.1);
    uInt64 acquired = 1;
    ASSERT_EQ(DAQmxGetReadTotalSampPerChanAcquired(task, &acquired), 0);
    EXPECT_EQ(acquired, 0u);
    EXPECT_TRUE(std::isnan(triggerTime(task)));

    std::vector<float64> data(100);
    ASSERT_EQ(read(task, data), 0);
    EXPECT_DOUBLE_EQ(triggerTime(task), start + 0.25);
    ASSERT_EQ(data.size(), 100u);
    for (std::size_t j = 0; j < data.size(); ++j) {
        ASSERT_EQ(data[j], DAQmxSim_ExpectedSample("Dev1/ai0", 250 + j)) << j;
    }
}

TEST_F(Triggers, WithoutItsEdgeATriggeredReadTimesOutEmpty) {
    const TaskHandle task = finiteTask("Dev1/ai0", 100);
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(task, "/Dev1/PFI1", DAQmx_Val_Falling), 0);
    edgeAt(DAQmxSim_SimulatedTime() + 0.1, "Dev1", "PFI1");  // rising: not the edge it waits for
    std::vector<float64> data(100);
    EXPECT_EQ(read(task, data, 0.5), DAQmxErrorSamplesNotYetAvailable);
    EXPECT_TRUE(data.empty());
}

TEST_F(Triggers, AReferenceTriggerDeliversExactlyItsPretriggerSamplesBeforeTheEdge) {
    const TaskHandle task = finiteTask("Dev1/ai1", 1000);
    ASSERT_EQ(DAQmxCfgDigEdgeRefTrig(task, "PFI2", DAQmx_Val_Rising, 200), 0);
    const double start = DAQmxSim_SimulatedTime();
    edgeAt(start + 0.1, "Dev1", "PFI2");  // before 200 samples are in: ignored, as by the device
    edgeAt(start + 0.5, "Dev1", "PFI2");
    ASSERT_EQ(DAQmxStartTask(task), 0);
    std::vector<float64> data(1000);
    ASSERT_EQ(read(task, data), 0);
    EXPECT_DOUBLE_EQ(triggerTime(task), start + 0.5);
    ASSERT_EQ(data.size(), 1000u);
    for (std::size_t j = 0; j < data.size(); ++j) {
        ASSERT_EQ(data[j], DAQmxSim_ExpectedSample("Dev1/ai1", 300 + j)) << j;
    }
    uInt32 pretrigger = 0;
    ASSERT_EQ(DAQmxGetRefTrigPretrigSamples(task, &pretrigger), 0);
    EXPECT_EQ(pretrigger, 200u);
}

TEST_F(Triggers, WhatADeviceCannotDoIsRefusedWithTheDriversStatusAtVerifyAndStart) {
    const TaskHandle analog = finiteTask("Dev1/ai0", 100);
    ASSERT_EQ(DAQmxCfgAnlgEdgeStartTrig(analog, "Dev1/ai0", DAQmx_Val_RisingSlope, 0.5), 0);
    EXPECT_EQ(DAQmxTaskControl(analog, DAQmx_Val_Task_Verify), DAQmxErrorInvalidAttributeValue);
    EXPECT_EQ(DAQmxStartTask(analog), DAQmxErrorInvalidAttributeValue);

    const TaskHandle noReference = finiteTask("Dev2/ai0", 100);
    ASSERT_EQ(DAQmxCfgDigEdgeRefTrig(noReference, "/Dev2/PFI0", DAQmx_Val_Rising, 10), 0);
    EXPECT_EQ(DAQmxTaskControl(noReference, DAQmx_Val_Task_Verify),
              DAQmxErrorInvalidAttributeValue);

    const TaskHandle continuous = finiteTask("Dev1/ai2", 100, DAQmx_Val_ContSamps);
    ASSERT_EQ(DAQmxCfgDigEdgeRefTrig(continuous, "/Dev1/PFI0", DAQmx_Val_Rising, 10), 0);
    EXPECT_EQ(DAQmxStartTask(continuous), DAQmxErrorRefTrigWhenContinuous);

    const TaskHandle outputAsSource = finiteTask("Dev1/ai3", 100);
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(outputAsSource, "/Dev1/PFI4", DAQmx_Val_Rising), 0);
    EXPECT_EQ(DAQmxTaskControl(outputAsSource, DAQmx_Val_Task_Verify),
              DAQmxErrorRouteNotSupportedByHW_Routing);
}

TEST_F(Triggers, ExportsGoToOutputTerminalsOnlyAndSettingsReadBackWithTheSlash) {
    const TaskHandle task = finiteTask("Dev1/ai0", 100);
    EXPECT_EQ(DAQmxExportSignal(task, DAQmx_Val_SampleClock, "/Dev1/PFI0"),
              DAQmxErrorRouteNotSupportedByHW_Routing);
    EXPECT_EQ(DAQmxExportSignal(task, DAQmx_Val_StartTrigger, "/Dev1/PFI9"),
              DAQmxErrorInvalidTerm_Routing);
    EXPECT_EQ(DAQmxExportSignal(task, DAQmx_Val_SampleClock, "Dev1/PFI5"), 0);
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(task, "Dev1/PFI3", DAQmx_Val_Falling), 0);
    EXPECT_EQ(DAQmxTaskControl(task, DAQmx_Val_Task_Verify), 0);

    char text[256] = {};
    ASSERT_EQ(DAQmxGetDigEdgeStartTrigSrc(task, text, sizeof text), 0);
    EXPECT_STREQ(text, "/Dev1/PFI3");
    int32 value = 0;
    ASSERT_EQ(DAQmxGetStartTrigType(task, &value), 0);
    EXPECT_EQ(value, DAQmx_Val_DigEdge);
    ASSERT_EQ(DAQmxGetDigEdgeStartTrigEdge(task, &value), 0);
    EXPECT_EQ(value, DAQmx_Val_Falling);
    ASSERT_EQ(DAQmxGetRefTrigType(task, &value), 0);
    EXPECT_EQ(value, DAQmx_Val_None);

    ASSERT_EQ(DAQmxGetDevTerminals("Dev2", text, sizeof text), 0);
    EXPECT_STREQ(text, "/Dev2/PFI0, /Dev2/PFI1");
    bool32 supported = 1;
    ASSERT_EQ(DAQmxGetDevAnlgTrigSupported("Dev1", &supported), 0);
    EXPECT_EQ(supported, 0u);
    ASSERT_EQ(DAQmxGetDevDigTrigSupported("Dev1", &supported), 0);
    EXPECT_EQ(supported, 1u);
}

TEST_F(Triggers, AnUndrivenExternalClockDeliversNothing) {
    const TaskHandle task = finiteTask("Dev1/ai0", 100, DAQmx_Val_FiniteSamps, "/Dev1/PFI1");
    std::vector<float64> data(100);
    EXPECT_EQ(read(task, data, 0.5), DAQmxErrorSamplesNotYetAvailable);
    EXPECT_TRUE(data.empty());
}

TEST_F(Triggers, AnAnalogueTriggerFiresWhereTheSignalCrossesItsLevelWithItsSlope) {
    ASSERT_EQ(DAQmxSim_LoadDevices(dir.write("rig.json", R"({"devices": [{"name": "Rig1",
        "product_type": "PCIe-6321", "ai_channels": 1, "ai_voltage_ranges": [[-1, 1]],
        "ai_max_single_chan_rate_hz": 250000, "ai_max_multi_chan_rate_hz": 250000,
        "triggers": ["digital_edge", "analog_edge", "reference"],
        "ai_signals": {"ai0": {"kind": "sine", "amplitude": 0.9, "frequency_hz": 5}}}]})")
                                       .c_str()),
              0);
    const TaskHandle task = finiteTask("Rig1/ai0", 50);
    ASSERT_EQ(DAQmxCfgAnlgEdgeStartTrig(task, "Rig1/ai0", DAQmx_Val_FallingSlope, 0.3), 0);
    // The stopped clock keeps what ran before it stopped: times count from the start.
    const double started = DAQmxSim_SimulatedTime();
    ASSERT_EQ(DAQmxStartTask(task), 0);
    std::vector<float64> data(50);
    ASSERT_EQ(read(task, data), 0);
    // The first sample at or below the level after one above it.
    std::uint64_t k = 1;
    while (!(DAQmxSim_ExpectedSample("Rig1/ai0", k - 1) > 0.3 &&
             DAQmxSim_ExpectedSample("Rig1/ai0", k) <= 0.3)) {
        ++k;
    }
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Rig1/ai0", k));
    EXPECT_NEAR(triggerTime(task) - started, static_cast<double>(k) / kRate, 1e-9);
}

TEST_F(Triggers, AContinuousTaskWaitingForItsTriggerHasNothingAvailableThenStartsAtTheEdge) {
    const TaskHandle task = finiteTask("Dev2/ai0", 100, DAQmx_Val_ContSamps);
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(task, "/Dev2/PFI1", DAQmx_Val_Rising), 0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    DAQmxSim_AdvanceTime(1.0);
    uInt32 available = 1;
    ASSERT_EQ(DAQmxGetReadAvailSampPerChan(task, &available), 0);
    EXPECT_EQ(available, 0u);
    edgeAt(DAQmxSim_SimulatedTime() + 0.5, "Dev2", "PFI1");
    std::vector<float64> data(10);
    ASSERT_EQ(read(task, data), 0);
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Dev2/ai0", 1500));
}

TEST_F(Triggers, AStopEndsAReadWaitingForItsTriggerAtOnce) {
    DAQmxSim_SetTimeScale(1.0);
    const TaskHandle task = finiteTask("Dev1/ai0", 100);
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(task, "/Dev1/PFI0", DAQmx_Val_Rising), 0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    std::thread stopper([task] {
        while (DAQmxSim_ReadsInProgress() == 0) {
            std::this_thread::yield();
        }
        DAQmxStopTask(task);
    });
    std::vector<float64> data(100);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_NE(read(task, data, DAQmx_Val_WaitInfinitely), 0);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(150));
}

TEST_F(Triggers, RigsAndSchedulesNamingTerminalsBadlyAreRefused) {
    const std::string wiredToNothing = dir.write("rig.json", R"({"devices": [
        {"name": "Dev1", "product_type": "USB-6211"}], "wiring": [["/Dev1/PFI4", "/Dev9/PFI0"]]})");
    EXPECT_EQ(DAQmxSim_LoadDevices(wiredToNothing.c_str()), DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION);
    const std::string badPfi = dir.write("pfi.json", R"({"devices": [
        {"name": "Dev1", "product_type": "X", "pfi": {"inputs": 2, "sideways": 1}}]})");
    EXPECT_EQ(DAQmxSim_LoadDevices(badPfi.c_str()), DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION);
    EXPECT_EQ(
        DAQmxSim_ScheduleEventsJson(R"([{"at_s": 1, "device": "Dev1", "event": "pfi_edge"}])"),
        DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE);
    EXPECT_EQ(DAQmxSim_ScheduleEventsJson(
                  R"([{"at_s": 1, "device": "Dev1", "event": "pfi_edge", "terminal": "PFI0",
                       "edge": "UP"}])"),
              DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE);
}

class TwoDevices : public Triggers {
protected:
    void SetUp() override {
        Triggers::SetUp();
        const std::string device = R"("product_type": "USB-6211", "ai_channels": 1,
            "ai_voltage_ranges": [[-1, 1]], "sample_clock_timebase_hz": 80000000,
            "ai_max_single_chan_rate_hz": 250000, "ai_max_multi_chan_rate_hz": 250000,
            "ai_signals": {"ai0": {"kind": "sine", "amplitude": 0.8, "frequency_hz": 1}})";
        ASSERT_EQ(DAQmxSim_LoadDevices(
                      dir.write("rig.json", R"({"devices": [{"name": "Dev1", )" + device +
                                                R"(}, {"name": "Dev4", "clock_ppm": 200, )" +
                                                device + R"(}],
                "wiring": [["/Dev1/PFI4", "/Dev4/PFI0"], ["/Dev1/PFI5", "/Dev4/PFI1"]]})")
                          .c_str()),
                  0);
    }
    static constexpr std::size_t kRows = 60000;  // a simulated minute
    static constexpr double kAmplitude = 0.8;
    std::vector<float64> leader = std::vector<float64>(kRows);
    std::vector<float64> follower = std::vector<float64>(kRows);
};

TEST_F(TwoDevices, SharingClockAndStartTriggerTheySampleTheSameSineAlike) {
    const TaskHandle dev4 = finiteTask("Dev4/ai0", kRows, DAQmx_Val_FiniteSamps, "/Dev4/PFI1");
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(dev4, "/Dev4/PFI0", DAQmx_Val_Rising), 0);
    const TaskHandle dev1 = finiteTask("Dev1/ai0", kRows);
    ASSERT_EQ(DAQmxExportSignal(dev1, DAQmx_Val_SampleClock, "/Dev1/PFI5"), 0);
    ASSERT_EQ(DAQmxExportSignal(dev1, DAQmx_Val_StartTrigger, "/Dev1/PFI4"), 0);
    ASSERT_EQ(DAQmxStartTask(dev4), 0);
    DAQmxSim_AdvanceTime(0.123);  // the follower waits for the leader
    ASSERT_EQ(DAQmxStartTask(dev1), 0);
    ASSERT_EQ(read(dev4, follower), 0);
    ASSERT_EQ(read(dev1, leader), 0);
    EXPECT_NEAR(triggerTime(dev4), DAQmxSim_SimulatedTime() - 60.0, 1e-9);
    ASSERT_EQ(follower.size(), kRows);
    for (std::size_t k = 0; k < kRows; ++k) {
        ASSERT_NEAR(follower[k], leader[k], 0.02 * kAmplitude) << k;
    }
}

TEST_F(TwoDevices, AFollowerWhoseLeaderStoppedFirstKeepsWhatItHadAndGetsNoMore) {
    const TaskHandle dev4 = finiteTask("Dev4/ai0", 100, DAQmx_Val_ContSamps, "/Dev4/PFI1");
    ASSERT_EQ(DAQmxCfgDigEdgeStartTrig(dev4, "/Dev4/PFI0", DAQmx_Val_Rising), 0);
    const TaskHandle dev1 = finiteTask("Dev1/ai0", 100, DAQmx_Val_ContSamps);
    ASSERT_EQ(DAQmxExportSignal(dev1, DAQmx_Val_SampleClock, "/Dev1/PFI5"), 0);
    ASSERT_EQ(DAQmxExportSignal(dev1, DAQmx_Val_StartTrigger, "/Dev1/PFI4"), 0);
    ASSERT_EQ(DAQmxStartTask(dev4), 0);
    ASSERT_EQ(DAQmxStartTask(dev1), 0);
    std::vector<float64> block(300);
    ASSERT_EQ(read(dev4, block), 0);
    ASSERT_EQ(DAQmxStopTask(dev1), 0);
    // No clock comes any more: the read times out with nothing, the count stays.
    block.assign(100, 0.0);
    EXPECT_EQ(read(dev4, block, 0.1), DAQmxErrorSamplesNotYetAvailable);
    EXPECT_TRUE(block.empty());
    uInt32 available = 1;
    ASSERT_EQ(DAQmxGetReadAvailSampPerChan(dev4, &available), 0);
    EXPECT_EQ(available, 0U);
}

TEST_F(TwoDevices, OnTheirOwnClocksTheyDriftApartAsTheClockErrorPredicts) {
    const TaskHandle dev1 = finiteTask("Dev1/ai0", kRows);
    const TaskHandle dev4 = finiteTask("Dev4/ai0", kRows);
    ASSERT_EQ(DAQmxStartTask(dev1), 0);
    ASSERT_EQ(DAQmxStartTask(dev4), 0);
    ASSERT_EQ(read(dev1, leader), 0);
    ASSERT_EQ(read(dev4, follower), 0);
    const auto largestDifference = [&](std::size_t from, std::size_t to) {
        double largest = 0.0;
        for (std::size_t k = from; k < to; ++k) {
            largest = std::max(largest, std::fabs(leader[k] - follower[k]));
        }
        return largest;
    };
    // Dev4's sample k comes k / rate * 200e-6 s early: over a whole cycle of
    // the 1 Hz sine two samples that far apart differ by up to 2 A sin(pi f dt).
    const double early = static_cast<double>(kRows) / kRate * (1.0 - 1.0 / 1.0002);
    const double predicted = 2.0 * kAmplitude * std::sin(std::numbers::pi * early);
    EXPECT_LT(largestDifference(0, 1000), 0.02 * kAmplitude);
    EXPECT_NEAR(largestDifference(kRows - 1000, kRows), predicted, 0.05 * predicted);
}

}  // namespace
