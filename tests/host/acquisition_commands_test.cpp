// read and stream: what reaches standard output, row by row and frame by
// frame, and how a stream ends.
#include <csignal>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"

using host_tests::contains;
using host_tests::HostProcess;
using host_tests::HostRun;
using host_tests::runHost;
using nlohmann::json;

namespace {

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream stream(line);
    for (std::string field; std::getline(stream, field, ',');) {
        result.push_back(field);
    }
    return result;
}

/// Checks a CSV data row: its index and that every value is a number.
void expectRow(const std::string& line, std::size_t index, std::size_t channels) {
    const auto row = fields(line);
    ASSERT_EQ(row.size(), channels + 1) << line;
    EXPECT_EQ(row[0], std::to_string(index)) << line;
    for (std::size_t c = 1; c < row.size(); ++c) {
        std::size_t used = 0;
        std::stod(row[c], &used);
        EXPECT_EQ(used, row[c].size()) << line;
    }
}

}  // namespace

TEST(CsvOutput, HasAHeaderOfChannelNamesAndOneRowPerSampleCountedAcrossFrames) {
    const std::vector<std::string> read25 = {"read", "--format", "csv", "ai_channels=Dev1/ai0:2",
                                             "samples_per_channel=25"};
    const std::vector<std::string> single = {"read", "--single", "--format", "csv",
                                             "ai_channels=Dev1/ai4:7"};
    const std::vector<std::string> stream = {"stream",
                                             "--frames",
                                             "3",
                                             "--format",
                                             "csv",
                                             "ai_channels=Dev1/ai0:1",
                                             "samples_per_channel=4"};
    const std::tuple<std::vector<std::string>, std::string, std::size_t> cases[] = {
        {read25, "sample,Dev1/ai0,Dev1/ai1,Dev1/ai2", 25},
        {single, "sample,Dev1/ai4,Dev1/ai5,Dev1/ai6,Dev1/ai7", 1},
        {stream, "sample,Dev1/ai0,Dev1/ai1", 12},
    };
    for (const auto& [args, header, rows] : cases) {
        const HostRun run = runHost(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = run.outLines();
        ASSERT_EQ(lines.size(), rows + 1) << run.out;
        EXPECT_EQ(lines[0], header);
        for (std::size_t s = 0; s < rows; ++s) {
            expectRow(lines[s + 1], s, fields(header).size() - 1);
        }
    }
}

TEST(ReadCommand, JsonIsTheResultWithTheFrameParsed) {
    const HostRun run = runHost({"read", "ai_channels=Dev1/ai0:1", "samples_per_channel=10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json frame = json::parse(run.out).at("frame");
    EXPECT_EQ(frame.at("sequence_no"), 0);
    EXPECT_EQ(frame.at("n_channels"), 2);
    EXPECT_EQ(frame.at("sample_count"), 10);
    ASSERT_EQ(frame.at("samples").size(), 2u);
    EXPECT_EQ(frame.at("samples").at(1).size(), 10u);
}

TEST(ReadCommand, AModeTheUserGivesIsNotOverridden) {
    const HostRun run = runHost({"read", "sample_mode=CONTINUOUS"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err, "read_finite failed: read_finite requires sample_mode=FINITE"));
}

TEST(StreamCommand, FrameLimitGivesThatManyJsonLinesNumberedFromOne) {
    const HostRun run = runHost({"stream", "--frames", "5", "samples_per_channel=10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = run.outLines();
    ASSERT_EQ(lines.size(), 5u) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const json frame = json::parse(lines[i]);
        EXPECT_EQ(frame.at("sequence_no"), i + 1);
        EXPECT_EQ(frame.at("sample_count"), 10);
    }
    EXPECT_FALSE(contains(run.err, "sequence"));
}

TEST(StreamCommand, InterruptStopsTheStreamCleanly) {
    // Paced in real time so the stream is still running when the signal comes.
    HostProcess host({"stream", "sample_clock_rate_hz=1000", "samples_per_channel=10"},
                     {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_TRUE(host.waitForOutputLines(2, std::chrono::seconds(20)));
    host.sendSignal(SIGINT);
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "interrupted; stream stopped"));
    const auto lines = run.outLines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(json::parse(lines[i]).at("sequence_no"), i + 1);
    }
}

TEST(StreamCommand, TimeLimitEndsAStreamWithoutAFrameLimit) {
    const auto started = std::chrono::steady_clock::now();
    const HostRun run = runHost({"stream", "--seconds", "0.3", "samples_per_channel=50"},
                                {"NIDAQMX_SIM_TIME_SCALE=1"});
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST(StreamCommand, ConfigureFailureEndsBeforeAnyFrame) {
    const HostRun run = runHost({"stream", "--frames", "1", "ai_channels=Dev9/ai0"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(contains(run.err, "configure failed: "));
}
