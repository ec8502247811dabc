// Stream endings and plug-in failures that the real driver cannot be made to
// produce from outside the process, played by the scripted stand-in plug-in.
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"

using host_tests::contains;
using host_tests::HostRun;
using host_tests::runHost;
using nlohmann::json;

namespace {

HostRun runScripted(const std::vector<std::string>& args,
                    const std::vector<std::string>& environment) {
    std::vector<std::string> full = {"--library", SCRIPTED_PLUGIN_PATH};
    full.insert(full.end(), args.begin(), args.end());
    return runHost(full, environment);
}

}  // namespace

TEST(ScriptedStream, ErrorStateEndsTheStreamWithAnErrorEventAndFailure) {
    const std::string message = "Streaming stopped: DAQmx error -200279: scripted overflow";
    const HostRun run =
        runScripted({"stream"}, {"SCRIPTED_FRAMES=1,2", "SCRIPTED_ERROR=" + message});
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = run.outLines();
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(json::parse(lines[0]).at("sequence_no"), 1);
    EXPECT_EQ(json::parse(lines[1]).at("sequence_no"), 2);
    EXPECT_EQ(json::parse(lines[2]), json({{"event", "error"}, {"message", message}}));
    EXPECT_TRUE(contains(run.err, "ni-usb-daq-host: " + message));
}

TEST(ScriptedStream, StopsByUnsubscribingThenStoppingThenDestroying) {
    const HostRun run = runScripted({"stream"}, {"SCRIPTED_FRAMES=1", "SCRIPTED_ERROR=gone"});
    const auto unsubscribe = run.err.find("scripted: unsubscribe 7");
    const auto stop = run.err.find("scripted: stop_stream");
    const auto destroyed = run.err.find("scripted: destroyed");
    ASSERT_NE(unsubscribe, std::string::npos) << run.err;
    ASSERT_NE(stop, std::string::npos) << run.err;
    ASSERT_NE(destroyed, std::string::npos) << run.err;
    EXPECT_LT(unsubscribe, stop);
    EXPECT_LT(stop, destroyed);
}

TEST(ScriptedStream, SequenceGapIsReportedAndTheFramesStillWritten) {
    const HostRun run = runScripted({"stream", "--frames", "3"}, {"SCRIPTED_FRAMES=1,2,4"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.outLines().size(), 3u);
    EXPECT_TRUE(contains(run.err, "sequence gap: expected frame 3, got 4 (1 missing)"));
}

TEST(ScriptedStream, CsvOfAnErroredStreamKeepsStdoutPureCsv) {
    const HostRun run = runScripted({"stream", "--format", "csv"},
                                    {"SCRIPTED_FRAMES=1,2", "SCRIPTED_ERROR=Streaming stopped: x"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "sample,Dev1/ai0\n0,0.5\n1,0.25\n2,0.5\n3,0.25\n");
    EXPECT_TRUE(contains(run.err, "Streaming stopped: x"));
}

TEST(ScriptedPlugin, ExceptionFromThePluginIsOneMessageAndTheStubIsStillFreed) {
    const HostRun run = runScripted({"caps"}, {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(run.err, "scripted: destroyed\nni-usb-daq-host: scripted exception\n");
}
