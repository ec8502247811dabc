// stream --recover against the simulated driver's scheduled faults: each
// outage is one gap record, the samples on both sides of it are the driver's
// own, in order and without repeats, and a device that never comes back ends
// the run after the outage bound.

#include <cmath>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "daqmx/sim/NIDAQmxSimControl.h"
#include "support/TestSupport.h"

using host_tests::contains;
using host_tests::runHost;
using host_tests::split;
using nlohmann::json;

namespace {

constexpr double kRate = 1000.0;
const std::vector<std::string> kChannels = {"Dev1/ai0", "Dev1/ai1"};

struct Outage {
    std::string name;
    std::string events;  ///< the NIDAQMX_SIM_EVENTS file's list
    std::string timeScale;
    std::string reason;
    int status;
    std::string deviceAfter;  ///< the device the second part comes from
};

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> lines;
    for (const auto& line : split(text)) {
        lines.push_back(json::parse(line));
    }
    return lines;
}

/// Checks that the frames from `first` on, up to the next event, hold the
/// driver's samples 0, 1, 2, ... of a fresh acquisition on `device`; returns
/// the index of the line after them.
std::size_t expectAcquisition(const std::vector<json>& lines, std::size_t first,
                              const std::string& device) {
    std::uint64_t index = 0;
    std::size_t at = first;
    for (; at < lines.size() && !lines[at].contains("event"); ++at) {
        const auto& samples = lines[at]["samples"];
        for (std::size_t c = 0; c < kChannels.size(); ++c) {
            const std::string channel = device + kChannels[c].substr(4);
            for (std::size_t s = 0; s < samples[c].size(); ++s) {
                const double expected =
                    DAQmxSim_ExpectedSampleAt(channel.c_str(), index + s, kRate, -10.0, 10.0);
                if (samples[c][s].get<double>() != expected) {
                    ADD_FAILURE() << channel << " sample " << index + s << " of the part from line "
                                  << first << " is " << samples[c][s] << ", the driver's is "
                                  << expected;
                    return at;
                }
            }
        }
        index += lines[at]["sample_count"].get<std::uint64_t>();
    }
    EXPECT_GT(index, 0u) << "no frame from line " << first;
    return at;
}

class Recovery : public testing::TestWithParam<Outage> {};

TEST_P(Recovery, OneGapRecordBetweenTwoRunsOfTheDriversOwnSamples) {
    const Outage& outage = GetParam();
    const test_support::TempDir dir;
    const std::string events = dir.write("events.json", outage.events);
    const auto run =
        runHost({"-q", "stream", "--recover", "--recover-timeout", "20", "--seconds", "3",
                 "ai_channels=Dev1/ai0:1", "samples_per_channel=100", "sample_clock_rate_hz=1k"},
                {"NIDAQMX_SIM_EVENTS=" + events, "NIDAQMX_SIM_TIME_SCALE=" + outage.timeScale});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front()["event"], "header");

    const std::size_t gapAt = expectAcquisition(lines, 1, "Dev1");
    ASSERT_LT(gapAt, lines.size());
    const json& gap = lines[gapAt];
    ASSERT_EQ(gap["event"], "gap") << gap;
    EXPECT_EQ(gap["reason"], outage.reason);
    EXPECT_EQ(gap["daqmx_status"], outage.status);
    std::uint64_t before = 0;
    for (std::size_t i = 1; i < gapAt; ++i) {
        before += lines[i]["sample_count"].get<std::uint64_t>();
    }
    EXPECT_EQ(gap["last_sample_index"], before - 1);
    EXPECT_EQ(gap["device"], outage.deviceAfter);
    EXPECT_FALSE(gap["serial_number"].get<std::string>().empty());
    EXPECT_EQ(gap["estimated_from"], "wall_clock");

    if (outage.deviceAfter != "Dev1") {
        // This process's own driver learns the new name the same way, to say
        // what the renamed device delivers.
        DAQmxSim_Reset();
        ASSERT_EQ(
            DAQmxSim_ScheduleEventsJson((R"([{"at_s":0,"device":"Dev1","event":"unplug"},)"
                                         R"({"at_s":0,"device":"Dev1","event":"replug","as":")" +
                                         outage.deviceAfter + R"("}])")
                                            .c_str()),
            0);
        DAQmxSim_AdvanceTime(0.001);
    }
    const std::size_t endAt = expectAcquisition(lines, gapAt + 1, outage.deviceAfter);
    DAQmxSim_Reset();
    ASSERT_EQ(endAt + 1, lines.size()) << "one gap only";
    const json& end = lines[endAt];
    EXPECT_EQ(end["event"], "end");
    EXPECT_EQ(end["status"], "complete");
    EXPECT_EQ(end["gaps"], 1);
    EXPECT_EQ(end["errors"], 1) << "a recovered error still counts";
    // The run spans its three seconds: samples written and samples lost.
    EXPECT_EQ(end["samples_per_channel"].get<std::uint64_t>() +
                  end["estimated_lost_samples"].get<std::uint64_t>(),
              3000u);
    EXPECT_EQ(end["estimated_lost_samples"], gap["estimated_lost_samples"]);
    if (outage.deviceAfter != "Dev1") {
        EXPECT_TRUE(contains(run.err, "Dev1 came back as " + outage.deviceAfter));
    }
}

// Unpaced, simulated time moves with the samples delivered, so faults land on
// the same sample every run; a device has to be away for a while, which
// needs a clock that runs, and away long enough (half a second here) for a slow
// sanitizer build to see it missing.
INSTANTIATE_TEST_SUITE_P(
    ScheduledFaults, Recovery,
    testing::Values(Outage{"Overflow", R"([{"at_s":0.45,"device":"Dev1","event":"overflow"}])", "0",
                           "overflow", -200279, "Dev1"},
                    Outage{"TransferAbort",
                           R"([{"at_s":0.45,"device":"Dev1","event":"transfer_abort"}])", "0",
                           "transfer_abort", -50405, "Dev1"},
                    Outage{"Reset", R"([{"at_s":0.45,"device":"Dev1","event":"reset"}])", "0",
                           "device_reset", -88709, "Dev1"},
                    Outage{"Unplug", R"([{"at_s":1,"device":"Dev1","event":"unplug"},
                            {"at_s":6,"device":"Dev1","event":"replug"}])",
                           "10", "device_removed", -50405, "Dev1"},
                    Outage{"ReplugUnderAnotherName",
                           R"([{"at_s":1,"device":"Dev1","event":"unplug"},
                   {"at_s":6,"device":"Dev1","event":"replug","as":"Dev3","ready_after_s":0.3}])",
                           "10", "device_removed", -50405, "Dev3"},
                    Outage{"ResetPaced", R"([{"at_s":1,"device":"Dev1","event":"reset"}])", "10",
                           "device_reset", -88709, "Dev1"}),
    [](const testing::TestParamInfo<Outage>& info) { return info.param.name; });

TEST(Recovery, AStormOfUnplugsIsRiddenOutToTheEnd) {
    const test_support::TempDir dir;
    json events = json::array();
    for (int cycle = 0; cycle < 30; ++cycle) {
        const double at = 1.0 + 0.3 * cycle;
        events.push_back({{"at_s", at}, {"device", "Dev1"}, {"event", "unplug"}});
        events.push_back({{"at_s", at + 0.1}, {"device", "Dev1"}, {"event", "replug"}});
    }
    const auto run =
        runHost({"-q", "stream", "--recover", "--recover-timeout", "30", "--seconds", "14",
                 "ai_channels=Dev1/ai0", "samples_per_channel=50", "sample_clock_rate_hz=1k"},
                {"NIDAQMX_SIM_EVENTS=" + dir.write("events.json", events.dump()),
                 "NIDAQMX_SIM_TIME_SCALE=5"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = jsonLines(run.out);
    std::size_t lastGap = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].value("event", "") == "gap") {
            lastGap = i;
            // Away when the host looked, or back before it could tell.
            EXPECT_TRUE(lines[i]["reason"] == "device_removed" ||
                        lines[i]["reason"] == "transfer_abort")
                << lines[i];
        }
    }
    ASSERT_GT(lastGap, 0u) << "no outage was seen";
    EXPECT_FALSE(lines[lastGap + 1].contains("event")) << "no frame after the last gap";
    EXPECT_EQ(lines.back()["status"], "complete");
    EXPECT_EQ(lines.back()["samples_per_channel"].get<std::uint64_t>() +
                  lines.back()["estimated_lost_samples"].get<std::uint64_t>(),
              14000u);
}

TEST(Recovery, AnInterruptDuringAnOutageWritesTheOutageSoFar) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::string events =
        dir.write("events.json", R"([{"at_s":1,"device":"Dev1","event":"unplug"}])");
    host_tests::HostProcess host({"stream", "--recover", "ai_channels=Dev1/ai0",
                                  "samples_per_channel=100", "sample_clock_rate_hz=1k"},
                                 {"NIDAQMX_SIM_EVENTS=" + events, "NIDAQMX_SIM_TIME_SCALE=10"});
    ASSERT_TRUE(host.waitForErrorText("recovering", std::chrono::seconds(20)));
    host.sendSignal(SIGINT);
    const auto run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_GE(lines.size(), 3u);
    const json& gap = lines[lines.size() - 2];
    EXPECT_EQ(gap["event"], "gap") << gap;
    EXPECT_EQ(gap["reason"], "device_removed");
    EXPECT_GT(gap["estimated_lost_samples"], 0);
    EXPECT_EQ(lines.back()["status"], "interrupted");
    EXPECT_EQ(lines.back()["gaps"], 1);
}

TEST(Recovery, ADeviceThatNeverComesBackEndsTheRunAfterTheOutageBound) {
    const test_support::TempDir dir;
    const std::string events =
        dir.write("events.json", R"([{"at_s":1,"device":"Dev1","event":"unplug"}])");
    const auto run =
        runHost({"-q", "stream", "--recover", "--recover-timeout", "0.5", "--seconds", "5",
                 "ai_channels=Dev1/ai0", "samples_per_channel=100", "sample_clock_rate_hz=1k"},
                {"NIDAQMX_SIM_EVENTS=" + events, "NIDAQMX_SIM_TIME_SCALE=10"});
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = jsonLines(run.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2]["status"], "error");
    EXPECT_EQ(lines.back()["event"], "error");
    EXPECT_EQ(lines.back()["daqmx_status"], -50405);
    EXPECT_TRUE(contains(lines.back()["message"], "not recovered: gave up after 0.5 s"));
}

TEST(Recovery, WithoutRecoverOrPastMaxGapsTheFirstOutageEndsTheRun) {
    const test_support::TempDir dir;
    const std::string events =
        dir.write("events.json", R"([{"at_s":0.45,"device":"Dev1","event":"transfer_abort"}])");
    for (const auto& extra :
         std::vector<std::vector<std::string>>{{}, {"--recover", "--max-gaps", "0"}}) {
        std::vector<std::string> args = {
            "-q", "stream", "--seconds", "3", "samples_per_channel=100", "sample_clock_rate_hz=1k"};
        args.insert(args.begin() + 2, extra.begin(), extra.end());
        const auto run = runHost(args, {"NIDAQMX_SIM_EVENTS=" + events});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        const auto lines = jsonLines(run.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back()["daqmx_status"], -50405);
        EXPECT_EQ(lines[lines.size() - 2]["gaps"], 0);
    }
}

}  // namespace
