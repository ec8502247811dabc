// Faults on a schedule (from NIDAQMX_SIM_EVENTS or the control interface),
// resets and terminal configurations as the simulated devices have them,
// on-demand reads that follow time, and the task properties the plug-in
// reads back (channel names, ranges, input buffer).
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daqmx/DriverStatusClasses.h"
#include "support/TestSupport.h"

namespace {

std::string extendedError() {
    std::vector<char> text(4096, '\0');
    DAQmxGetExtendedErrorInfo(text.data(), static_cast<uInt32>(text.size()));
    return text.data();
}

class DeviceEvents : public test_support::SimulatorTest {
protected:
    void TearDown() override {
        for (TaskHandle task : tasks) {
            DAQmxClearTask(task);
        }
        SimulatorTest::TearDown();
    }
    /// A started continuous task on `channels`, or an on-demand one.
    // A task of the analogue channels `channels`, not started; the fixture clears it.
    TaskHandle addTask(const char* channels, double low = -10.0, double high = 10.0) {
        TaskHandle task = nullptr;
        EXPECT_EQ(DAQmxCreateTask("", &task), 0);
        tasks.push_back(task);
        EXPECT_EQ(DAQmxCreateAIVoltageChan(task, channels, "", DAQmx_Val_RSE, low, high,
                                           DAQmx_Val_Volts, nullptr),
                  0);
        return task;
    }
    TaskHandle startTask(const char* channels, bool timed = true) {
        const TaskHandle task = addTask(channels);
        if (timed) {
            EXPECT_EQ(DAQmxCfgSampClkTiming(task, nullptr, 1000.0, DAQmx_Val_Rising,
                                            DAQmx_Val_ContSamps, 100),
                      0);
        }
        EXPECT_EQ(DAQmxStartTask(task), 0);
        return task;
    }
    int32 read(TaskHandle task, int32 samples = 100) {
        std::vector<float64> data(static_cast<std::size_t>(samples), 0.0);
        int32 got = 0;
        return DAQmxReadAnalogF64(task, samples, 1.0, DAQmx_Val_GroupByChannel, data.data(),
                                  static_cast<uInt32>(data.size()), &got, nullptr);
    }
    int32 available(TaskHandle task) {
        uInt32 count = 0;
        return DAQmxGetReadAvailSampPerChan(task, &count);
    }
    static std::string event(double at, const char* device, const char* name,
                             const std::string& extra = "") {
        return R"({"at_s": )" + std::to_string(at) + R"(, "device": ")" + device +
               R"(", "event": ")" + name + "\"" + extra + "}";
    }

    /// `entries` as the text of a JSON array.
    static std::string list(const std::string& entries) {
        std::string text = "[";
        text += entries;
        text += ']';
        return text;
    }

    std::vector<TaskHandle> tasks;
};

TEST_F(DeviceEvents, EventsFileIsReadAtLoadAndABadOneIsRefusedByNameAndIndex) {
    const test_support::TempDir dir;
    const std::string good =
        list(event(2, "Dev1", "unplug") + "," +
             event(1, "Dev2", "replug", R"(, "as": "Dev7", "ready_after_s": 1)") + "," +
             event(3, "Dev7", "reset"));
    const struct {
        const char* name;
        std::string content;
        const char* reason;  // nullptr: accepted
        std::uint32_t pending;
    } cases[] = {
        {"good.json", good, nullptr, 3},
        {"empty.json", "[]", nullptr, 0},
        {"broken.json", R"([{"at_s": 1, "device": "Dev1", "event": "unplug"},)", "not valid JSON",
         0},
        {"object.json", R"({"events": []})", "must be an array", 0},
        {"unknown.json", list(event(1, "Dev1", "unplug") + "," + event(2, "Dev1", "explode")),
         "entry 1: unknown event \"explode\"", 0},
        {"device.json", list(event(1, "Dev9", "unplug")), "entry 0: unknown device", 0},
        {"time.json", R"([{"at_s": -1, "device": "Dev1", "event": "reset"}])",
         "entry 0: \"at_s\" must be a number >= 0", 0},
        {"member.json", list(event(1, "Dev1", "unplug", R"(, "as": "Dev3")")),
         "entry 0: member \"as\" does not belong", 0},
        {"missing.json", R"([{"at_s": 1, "event": "reset"}])", "entry 0: \"device\" is missing", 0},
        // Numbers no double holds: refused like any other fault, never fatal.
        {"huge.json", R"([{"at_s": 1e999, "device": "Dev1", "event": "reset"}])",
         "not usable JSON: ", 0},
        {"minus_huge.json", R"([{"at_s": -1e999, "device": "Dev1", "event": "reset"}])",
         "number overflow", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write(c.name, c.content);
        const test_support::ScopedEnv events("NIDAQMX_SIM_EVENTS", path);
        test_support::StderrCapture capture;
        DAQmxSim_Reset();
        EXPECT_EQ(DAQmxSim_PendingEventCount(), c.pending);
        const auto lines = capture.lines();
        if (c.reason == nullptr) {
            EXPECT_TRUE(lines.empty()) << capture.text();
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << capture.text();
        EXPECT_EQ(lines[0].rfind("nidaqmx_sim: ignoring NIDAQMX_SIM_EVENTS: " + path + ": ", 0), 0u)
            << lines[0];
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
    }
    // The same refusals from the control interface schedule nothing.
    DAQmxSim_Reset();
    EXPECT_EQ(DAQmxSim_ScheduleEventsJson(list(event(1, "Dev1", "melt")).c_str()),
              DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE);
    EXPECT_NE(extendedError().find("entry 0: unknown event \"melt\""), std::string::npos);
    for (const char* number : {"1e999", "-1e999", "1e400"}) {
        const std::string text =
            std::string(R"([{"at_s": )") + number + R"(, "device": "Dev1", "event": "unplug"}])";
        EXPECT_EQ(DAQmxSim_ScheduleEventsJson(text.c_str()), DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE)
            << number;
        EXPECT_NE(extendedError().find("number overflow"), std::string::npos) << extendedError();
    }
    EXPECT_EQ(DAQmxSim_PendingEventCount(), 0u);
    ASSERT_EQ(DAQmxSim_ScheduleEventsJson(good.c_str()), 0);
    EXPECT_EQ(DAQmxSim_PendingEventCount(), 3u);
    DAQmxSim_ClearEvents();
    EXPECT_EQ(DAQmxSim_PendingEventCount(), 0u);
}

TEST_F(DeviceEvents, ARigWithNumbersOutOfRangeIsRefusedAndTheBuiltInDevicesStay) {
    const test_support::TempDir dir;
    const auto rig = [&](const std::string& member) {
        return dir.write("rig.json", R"({"devices": [{"name": "Rig1", "product_type": "USB-6211",
            "ai_channels": 1, )" + member +
                                         "}]}");
    };
    for (const char* member :
         {R"("ai_max_single_chan_rate_hz": 1e999)", R"("sample_clock_timebase_hz": -1e999)",
          R"("ai_terminal_configs": 1e20)", R"("ai_terminal_configs": 4294967297)",
          R"("self_test_status": -1e300)", R"("self_test_status": 18446744073709551615)",
          R"("ai_terminal_configs_by_channel": {"ai0": 2147483648})"}) {
        SCOPED_TRACE(member);
        const std::string path = rig(member);
        EXPECT_EQ(DAQmxSim_LoadDevices(path.c_str()), DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION);
        EXPECT_NE(extendedError().find(path + ": "), std::string::npos) << extendedError();

        const test_support::ScopedEnv devices("NIDAQMX_SIM_DEVICES", path);
        test_support::StderrCapture capture;
        DAQmxSim_Reset();
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 1u) << capture.text();
        EXPECT_EQ(lines[0].rfind("nidaqmx_sim: ignoring NIDAQMX_SIM_DEVICES: " + path + ": ", 0),
                  0u)
            << lines[0];
        uInt32 serial = 0;
        EXPECT_EQ(DAQmxGetDevSerialNum("Dev1", &serial), 0) << "the built-in rig instead";
    }
}

TEST_F(DeviceEvents, TextsNestedFarTooDeepAreRefusedWithoutExhaustingTheStack) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(DAQmxSim_ScheduleEventsJson(deep.c_str()), DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE);
    EXPECT_EQ(DAQmxSim_ScheduleEventsJson(
                  list(R"({"at_s": 1, "device": "Dev1", "event": )" + deep + "}").c_str()),
              DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE);
    EXPECT_NE(extendedError().find("unknown event of type array"), std::string::npos);
    const test_support::TempDir dir;
    const std::string rig =
        dir.write("deep.json", R"({"devices": [{"name": "Rig1", "product_type": "USB-6211",
            "ai_channels": 1, "ai_signals": )" +
                                   deep + "}]}");
    EXPECT_EQ(DAQmxSim_LoadDevices(rig.c_str()), DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION);
}

TEST(SimulatorStatuses, TheSimulatorsOwnFaultsHaveARangeNoVendorStatusUses) {
    for (const int32 status : {DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION,
                               DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE, DAQMXSIM_ERROR_INTERNAL}) {
        EXPECT_GE(status, DAQMXSIM_ERROR_FIRST);
        EXPECT_LE(status, DAQMXSIM_ERROR_LAST);
        EXPECT_EQ(&daqmx::classifyStatus(status), &daqmx::kUnclassifiedStatus)
            << status << ": a stream that ends on it must not be mistaken for a device fault";
    }
    for (const daqmx::StatusClass& known : daqmx::kStatusClasses) {
        EXPECT_FALSE(known.status >= DAQMXSIM_ERROR_FIRST && known.status <= DAQMXSIM_ERROR_LAST)
            << known.status;
    }
}

TEST_F(DeviceEvents, ReplugUnderAnotherNameKeepsTheSerialAndAnswersOnlyWhenReady) {
    uInt32 serial = 0;
    ASSERT_EQ(DAQmxGetDevSerialNum("Dev1", &serial), 0);
    const uInt32 dev1Serial = serial;
    ASSERT_EQ(DAQmxSim_ScheduleEventsJson(
                  list(event(1, "Dev1", "unplug") + "," +
                       event(2, "Dev1", "replug", R"(, "as": "Dev3", "ready_after_s": 0.5)"))
                      .c_str()),
              0);
    DAQmxSim_AdvanceTime(1.2);
    EXPECT_EQ(DAQmxGetDevSerialNum("Dev1", &serial), -201003) << "unplugged";

    DAQmxSim_AdvanceTime(1.0);  // t = 2.2: back as Dev3, still enumerating
    std::vector<char> names(256, '\0');
    ASSERT_EQ(DAQmxGetSysDevNames(names.data(), static_cast<uInt32>(names.size())), 0);
    EXPECT_STREQ(names.data(), "Dev3, Dev2");
    EXPECT_EQ(DAQmxGetDevSerialNum("Dev3", &serial), -201003);
    EXPECT_EQ(DAQmxGetDevSerialNum("Dev1", &serial), -200220) << "that name is gone";

    DAQmxSim_AdvanceTime(0.4);  // t = 2.6: ready
    serial = 0;
    ASSERT_EQ(DAQmxGetDevSerialNum("Dev3", &serial), 0);
    EXPECT_EQ(serial, dev1Serial);
    startTask("Dev3/ai0");
    EXPECT_EQ(DAQmxSim_PendingEventCount(), 0u);
}

TEST_F(DeviceEvents, FaultsHitTheRunningTasksOfTheirDeviceUntilClearedOrStopped) {
    const struct {
        const char* event;
        int32 status;
        bool clearedByStop;  // an overflow ends with the acquisition; the others need a new task
    } cases[] = {
        {"transfer_abort", -50405, false},
        {"reset", -88709, false},
        {"overflow", -200279, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        const TaskHandle hit = startTask("Dev1/ai0");
        const TaskHandle other = startTask("Dev2/ai0");
        const double now = DAQmxSim_SimulatedTime();
        ASSERT_EQ(DAQmxSim_ScheduleEventsJson(list(event(now + 0.5, "Dev1", c.event)).c_str()), 0);
        DAQmxSim_AdvanceTime(0.6);
        EXPECT_EQ(read(hit), c.status);
        EXPECT_EQ(available(hit), c.status) << "a sliced wait sees it too";
        EXPECT_EQ(read(other), 0) << "other devices go on";
        std::vector<char> names(256, '\0');
        ASSERT_EQ(DAQmxGetSysDevNames(names.data(), static_cast<uInt32>(names.size())), 0);
        EXPECT_STREQ(names.data(), "Dev1, Dev2") << "the device stays listed";

        ASSERT_EQ(DAQmxStopTask(hit), 0);
        EXPECT_EQ(DAQmxStartTask(hit), c.clearedByStop ? 0 : c.status);
        if (c.clearedByStop) {
            EXPECT_EQ(read(hit), 0);
        }
        for (TaskHandle task : tasks) {
            DAQmxClearTask(task);
        }
        tasks.clear();
        EXPECT_EQ(read(startTask("Dev1/ai0")), 0) << "a new task works";
        DAQmxClearTask(tasks.back());
        tasks.clear();
    }
}

TEST_F(DeviceEvents, UnpacedTimeMovesWithTheSamplesDeliveredSoEventsComeInOrder) {
    const TaskHandle task = startTask("Dev1/ai0");
    ASSERT_EQ(DAQmxSim_ScheduleEventsJson(list(event(0.25, "Dev1", "unplug")).c_str()), 0);
    const double start = DAQmxSim_SimulatedTime();
    EXPECT_EQ(read(task), 0);  // 100 samples at 1 kS/s: 0.1 s
    EXPECT_EQ(read(task), 0);
    EXPECT_NEAR(DAQmxSim_SimulatedTime() - start, 0.2, 1e-9);
    EXPECT_EQ(read(task), 0) << "0.3 s are delivered with this read";
    EXPECT_EQ(read(task), -50405);
}

TEST_F(DeviceEvents, DeviceResetAbortsRunningTasksWithItsOwnStatusAndText) {
    const TaskHandle running = startTask("Dev1/ai0");
    const TaskHandle idle = addTask("Dev1/ai1");
    ASSERT_EQ(DAQmxResetDevice("Dev1"), 0);
    EXPECT_EQ(read(running), -88709);
    EXPECT_NE(extendedError().find("reset"), std::string::npos) << extendedError();
    EXPECT_EQ(available(running), -88709);
    EXPECT_EQ(read(idle, 1), 0) << "a task that was not running is untouched";
}

TEST_F(DeviceEvents, DifferentialInputsOnlyWhereTheDeviceHasTheirPair) {
    const struct {
        const char* channel;
        bool accepted;
    } cases[] = {
        {"Dev1/ai0", true},   {"Dev1/ai7", true}, {"Dev1/ai8", false},
        {"Dev1/ai15", false}, {"Dev2/ai3", true}, {"Dev2/ai4", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channel);
        TaskHandle task = nullptr;
        ASSERT_EQ(DAQmxCreateTask("", &task), 0);
        const int32 status = DAQmxCreateAIVoltageChan(task, c.channel, "", DAQmx_Val_Diff, -10, 10,
                                                      DAQmx_Val_Volts, nullptr);
        const std::string text = extendedError();
        DAQmxClearTask(task);
        if (c.accepted) {
            EXPECT_EQ(status, 0);
            continue;
        }
        EXPECT_EQ(status, -200077);
        EXPECT_NE(text.find("DAQmx_Val_Diff"), std::string::npos) << text;
        EXPECT_NE(text.find(c.channel), std::string::npos) << text;
        int32 bits = 0;
        ASSERT_EQ(DAQmxGetPhysicalChanAITermCfgs(c.channel, &bits), 0);
        EXPECT_EQ(bits & DAQmx_Val_Bit_TermCfg_Diff, 0) << "as the channel describes itself";
    }
}

TEST_F(DeviceEvents, OnDemandReadsGiveTheSignalAtTheCurrentTime) {
    const TaskHandle task = startTask("Dev1/ai0", false);
    for (const double step : {0.0, 0.0123, 1.5}) {
        DAQmxSim_AdvanceTime(step);
        const auto index = static_cast<uInt64>(std::floor(DAQmxSim_SimulatedTime() * 1000));
        float64 value = 0.0;
        int32 got = 0;
        ASSERT_EQ(
            DAQmxReadAnalogF64(task, 1, 1.0, DAQmx_Val_GroupByChannel, &value, 1, &got, nullptr),
            0);
        EXPECT_EQ(value, DAQmxSim_ExpectedSample("Dev1/ai0", index)) << "at " << index;
    }
}

TEST_F(DeviceEvents, TaskPropertiesReportChannelsRangesAndTheInputBuffer) {
    const TaskHandle task = addTask("Dev1/ai3", -0.1, 0.2);
    ASSERT_EQ(DAQmxCreateAIVoltageChan(task, "Dev1/ai1", "", DAQmx_Val_RSE, -4, 4, DAQmx_Val_Volts,
                                       nullptr),
              0);
    const struct {
        uInt32 index;
        const char* name;
        double low, high;
    } channels[] = {{1, "Dev1/ai3", -0.2, 0.2}, {2, "Dev1/ai1", -5.0, 5.0}};
    for (const auto& c : channels) {
        char name[64] = {};
        ASSERT_EQ(DAQmxGetNthTaskChannel(task, c.index, name, sizeof name), 0);
        EXPECT_STREQ(name, c.name);
        float64 low = 0, high = 0;
        ASSERT_EQ(DAQmxGetAIRngLow(task, name, &low), 0);
        ASSERT_EQ(DAQmxGetAIRngHigh(task, name, &high), 0);
        EXPECT_EQ(low, c.low);
        EXPECT_EQ(high, c.high);
    }
    char name[64] = {};
    EXPECT_EQ(DAQmxGetNthTaskChannel(task, 3, name, sizeof name), -200077);
    EXPECT_EQ(DAQmxGetNthTaskChannel(task, 0, name, sizeof name), -200077);
    float64 value = 0;
    EXPECT_EQ(DAQmxGetAIRngHigh(task, "Dev1/ai2", &value), -200486);

    uInt32 size = 0;
    ASSERT_EQ(DAQmxGetBufInputBufSize(task, &size), 0);
    EXPECT_EQ(size, 0u) << "no sample clock, no buffer";
    ASSERT_EQ(
        DAQmxCfgSampClkTiming(task, nullptr, 10e3, DAQmx_Val_Rising, DAQmx_Val_ContSamps, 10e3), 0);
    ASSERT_EQ(DAQmxGetBufInputBufSize(task, &size), 0);
    EXPECT_EQ(size, 10000u) << "the larger of the rate's default and the count";
    DAQmxSim_SetInputBufferSize(50);
    ASSERT_EQ(DAQmxGetBufInputBufSize(task, &size), 0);
    EXPECT_EQ(size, 50u);
    ASSERT_EQ(DAQmxCfgInputBuffer(task, 25000), 0);
    ASSERT_EQ(DAQmxGetBufInputBufSize(task, &size), 0);
    EXPECT_EQ(size, 25000u) << "the task's own size beats every default";
    ASSERT_EQ(DAQmxStartTask(task), 0);
    EXPECT_EQ(DAQmxCfgInputBuffer(task, 100), -200479) << "not while running";
}

}  // namespace
