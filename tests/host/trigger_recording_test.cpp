// Triggered reads of the host program: the header states the trigger the
// driver read back, and a trigger that never comes ends the read with exit 1.
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
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

}  // namespace
