// The recovery supervisor in-process, against the simulated driver, on a
// stepped clock: outages of seconds take no time, and every attempt lands on
// the same instant in every run, however slow the build.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Acquisition.h"
#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "Platform.h"
#include "PluginLoader.h"
#include "RecoveryClock.h"
#include "StreamRecovery.h"
#include "daqmx/NIDAQmx.h"
#include "daqmx/sim/NIDAQmxSimControl.h"

namespace ni_usb_daq::host {
namespace {

using namespace std::chrono_literals;

/// Time moves only when the supervisor pauses; actions scheduled for a
/// moment run once the clock has passed it.
class SteppedClock final : public RecoveryClock {
public:
    Monotonic::time_point now() const override { return Monotonic::time_point{} + elapsed_; }
    Wall::time_point wallNow() const override {
        return Wall::time_point{} + std::chrono::duration_cast<Wall::duration>(elapsed_);
    }
    bool pause(Monotonic::duration duration, const StopCheck& stopRequested) override {
        elapsed_ += duration;
        for (auto& [at, action] : actions_) {
            if (action && elapsed_ >= at) {
                std::exchange(action, nullptr)();
            }
        }
        return !stopRequested();
    }
    void at(std::chrono::duration<double> when, std::function<void()> action) {
        actions_.emplace_back(std::chrono::duration_cast<Monotonic::duration>(when),
                              std::move(action));
    }
    double seconds() const { return std::chrono::duration<double>(elapsed_).count(); }

private:
    Monotonic::duration elapsed_{};
    std::vector<std::pair<Monotonic::duration, std::function<void()>>> actions_;
};

const kra::device::OperationParams kSettings = {{"ai_channels", "Dev1/ai0:1"},
                                                {"sample_clock_rate_hz", "1000"},
                                                {"samples_per_channel", "100"}};

class RecoverySupervisor : public testing::Test {
protected:
    void SetUp() override {
        DAQmxSim_Reset();
        DAQmxSim_SetTimeScale(0);
        session_.connect();
        const auto configured = session_.require("analog_input", "configure", kSettings);
        facts_.device = "Dev1";
        for (const char* channel : {"Dev1/ai0", "Dev1/ai1"}) {
            facts_.channels.emplace_back().name = channel;
        }
        facts_.sampleRateHz = achievedSampleRate(configured.data);
        facts_.serialNumber = listDevices(session_).value().front().serialNumber;
        session_.require("analog_input", "start_stream");
    }
    void TearDown() override {
        DAQmxSim_Reset();
        // A device followed to a new name names it for every stub made after.
        platform::setEnvironment("NI_DEVICE_NAME", "Dev1");
    }

    /// The stream ends on `status`: what the stream loop has stopped when
    /// it hands the fault over.
    RecoveryReport outage(std::int32_t status, RecoveryOptions options = {}) {
        session_.execute("analog_input", "stop_stream");
        options.enabled = true;
        StreamRecovery recovery(options, kSettings, facts_, clock_);
        recovery.begin(clock_.wallNow());
        return recovery.recover(
            session_, {status, "DAQmx error " + std::to_string(status)}, 0, 0,
            [this] { return stop_; },
            [this](const std::string& state) { states_.push_back(state); },
            [this] {
                ++starts_;
                session_.require("analog_input", "start_stream");
            });
    }

    PluginLibrary plugin_{NI_USB_DAQ_PLUGIN_PATH};
    DeviceSession session_{
        plugin_.createStub(), {"Dev1", "", ""}, [this] { return plugin_.createStub(); }};
    RecordingFacts facts_;
    SteppedClock clock_;
    bool stop_ = false;
    int starts_ = 0;
    std::vector<std::string> states_;
};

TEST_F(RecoverySupervisor, ADeviceBackBeforeTheTimeoutIsFoundAtTheLastAttempt) {
    RecoveryOptions options;
    options.outageTimeout = 3s;
    DAQmxSim_SetDevicePresent("Dev1", 0);
    clock_.at(2.5s, [] { DAQmxSim_SetDevicePresent("Dev1", 1); });
    const auto report = outage(DAQmxErrorPALTransferAborted, options);
    ASSERT_EQ(report.kind, RecoveryReport::Kind::Recovered) << report.failure;
    // Back-off 0.1, 0.2, 0.4, 0.8 s, then the rest up to the timeout itself.
    EXPECT_DOUBLE_EQ(clock_.seconds(), 3.0);
    EXPECT_EQ(report.gap.reason, "device_removed");
    EXPECT_EQ(report.gap.status, DAQmxErrorPALTransferAborted);
    EXPECT_EQ(report.gap.estimatedLostSamples, 3000u);
    EXPECT_EQ(report.gap.estimatedFrom, "wall_clock");
    EXPECT_EQ(report.gap.device, "Dev1");
    EXPECT_EQ(report.gap.serialNumber, facts_.serialNumber);
    EXPECT_EQ(starts_, 1);
    EXPECT_EQ(states_.back(), "waiting for Dev1");
}

class NeverReturning : public RecoverySupervisor, public testing::WithParamInterface<double> {};

TEST_P(NeverReturning, TheDeviceIsWaitedForTheWholeTimeout) {
    RecoveryOptions options;
    options.outageTimeout = std::chrono::duration<double>(GetParam());
    DAQmxSim_SetDevicePresent("Dev1", 0);
    const auto report = outage(DAQmxErrorDevCannotBeAccessed, options);
    ASSERT_EQ(report.kind, RecoveryReport::Kind::GaveUp);
    EXPECT_DOUBLE_EQ(clock_.seconds(), GetParam());
    EXPECT_NE(report.failure.find("gave up after"), std::string::npos) << report.failure;
    EXPECT_NE(report.failure.find("is not listed"), std::string::npos) << report.failure;
}

INSTANTIATE_TEST_SUITE_P(Timeouts, NeverReturning, testing::Values(0.05, 0.5, 3.0, 10.0, 600.0));

TEST_F(RecoverySupervisor, AFailedRestartIsPartOfTheSameOutage) {
    // The task was aborted while the overflow was being handled: the restart
    // fails as the reset left it, and the device is set up again.
    DAQmxSim_FailCall("DAQmxStartTask", DAQmxErrorRuntimeAborted_Routing, 1);
    auto report = outage(DAQmxErrorSamplesNoLongerAvailable);
    ASSERT_EQ(report.kind, RecoveryReport::Kind::Recovered) << report.failure;
    EXPECT_EQ(report.gap.reason, "overflow");
    EXPECT_EQ(starts_, 2);
    EXPECT_DOUBLE_EQ(clock_.seconds(), 0.1);

    // A refusal that says nothing of the device is waited out as well.
    starts_ = 0;
    DAQmxSim_FailCall("DAQmxStartTask", DAQmxErrorPALResourceReserved, 2);
    report = outage(DAQmxErrorInputFIFOOverflow2);
    ASSERT_EQ(report.kind, RecoveryReport::Kind::Recovered) << report.failure;
    EXPECT_EQ(starts_, 3);
}

TEST_F(RecoverySupervisor, AStopWhileWaitingReportsTheOutageSoFar) {
    DAQmxSim_SetDevicePresent("Dev1", 0);
    clock_.at(1s, [this] { stop_ = true; });
    const auto report = outage(DAQmxErrorPALTransferAborted);
    ASSERT_EQ(report.kind, RecoveryReport::Kind::Interrupted);
    // The pause in which the stop came ends at 0.1 + 0.2 + 0.4 + 0.8 s.
    EXPECT_DOUBLE_EQ(clock_.seconds(), 1.5);
    EXPECT_EQ(report.gap.outageEnd - report.gap.outageStart, 1500ms);
    EXPECT_EQ(report.gap.estimatedLostSamples, 1500u);
    EXPECT_EQ(report.gap.reason, "device_removed");
}

TEST_F(RecoverySupervisor, FaultsItIsNotForAndTooManyGapsAreNotAttempted) {
    auto report = outage(-200077);
    EXPECT_EQ(report.kind, RecoveryReport::Kind::NotAttempted);
    EXPECT_TRUE(report.failure.empty());
    EXPECT_EQ(starts_, 0);

    RecoveryOptions options;
    options.maxGaps = 0;
    report = outage(DAQmxErrorPALTransferAborted, options);
    EXPECT_EQ(report.kind, RecoveryReport::Kind::NotAttempted);
    EXPECT_EQ(report.failure, "0 gap(s) already, --max-gaps 0");
}

TEST_F(RecoverySupervisor, ADeviceBackUnderAnotherNameIsFollowed) {
    DAQmxSim_SetDevicePresent("Dev1", 0);
    clock_.at(0.2s, [] {
        ASSERT_EQ(DAQmxSim_ScheduleEventsJson(
                      R"([{"at_s":0,"device":"Dev1","event":"replug","as":"Dev3"}])"),
                  0);
        DAQmxSim_AdvanceTime(0.001);
    });
    const auto report = outage(DAQmxErrorPALTransferAborted);
    ASSERT_EQ(report.kind, RecoveryReport::Kind::Recovered) << report.failure;
    EXPECT_EQ(report.gap.device, "Dev3");
    EXPECT_EQ(report.gap.serialNumber, facts_.serialNumber);
}

}  // namespace
}  // namespace ni_usb_daq::host
