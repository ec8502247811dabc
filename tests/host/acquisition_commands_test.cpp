// read, stream and plot: what reaches standard output, row by row and frame
// by frame, how a stream ends, and the SVG file of a plot. Endings the real
// driver cannot be made to produce from outside the process are played by
// the scripted stand-in plug-in.

#include <csignal>
#include <filesystem>
#include <fstream>
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
using host_tests::split;
using nlohmann::json;

namespace {

HostRun runScripted(const std::string& args, const std::vector<std::string>& environment) {
    std::vector<std::string> full = {"--library", SCRIPTED_PLUGIN_PATH};
    for (const auto& word : split(args, ' ')) {
        full.push_back(word);
    }
    return runHost(full, environment);
}

/// The start tags of `xml`, after checking that its tags balance under one
/// root; any fault fails the test.
std::vector<std::string> startTags(const std::string& xml) {
    std::vector<std::string> tags;
    std::vector<std::string> open;
    for (std::size_t at = 0; (at = xml.find('<', at)) != std::string::npos;) {
        const auto end = xml.find('>', at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated tag at " << at;
            return {};
        }
        const std::string tag = xml.substr(at, end - at + 1);
        at = end + 1;
        if (tag.rfind("<?", 0) == 0 || tag.rfind("<!--", 0) == 0) {
            continue;
        }
        const bool closing = tag[1] == '/';
        const auto nameStart = closing ? 2u : 1u;
        const std::string name =
            tag.substr(nameStart, tag.find_first_of(" />", nameStart) - nameStart);
        if (closing && (open.empty() || open.back() != name)) {
            ADD_FAILURE() << "unbalanced </" << name << ">";
            return {};
        }
        if (closing) {
            open.pop_back();
            continue;
        }
        EXPECT_FALSE(open.empty() && !tags.empty()) << "a second root element <" << name << ">";
        tags.push_back(tag);
        if (tag[tag.size() - 2] != '/') {
            open.push_back(name);
        }
    }
    EXPECT_TRUE(open.empty()) << "unclosed <" << (open.empty() ? "" : open.back()) << ">";
    return tags;
}

}  // namespace

/// The lines of `text` that are not '#' comments.
static std::vector<std::string> dataLines(const std::string& text) {
    std::vector<std::string> lines;
    for (auto& line : split(text)) {
        if (line.rfind('#', 0) != 0) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

TEST(CsvOutput, HasAHeaderOfChannelNamesAndOneRowPerSampleCountedAcrossFrames) {
    const std::tuple<std::string, std::string, std::size_t> cases[] = {
        {"read --format csv ai_channels=Dev1/ai0:2 samples_per_channel=25",
         "sample,Dev1/ai0,Dev1/ai1,Dev1/ai2", 25},
        {"read --single --format csv ai_channels=Dev1/ai4:7",
         "sample,Dev1/ai4,Dev1/ai5,Dev1/ai6,Dev1/ai7", 1},
        {"stream --frames 3 --format csv ai_channels=Dev1/ai0:1 samples_per_channel=4",
         "sample,Dev1/ai0,Dev1/ai1", 12},
    };
    for (const auto& [args, header, rows] : cases) {
        SCOPED_TRACE(args);
        const HostRun run = runHost(split(args, ' '));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = dataLines(run.out);
        ASSERT_EQ(lines.size(), rows + 1) << run.out;
        EXPECT_EQ(lines[0], header);
        for (std::size_t s = 0; s < rows; ++s) {
            const auto row = split(lines[s + 1], ',');
            ASSERT_EQ(row.size(), split(header, ',').size()) << lines[s + 1];
            EXPECT_EQ(row[0], std::to_string(s));
            for (std::size_t c = 1, used = 0; c < row.size(); ++c) {
                EXPECT_EQ((std::stod(row[c], &used), used), row[c].size()) << lines[s + 1];
            }
        }
    }
}

TEST(ReadCommand, JsonIsTheResultWithTheFrameParsed) {
    const HostRun run = runHost({"read", "ai_channels=Dev1/ai0:1", "samples_per_channel=10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json frame = json::parse(run.out).at("frame");
    EXPECT_EQ(frame.at("sequence_no"), 0);
    EXPECT_EQ(frame.at("n_channels"), 2);
    ASSERT_EQ(frame.at("samples").size(), 2u);
    EXPECT_EQ(frame.at("samples").at(1).size(), 10u);
}

TEST(StreamCommand, FrameLimitGivesThatManyJsonLinesNumberedFromOne) {
    const HostRun run = runHost({"stream", "--frames", "5", "samples_per_channel=10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = split(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const json frame = json::parse(lines[i]);
        EXPECT_EQ(frame.at("sequence_no"), i + 1);
        EXPECT_EQ(frame.at("sample_count"), 10);
    }
    EXPECT_FALSE(contains(run.err, "sequence"));
}

TEST(StreamCommand, InterruptStopsTheStreamCleanly) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    // Paced in real time so the stream is still running when the signal comes.
    HostProcess host({"stream", "sample_clock_rate_hz=1000", "samples_per_channel=10"},
                     {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_TRUE(host.waitForOutputLines(2, std::chrono::seconds(20)));
    host.sendSignal(SIGINT);
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "interrupted; stream stopped"));
    const auto lines = split(run.out);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(json::parse(lines[i]).at("sequence_no"), i + 1);
    }
}

TEST(StreamCommand, TimeLimitEndsAStreamWithoutAFrameLimit) {
    const auto started = std::chrono::steady_clock::now();
    const HostRun run = runHost({"stream", "--seconds", "0.3", "samples_per_channel=50"},
                                {"NIDAQMX_SIM_TIME_SCALE=1"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(ScriptedStream, ErrorStateEndsTheStreamWithAnErrorEventThenUnsubscribesStopsAndFrees) {
    const std::string message = "Streaming stopped: DAQmx error -200284: scripted failure";
    const HostRun run = runScripted("stream", {"SCRIPTED_FRAMES=1,2", "SCRIPTED_ERROR=" + message});
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = split(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(json::parse(lines[0]).at("sequence_no"), 1);
    EXPECT_EQ(json::parse(lines[1]).at("sequence_no"), 2);
    EXPECT_EQ(json::parse(lines[2]), json({{"event", "error"}, {"message", message}}));
    EXPECT_TRUE(contains(run.err, "ni-usb-daq-host: " + message));
    // The subscription goes first, so that no frame arrives at a stopped task.
    const auto stopped = run.err.find("scripted: stop_stream");
    const auto destroyed = run.err.find("scripted: destroyed");
    EXPECT_LT(run.err.find("scripted: unsubscribe 7"), stopped) << run.err;
    EXPECT_LT(stopped, destroyed) << run.err;
    EXPECT_NE(destroyed, std::string::npos) << run.err;
}

TEST(ScriptedStream, BufferOverflowIsExplainedInWordsWithItsStatus) {
    const HostRun run = runScripted(
        "stream",
        {"SCRIPTED_FRAMES=1", "SCRIPTED_ERROR=Streaming stopped: DAQmx error -200279: x"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err,
                         "ni-usb-daq-host: the consumer could not keep up: raise "
                         "samples_per_channel, lower the rate, or read faster (driver status "
                         "-200279"));
}

TEST(ScriptedStream, SequenceGapIsReportedAndTheFramesStillWritten) {
    const HostRun run = runScripted("stream --frames 3", {"SCRIPTED_FRAMES=1,2,4"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(split(run.out).size(), 3u);
    EXPECT_TRUE(contains(run.err, "sequence gap: expected frame 3, got 4 (1 missing)"));
}

TEST(ScriptedStream, CsvOfAnErroredStreamKeepsStdoutPureCsv) {
    const HostRun run = runScripted("stream --format csv",
                                    {"SCRIPTED_FRAMES=1,2", "SCRIPTED_ERROR=Streaming stopped: x"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out.substr(run.out.find("\nsample,") + 1),
              "sample,Dev1/ai0\n0,0.5\n1,0.25\n2,0.5\n3,0.25\n");
    EXPECT_EQ(run.out.rfind("# device: Dev1\n", 0), 0u) << run.out;
    EXPECT_TRUE(contains(run.err, "Streaming stopped: x"));
}

TEST(PlotCommand, FiniteAndStreamedPlotsAreWellFormedSvgWithOneTracePerChannel) {
    const auto directory = std::filesystem::temp_directory_path() /
                           ("host-plot-" + std::to_string(host_tests::currentProcessId()));
    std::filesystem::create_directories(directory);
    const std::string svgPath = (directory / "plot.svg").string();
    struct Plot {
        std::string settings;
        std::size_t traces;
        std::size_t minPoints, maxPoints;  ///< per trace
    };
    const Plot plots[] = {
        {"ai_channels=Dev1/ai0:2 samples_per_channel=50", 3, 50, 50},
        {"ai_channels=Dev1/ai0 samples_per_channel=20000", 1, 1001, 2000},  // thinned
        {"--stream-seconds 0.2 ai_channels=Dev1/ai0:1 samples_per_channel=20", 2, 1, 100000},
    };
    for (const auto& plot : plots) {
        SCOPED_TRACE(plot.settings);
        std::vector<std::string> args = {"plot", "--out", svgPath};
        for (const auto& word : split(plot.settings, ' ')) {
            args.push_back(word);
        }
        const HostRun run = runHost(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(nlohmann::json::parse(run.out).at("svg"), svgPath);
        std::stringstream svg;
        svg << std::ifstream(svgPath).rdbuf();
        const auto tags = startTags(svg.str());
        ASSERT_FALSE(tags.empty());
        EXPECT_EQ(tags.front().rfind("<svg ", 0), 0u);
        std::size_t traces = 0;
        for (const auto& tag : tags) {
            if (tag.find("class=\"trace\"") == std::string::npos) {
                continue;
            }
            ++traces;
            // Points of a trace: the M and L commands of its path.
            const auto d = tag.find(" d=\"") + 4;
            const std::string path = tag.substr(d, tag.find('"', d) - d);
            const auto points = static_cast<std::size_t>(std::count_if(
                path.begin(), path.end(), [](char c) { return c == 'M' || c == 'L'; }));
            EXPECT_GE(points, plot.minPoints);
            EXPECT_LE(points, plot.maxPoints);
        }
        EXPECT_EQ(traces, plot.traces);
        for (const auto* label : {">Dev1/ai0<", ">Time (s)<", ">Voltage (V)<"}) {
            EXPECT_NE(svg.str().find(label), std::string::npos) << label;
        }
    }
    std::filesystem::remove_all(directory);
}
