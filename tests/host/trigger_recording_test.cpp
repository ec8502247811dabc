// Triggered reads of the host program: the header states the trigger the
// driver read back, and a trigger that never comes ends the read with exit 1.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "daqmx/sim/NIDAQmxSimControl.h"
#include "support/TestSupport.h"

namespace {

using host_tests::HostRun;
using host_tests::runHost;
using nlohmann::json;

TEST(TriggeredRead, TheHeaderStatesTheTriggersAsTheDriverReadThemBack) {
    const test_support::TempDir dir;
    const std::string events = dir.write(
        "events.json",
        R"([{"at_s": 0.5, "device": "Dev1", "event": "pfi_edge", "terminal": "PFI2", "edge": "RISING"}])");
    const HostRun run = runHost(
        {"read", "--header", "samples_per_channel=1000", "reference_trigger_type=DIGITAL_EDGE",
         "reference_trigger_source=Dev1/PFI2", "pretrigger_samples=200"},
        {"NIDAQMX_SIM_EVENTS=" + events});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json document = json::parse(run.out);
    EXPECT_EQ(document.at("header").at("reference_trigger"),
              json::parse(R"({"edge":"RISING","pretrigger_samples":200,"source":"/Dev1/PFI2",
                              "type":"DIGITAL_EDGE"})"));
    EXPECT_FALSE(document.at("header").contains("start_trigger"));
    EXPECT_EQ(document.at("frame").at("pretrigger_samples"), 200);
}

TEST(TriggeredRead, ATriggerThatDoesNotComeEndsTheReadWithExitOne) {
    const HostRun run =
        runHost({"read", "--trigger-timeout", "0.2", "start_trigger_type=digital_edge",
                 "start_trigger_source=/Dev1/PFI0"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find(std::to_string(DAQmxErrorSamplesNotYetAvailable)), std::string::npos)
        << run.err;
}

TEST(TriggeredStream, StartsAtTheEdgeAndStatesItsTriggerOrGivesUpAfterTheTimeout) {
    const test_support::TempDir dir;
    const std::string events = dir.write(
        "events.json",
        R"([{"at_s": 0.3, "device": "Dev1", "event": "pfi_edge", "terminal": "PFI0", "edge": "RISING"}])");
    const std::string out = dir.file("run.jsonl");
    const std::vector<std::string> triggered = {
        "start_trigger_type=DIGITAL_EDGE", "start_trigger_source=Dev1/PFI0",
        "sample_clock_rate_hz=1000", "samples_per_channel=100"};
    std::vector<std::string> args = {"stream", "--samples", "300", "--trigger-timeout",
                                     "20",     "--out",     out};
    args.insert(args.end(), triggered.begin(), triggered.end());
    const HostRun run = runHost(args, {"NIDAQMX_SIM_EVENTS=" + events});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = host_tests::split(host_tests::fileText(out));
    const json header = json::parse(lines.front());
    EXPECT_EQ(header.at("start_trigger"),
              json::parse(R"({"edge":"RISING","source":"/Dev1/PFI0","type":"DIGITAL_EDGE"})"));
    // The first sample is the one at the edge: 0.3 s in at 1 kS/s.
    const json frame = json::parse(lines.at(1));
    EXPECT_EQ(frame.at("samples").at(0).at(0).get<double>(),
              DAQmxSim_ExpectedSampleAt("Dev1/ai0", 300, 1000.0, -10.0, 10.0));

    // No edge: the wait ends at the timeout, and nothing takes the file's name.
    const std::string never = dir.file("never.jsonl");
    args = {"stream", "--trigger-timeout", "0.2", "--out", never};
    args.insert(args.end(), triggered.begin(), triggered.end());
    const HostRun waited = runHost(args, {"NIDAQMX_SIM_TIME_SCALE=1"});
    EXPECT_EQ(waited.exitCode, 1) << waited.err;
    EXPECT_TRUE(host_tests::contains(waited.err, "the trigger did not come within 0.2 s"));
    EXPECT_FALSE(std::filesystem::exists(never));
}

}  // namespace
