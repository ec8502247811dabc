// read, stream and plot: what reaches the recording, row by row and frame by
// frame, how a run ends and what its end says, what a failed run leaves
// behind, and the SVG file of a plot. Endings the real driver cannot be made
// to produce from outside the process are played by the scripted stand-in
// plug-in.

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "daqmx/sim/NIDAQmxSimControl.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"

using host_tests::contains;
using host_tests::dataLines;
using host_tests::expectRefusal;
using host_tests::fileText;
using host_tests::HostProcess;
using host_tests::HostRun;
using host_tests::runHost;
using host_tests::split;
using nlohmann::json;

namespace {

std::vector<std::string> words(const std::string& args) {
    return split(args, ' ');
}

HostRun runScripted(const std::string& args, const std::vector<std::string>& environment) {
    std::vector<std::string> full = {"--library", SCRIPTED_PLUGIN_PATH};
    for (const auto& word : words(args)) {
        full.push_back(word);
    }
    return runHost(full, environment);
}

/// The value of the "# key: ..." comment line, or "" when there is none.
std::string comment(const std::string& csv, const std::string& key) {
    for (const auto& line : split(csv)) {
        if (line.rfind("# " + key + ": ", 0) == 0) {
            return line.substr(key.size() + 4);
        }
    }
    return "";
}

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> lines;
    for (const auto& line : split(text)) {
        lines.push_back(json::parse(line));
    }
    return lines;
}

/// The frames of a JSON lines recording, without its events.
std::vector<json> frames(const std::vector<json>& lines) {
    std::vector<json> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [](const json& line) { return !line.contains("event"); });
    return found;
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
        const HostRun run = runHost(words(args));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = dataLines(run.out);
        ASSERT_EQ(lines.size(), rows + 1) << run.out;
        EXPECT_EQ(lines[0], header);
        EXPECT_EQ(comment(run.out, "digital_lines"), "");
        for (std::size_t s = 0; s < rows; ++s) {
            const auto row = split(lines[s + 1], ',');
            ASSERT_EQ(row.size(), split(header, ',').size()) << lines[s + 1];
            EXPECT_EQ(row[0], std::to_string(s));
            for (std::size_t c = 1, used = 0; c < row.size(); ++c) {
                EXPECT_EQ((std::stod(row[c], &used), used), row[c].size()) << lines[s + 1];
            }
        }
        // The last line sums the recording up.
        EXPECT_EQ(split(run.out).back().rfind(
                      "# end: complete; samples_per_channel=" + std::to_string(rows) + " ", 0),
                  0u)
            << run.out;
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

TEST(ReadCommand, ALongFiniteReadWaitsForItsWholeBlock) {
    // 15 s of samples, longer than the default 10 s timeout, in scaled time.
    const HostRun run =
        runHost({"read", "--format", "csv", "samples_per_channel=15000", "sample_clock_rate_hz=1k"},
                {"NIDAQMX_SIM_TIME_SCALE=50"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dataLines(run.out).size(), 15001u);
}

TEST(ReadCommand, TheHeaderNamesTheDeviceTheChannelsBelongTo) {
    const HostRun run =
        runHost({"read", "--format", "csv", "ai_channels=Dev2/ai1:2", "samples_per_channel=2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(comment(run.out, "device").rfind("Dev2 (USB-", 0), 0u) << run.out;
    EXPECT_EQ(comment(run.out, "channels"), "Dev2/ai1 Dev2/ai2");

    const HostRun refused = runHost({"--device", "Dev2", "read", "ai_channels=Dev1/ai0"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.out.empty());
    EXPECT_TRUE(contains(refused.err,
                         "--device Dev2 does not own ai_channels=Dev1/ai0: Dev1/ai0 "
                         "belongs to Dev1"));
}

TEST(StreamCommand, JsonLinesAreTheHeaderTheFramesNumberedFromOneAndTheEnd) {
    const HostRun run = runHost({"stream", "--frames", "5", "samples_per_channel=10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines.front().at("event"), "header");
    EXPECT_EQ(lines.front().at("channels"), json({"Dev1/ai0"}));
    EXPECT_GT(lines.front().at("sample_rate_hz").get<double>(), 0);
    const auto streamed = frames(lines);
    ASSERT_EQ(streamed.size(), 5u);
    for (std::size_t i = 0; i < streamed.size(); ++i) {
        EXPECT_EQ(streamed[i].at("sequence_no"), i + 1);
        EXPECT_EQ(streamed[i].at("sample_count"), 10);
    }
    EXPECT_EQ(lines.back(), json({{"event", "end"},
                                  {"status", "complete"},
                                  {"samples_per_channel", 50},
                                  {"frames", 5},
                                  {"duration_s", lines.back().at("duration_s")},
                                  {"gaps", 0},
                                  {"estimated_lost_samples", 0},
                                  {"errors", 0}}));
    EXPECT_FALSE(contains(run.err, "sequence"));

    const HostRun bare = runHost({"stream", "--frames", "2", "--no-header"});
    ASSERT_EQ(bare.exitCode, 0) << bare.err;
    const auto bareLines = jsonLines(bare.out);
    ASSERT_EQ(bareLines.size(), 3u);
    EXPECT_EQ(bareLines.front().at("sequence_no"), 1);
}

TEST(StreamCommand, SamplesAndSecondsGiveExactlyThatManySamplesCuttingTheLastFrame) {
    struct Case {
        std::string args;
        std::size_t samples;
        std::size_t lastFrame;
    };
    const Case cases[] = {
        {"--samples 7 samples_per_channel=3", 7, 1},
        {"--samples 6 samples_per_channel=3", 6, 3},
        {"--seconds 1 samples_per_channel=250 sample_clock_rate_hz=1000", 1000, 250},
        {"--seconds 0.0105 samples_per_channel=4 sample_clock_rate_hz=1000", 11, 3},  // rounded
        {"--samples 5 --frames 1 samples_per_channel=3", 3, 3},  // whichever comes first
        // Counts and seconds are written as the settings of their kind are.
        {"--samples 1.5k samples_per_channel=400", 1500, 300},
        {"--seconds 25ms samples_per_channel=10 sample_clock_rate_hz=1k", 25, 5},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.args);
        for (const std::string format : {"jsonl", "csv"}) {
            const HostRun run = runHost(words("stream --format " + format + " " + test.args));
            ASSERT_EQ(run.exitCode, 0) << run.err;
            if (format == "csv") {
                EXPECT_EQ(dataLines(run.out).size(), test.samples + 1);
                continue;
            }
            const auto streamed = frames(jsonLines(run.out));
            ASSERT_FALSE(streamed.empty());
            std::size_t total = 0;
            for (const auto& frame : streamed) {
                total += frame.at("sample_count").get<std::size_t>();
                EXPECT_EQ(frame.at("samples").at(0).size(), frame.at("sample_count"));
            }
            EXPECT_EQ(total, test.samples);
            EXPECT_EQ(streamed.back().at("sample_count"), test.lastFrame);
            EXPECT_EQ(jsonLines(run.out).back().at("samples_per_channel"), test.samples);
        }
    }
}

// CSV is recorded from the binary blocks, JSON lines from the frame texts, and
// --text-frames makes CSV read the texts instead: each holds the driver's own
// samples bit for bit, up to exactly the sample limit.
TEST(StreamCommand, CsvFromBinaryBlocksHoldsTheDriversSamplesAsTheFrameTextsDo) {
    const std::string settings =
        "--samples 2500 ai_channels=Dev1/ai0:3 samples_per_channel=1000 sample_clock_rate_hz=20k";
    const auto expected = [](std::size_t channel, std::uint64_t index) {
        const std::string name = "Dev1/ai" + std::to_string(channel);
        return DAQmxSim_ExpectedSampleAt(name.c_str(), index, 20000.0, -10.0, 10.0);
    };
    for (const std::string way : {"", "--text-frames "}) {
        SCOPED_TRACE(way);
        const HostRun csv = runHost(words("stream --format csv " + way + settings));
        ASSERT_EQ(csv.exitCode, 0) << csv.err;
        const auto rows = dataLines(csv.out);
        ASSERT_EQ(rows.size(), 2501u);
        for (std::uint64_t s = 0; s < 2500; ++s) {
            const auto cells = split(rows[s + 1], ',');
            ASSERT_EQ(cells.size(), 5u) << rows[s + 1];
            ASSERT_EQ(cells[0], std::to_string(s));
            for (std::size_t c = 0; c < 4; ++c) {
                ASSERT_EQ(std::strtod(cells[c + 1].c_str(), nullptr), expected(c, s))
                    << "channel " << c << " sample " << s << ": " << cells[c + 1];
            }
        }
    }
    const HostRun jsonl = runHost(words("stream " + settings));
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err;
    std::uint64_t index = 0;
    for (const auto& frame : frames(jsonLines(jsonl.out))) {
        const auto& samples = frame.at("samples");
        for (std::size_t c = 0; c < 4; ++c) {
            for (std::size_t s = 0; s < samples.at(c).size(); ++s) {
                ASSERT_EQ(samples[c][s].get<double>(), expected(c, index + s));
            }
        }
        index += frame.at("sample_count").get<std::uint64_t>();
    }
    EXPECT_EQ(index, 2500u);
}

TEST(StreamCommand, InterruptEndsTheAcquisitionButEveryReceivedFrameIsWritten) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::string out = dir.file("run.jsonl");
    // Paced so the stream is still running when the signal comes.
    HostProcess host(
        {"stream", "--out", out, "sample_clock_rate_hz=1000", "samples_per_channel=10"},
        {"NIDAQMX_SIM_TIME_SCALE=5"});
    // Stop requests are watched from before the driver is configured.
    ASSERT_TRUE(host.waitForErrorText("sample clock", std::chrono::seconds(20)));
    host.sendSignal(SIGINT);
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "interrupted; stream stopped after "));
    const auto lines = jsonLines(fileText(out));
    ASSERT_GE(lines.size(), 2u);
    const auto streamed = frames(lines);
    for (std::size_t i = 0; i < streamed.size(); ++i) {
        EXPECT_EQ(streamed[i].at("sequence_no"), i + 1);
    }
    EXPECT_EQ(lines.back().at("status"), "interrupted");
    EXPECT_EQ(lines.back().at("frames"), streamed.size());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"run.jsonl"});
}

TEST(StreamCommand, ASecondInterruptEndsAtOnceWithTheRecordingInPlace) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::string out = dir.file("run.jsonl");
    // The stand-in's stop never returns, as a driver stuck in a read.
    HostProcess host({"--library", SCRIPTED_PLUGIN_PATH, "stream", "--out", out},
                     {"SCRIPTED_FRAMES=1,2,3", "SCRIPTED_STOP_HANGS=1"});
    ASSERT_TRUE(host.waitForErrorText("scripted: delivered", std::chrono::seconds(20)));
    host.sendSignal(SIGINT);
    ASSERT_TRUE(host.waitForErrorText("scripted: stop_stream", std::chrono::seconds(20)));
    EXPECT_TRUE(host.waitForErrorText("stopping...", std::chrono::seconds(1)));
    host.sendSignal(SIGINT);
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 130) << run.err;
    const auto lines = jsonLines(fileText(out));
    ASSERT_EQ(lines.size(), 5u) << fileText(out);
    EXPECT_EQ(lines.back().at("status"), "interrupted");
    EXPECT_EQ(lines.back().at("frames"), 3);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"run.jsonl"});
}

TEST(StreamCommand, AReaderThatFallsBehindIsReportedWhenTheQueueFillsNotOnlyAtAnOverflow) {
    if (const auto reason = host_tests::shellUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::string err = dir.file("err.txt");
    // The reader takes nothing until the warning is there: only a report made
    // while the output is stuck can let the run go on. About 80 MB of frames
    // against a 32 MiB queue; the unpaced simulator never overflows.
    const std::string pipeline =
        std::string("'") + NI_USB_DAQ_HOST_PATH +
        "' -q stream --frames 50 ai_channels=Dev1/ai0:7 samples_per_channel=10000 2>'" + err +
        "' | { i=0; while ! grep -q 'cannot keep up' '" + err +
        "' && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; wc -l; }";
    HostProcess shell({"-c", pipeline}, {}, "/bin/sh");
    const HostRun run = shell.finish(std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "52\n");  // header, 50 frames, end: nothing lost
    const std::string said = fileText(err);
    EXPECT_TRUE(contains(said,
                         "ni-usb-daq-host: warning: the output cannot keep up: the host's 32 MiB "
                         "frame queue is full and the driver's stream thread waits; the driver's "
                         "buffer overflows if this goes on\n"));
    EXPECT_TRUE(contains(said, " time(s) the output fell behind, in 50 frames"));
}

TEST(StreamMessages, ARunThatEndsAtItsLimitSaysWhatItRecordedInOneLineUnlessQuiet) {
    const test_support::TempDir dir;
    const std::string out = dir.file("run.csv");
    const std::string args = "stream --frames 3 --out " + out + " samples_per_channel=5";
    const HostRun run = runHost(words(args));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "ni-usb-daq-host: " + out +
                                      ": 3 frames, 15 samples per channel, 0 gaps, 0.015 s\n"));
    const HostRun quiet = runHost(words("-q " + args));
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, "samples per channel"));
}

TEST(StreamMessages, WithoutATerminalAPlainProgressLineComesEveryIntervalUnlessQuiet) {
    // Paced: about half a second, so that the interval passes more than once.
    const std::string args =
        "stream --seconds 0.5 --progress-interval 0.1 samples_per_channel=50 "
        "sample_clock_rate_hz=1k";
    const HostRun run = runHost(words(args), {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(contains(run.err, "\r"));
    std::size_t progress = 0;
    for (const auto& line : split(run.err)) {
        if (line.rfind("ni-usb-daq-host: ", 0) == 0 && contains(line, " s: frames ")) {
            ++progress;
            EXPECT_TRUE(contains(line, " samples/s | errors 0")) << line;
        }
    }
    EXPECT_GE(progress, 2u) << run.err;
    const HostRun quiet = runHost(words("-q " + args), {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, "frames ")) << quiet.err;
    // Ten seconds by default: a short run has none.
    EXPECT_FALSE(contains(runHost({"stream", "--frames", "2"}).err, " s: frames "));
}

// An overflow under --recover makes the plug-in warn while the progress line
// is up, and the program report the recovery: each must begin a line.
TEST(StreamMessages, OnATerminalEveryMessageBeginsALineOfItsOwn) {
    const std::filesystem::path script = "/usr/bin/script";
    if (const auto reason = host_tests::shellUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    if (!std::filesystem::exists(script)) {
        GTEST_SKIP() << "no " << script << " to give the program a terminal";
    }
    const test_support::TempDir dir;
    const std::string events =
        dir.write("events.json", R"([{"at_s":0.6,"device":"Dev1","event":"overflow"}])");
    const std::string command = std::string("'") + NI_USB_DAQ_HOST_PATH +
                                "' stream --recover --seconds 1.5 --out '" + dir.file("run.jsonl") +
                                "' samples_per_channel=100 sample_clock_rate_hz=1k";
    // The terminal carries standard error (and the empty standard output).
    const HostRun run =
        HostProcess({"-q", "-e", "-c", command, "/dev/null"},
                    {"NIDAQMX_SIM_EVENTS=" + events, "NIDAQMX_SIM_TIME_SCALE=1"}, script.string())
            .finish();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string& shown = run.out;
    EXPECT_TRUE(contains(shown, "\rframes ")) << shown;
    EXPECT_TRUE(contains(shown, "[ni-usb-daq W] ")) << shown;
    EXPECT_TRUE(contains(shown, "recovered on Dev1")) << shown;
    for (const std::string message : {"[ni-usb-daq ", "ni-usb-daq-host: "}) {
        for (auto at = shown.find(message); at != std::string::npos;
             at = shown.find(message, at + 1)) {
            EXPECT_TRUE(at == 0 || shown[at - 1] == '\n')
                << "a message on the progress line: " << shown.substr(at > 80 ? at - 80 : 0, 160);
        }
    }
}

TEST(StreamMessages, APlugInWarningThatRepeatsIsPrintedOnceOnOneLineThenCounted) {
    if (const auto reason = test_support::platform::separateCppRuntimes()) {
        GTEST_SKIP() << "the plug-in's lines do not pass the program: " << *reason;
    }
    const test_support::TempDir dir;
    const std::string events =
        dir.write("events.json", R"([{"at_s":0.45,"device":"Dev1","event":"overflow"}])");
    const HostRun run = runHost(words("-q stream --recover --seconds 1 samples_per_channel=100 "
                                      "sample_clock_rate_hz=1k"),
                                {"NIDAQMX_SIM_EVENTS=" + events});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> warnings;
    std::string repeats;
    for (const auto& line : split(run.err)) {
        if (line.rfind("[ni-usb-daq W] AcquisitionEngine: samples lost", 0) == 0) {
            warnings.push_back(line);
        } else if (line.rfind("[ni-usb-daq W] last message repeated ", 0) == 0) {
            repeats = line;
        }
    }
    ASSERT_EQ(warnings.size(), 1u) << run.err;
    // The driver's extended error text stays on the line of its warning.
    EXPECT_TRUE(contains(warnings.front(), " | Status Code: -200279), continuing"));
    EXPECT_TRUE(repeats.ends_with(" times")) << run.err;
}

TEST(Recordings, AFailedCommandLeavesAnExistingFileAsItWasAndCreatesNone) {
    const test_support::TempDir dir;
    const std::string keep = dir.file("keep.csv");
    const std::string fresh = dir.file("fresh.csv");
    const std::string failures[] = {
        "read --out {} sample_clock_rate_hz=300k",
        "--device Dev9 read --out {}",
        "read --out {} ai_channels=Dev1/ai99",
        "stream --out {} --frames 2 ai_channels=Dev1/ai99",
    };
    for (const auto& failure : failures) {
        for (const auto& path : {keep, fresh}) {
            SCOPED_TRACE(failure + " " + path);
            std::ofstream(keep, std::ios::binary) << "keep\n";
            std::vector<std::string> args;
            for (const auto& word : words(failure)) {
                args.push_back(word == "{}" ? path : word);
            }
            const HostRun run = runHost(args);
            EXPECT_EQ(run.exitCode, 1) << run.err;
            EXPECT_EQ(fileText(keep), "keep\n");
            EXPECT_EQ(dir.names(), std::vector<std::string>{"keep.csv"});
        }
    }
    // Success replaces it whole.
    const HostRun run = runHost({"read", "--out", keep, "samples_per_channel=3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dataLines(fileText(keep)).size(), 4u);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"keep.csv"});
}

TEST(Recordings, ALinkedFileIsReplacedAndTheLinkKept) {
    if (const auto reason = test_support::platform::symlinksUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    std::ofstream(dir.file("real.csv")) << "old\n";
    std::filesystem::create_symlink("real.csv", dir.file("link.csv"));
    const HostRun run = runHost({"read", "--out", dir.file("link.csv"), "samples_per_channel=2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.csv")));
    EXPECT_EQ(dataLines(fileText(dir.file("real.csv"))).size(), 3u);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"link.csv", "real.csv"}));
}

TEST(Recordings, InterruptingAReadOrAPlotSaysSoAndLeavesTheFileAsItWas) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::pair<std::string, std::string> commands[] = {
        {"read", dir.file("keep.csv")},
        {"plot", dir.file("keep.svg")},
    };
    for (const auto& [command, path] : commands) {
        SCOPED_TRACE(command);
        std::ofstream(path, std::ios::binary) << "keep\n";
        // 100 s of samples in real time: only the signal ends it.
        HostProcess host({command, "--out", path, "samples_per_channel=100000"},
                         {"NIDAQMX_SIM_TIME_SCALE=1"});
        ASSERT_TRUE(host.waitForErrorText("sample clock", std::chrono::seconds(20)));
        host.sendSignal(SIGINT);
        const HostRun run = host.finish(std::chrono::seconds(20));
        EXPECT_EQ(run.exitCode, 130);
        EXPECT_TRUE(contains(run.err, command + ": interrupted; nothing written"));
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(fileText(path), "keep\n");
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"keep.csv", "keep.svg"}));
}

TEST(ScriptedStream, TheHeaderStatesTheRangeAndTheExactRateTheDriverReported) {
    const HostRun csv = runScripted(
        "stream --frames 2 --format csv --time voltage_range_min=-0.5 "
        "voltage_range_max=0.5",
        {"SCRIPTED_FRAMES=1,2"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(comment(csv.out, "voltage_range_v"), "-1 to 1");
    EXPECT_EQ(comment(csv.out, "sample_rate_hz"), "1000.5 (achieved; requested 1000)");
    const auto rows = dataLines(csv.out);
    ASSERT_EQ(rows.size(), 5u);
    // Index over the exact rate, not over its six-decimal rounding.
    EXPECT_EQ(std::stod(split(rows[3], ',')[1]), 2 / 1000.5) << rows[3];

    const HostRun jsonl = runScripted("stream --frames 1", {"SCRIPTED_FRAMES=1"});
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err;
    const json header = jsonLines(jsonl.out).front();
    EXPECT_EQ(header.at("voltage_ranges_v"), json::parse("[[-1.0,1.0]]"));
    EXPECT_EQ(header.at("sample_rate_hz"), 1000.5);
    EXPECT_EQ(header.at("input_buffer_samples_per_channel"), 1000);
}

TEST(ScriptedStream, DriverErrorEndsTheRecordingWithTheSummaryThenTheErrorAndFailsTheCommand) {
    const std::string message = "Streaming stopped: the device's buffer overflowed";
    const std::vector<std::string> environment = {
        "SCRIPTED_FRAMES=1,2", "SCRIPTED_ERROR=" + message, "SCRIPTED_ERROR_STATUS=-200279"};
    const HostRun run = runScripted("stream", environment);
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(frames(lines).size(), 2u);
    EXPECT_EQ(lines[3].at("event"), "end");
    EXPECT_EQ(lines[3].at("status"), "error");
    EXPECT_EQ(lines[3].at("frames"), 2);
    EXPECT_EQ(lines[3].at("errors"), 1);
    EXPECT_EQ(lines[4],
              json({{"event", "error"}, {"message", message}, {"daqmx_status", -200279}}));
    EXPECT_TRUE(contains(run.err,
                         "the stream ended on a driver error after 2 frames (4 samples "
                         "per channel) were written: " +
                             message));
    // The advice carries the numbers that decide an overflow.
    EXPECT_TRUE(contains(run.err,
                         "the driver's input buffer overflowed (status -200279): it "
                         "holds 1000 samples per channel (0.9995002498750625 s) at 1000.5 "
                         "Hz, read in blocks of 2 samples per channel"));
    EXPECT_TRUE(contains(run.err, "Raise samples_per_channel"));

    const HostRun csv = runScripted("stream --format csv", environment);
    EXPECT_EQ(csv.exitCode, 1);
    const auto csvLines = split(csv.out);
    ASSERT_GE(csvLines.size(), 2u);
    EXPECT_EQ(
        csvLines[csvLines.size() - 2].rfind("# end: error; samples_per_channel=4 frames=2 ", 0),
        0u);
    EXPECT_EQ(csvLines.back(), "# error: " + message + " (driver status -200279)");
    // Pure CSV apart from the comments: every row has every column.
    for (const auto& row : dataLines(csv.out)) {
        EXPECT_EQ(split(row, ',').size(), 2u) << row;
    }

    // Into a file: the file named stays as it was, and what was recorded up
    // to the error is kept beside it.
    const test_support::TempDir dir;
    const std::string target = dir.file("run.jsonl");
    std::ofstream(target, std::ios::binary) << "keep\n";
    const HostRun toFile = runScripted("stream --out " + target, environment);
    EXPECT_EQ(toFile.exitCode, 1);
    EXPECT_EQ(fileText(target), "keep\n");
    const auto kept = jsonLines(fileText(target + ".partial"));
    ASSERT_EQ(kept.size(), lines.size());
    EXPECT_EQ(frames(kept), frames(lines));
    EXPECT_EQ(kept.back(), lines.back());
    EXPECT_TRUE(contains(toFile.err, "kept in " + target + ".partial"));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.jsonl", "run.jsonl.partial"}));

    // The second unsubscribes first, so that no frame arrives at a stopped task.
    const auto stopped = run.err.find("scripted: stop_stream");
    const auto destroyed = run.err.find("scripted: destroyed");
    EXPECT_LT(run.err.find("scripted: unsubscribe 7"), stopped) << run.err;
    EXPECT_LT(stopped, destroyed) << run.err;
    EXPECT_NE(destroyed, std::string::npos) << run.err;
}

TEST(ScriptedStream, TheStatusIsTheStatesPropertyNeverANumberInItsMessage) {
    const std::string error = "SCRIPTED_ERROR=Streaming stopped: DAQmx error -200279: x";
    const HostRun given =
        runScripted("stream", {"SCRIPTED_FRAMES=1", error, "SCRIPTED_ERROR_STATUS=-50405"});
    EXPECT_EQ(given.exitCode, 1);
    EXPECT_EQ(jsonLines(given.out).back().at("daqmx_status"), -50405);
    EXPECT_FALSE(contains(given.err, "overflowed"));
    // The CSV error line says the status even when the message holds it too.
    const HostRun csv = runScripted("stream --format csv",
                                    {"SCRIPTED_FRAMES=1", error, "SCRIPTED_ERROR_STATUS=-200279"});
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_EQ(split(csv.out).back(),
              "# error: Streaming stopped: DAQmx error -200279: x (driver status -200279)");
    const HostRun none = runScripted("stream", {"SCRIPTED_FRAMES=1", error});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_FALSE(jsonLines(none.out).back().contains("daqmx_status"));
    EXPECT_FALSE(contains(none.err, "overflowed"));
}

// A frame that never arrives and one whose text cannot be trusted both lose
// their samples: one gap record where they were, and the indices after it
// skip them in every format.
TEST(ScriptedStream, MissingAndMalformedFramesAreGapsAndTheIndexSkipsTheLostSamples) {
    const struct {
        const char* frames;
        const char* message;
        const char* reason;
        int errors;
    } cases[] = {
        {"1,2,4", "sequence gap: expected frame 3, got 4 (1 missing)", "sequence_gap", 1},
        {"1,2,3s,4", "malformed sample frame 3: its samples are not", "malformed_frame", 1},
        {"1,2,3n,4", "malformed sample frame 3: its samples are not", "malformed_frame", 1},
        // Without its numbers the frame is only known missing when the next one comes.
        {"1,2,3t,4", "malformed sample frame: no whole", "sequence_gap", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        const std::vector<std::string> environment = {std::string("SCRIPTED_FRAMES=") + c.frames};
        const HostRun run = runScripted("stream --frames 3", environment);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        const auto lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), 6u) << run.out;
        EXPECT_EQ(lines[3].at("event"), "gap");
        EXPECT_EQ(lines[3].at("reason"), c.reason);
        EXPECT_EQ(lines[3].at("last_sample_index"), 3);
        EXPECT_EQ(lines[3].at("estimated_lost_samples"), 2);
        EXPECT_EQ(lines[3].at("estimated_from"), "frame_size");
        EXPECT_EQ(lines[4].at("sequence_no"), 4);
        EXPECT_EQ(lines.back().at("gaps"), 1);
        EXPECT_EQ(lines.back().at("errors"), c.errors);

        const HostRun csv = runScripted("stream --frames 3 --format csv", environment);
        EXPECT_EQ(csv.exitCode, 0) << csv.err;
        const auto out = split(csv.out);
        const auto gap = std::find_if(out.begin(), out.end(), [](const std::string& l) {
            return l.rfind("# gap: ", 0) == 0;
        });
        ASSERT_NE(gap, out.end()) << csv.out;
        EXPECT_TRUE(contains(*gap, std::string("reason=") + c.reason + " "));
        EXPECT_TRUE(contains(*gap, " last_sample_index=3 estimated_lost_samples=2"));
        EXPECT_TRUE(gap->ends_with(" estimated_from=frame_size")) << *gap;
        EXPECT_EQ(*(gap - 1), "3,0.25");
        EXPECT_EQ(*(gap + 1), "6,0.5");  // the samples after the gap keep their place
    }
}

// A binary block is trusted only when its header agrees with itself and with
// its payload; values that are not finite stay missing, as the text's null.
TEST(ScriptedStream, BinaryBlocksThatDisagreeAreGapsAndNonFiniteValuesAreNan) {
    const std::vector<std::string> environment = {"SCRIPTED_FRAMES=1i,2b,3c,4n,5"};
    const HostRun csv = runScripted("stream --frames 2 --format csv", environment);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto lines = split(csv.out);
    std::vector<std::string> rows;
    std::size_t gaps = 0;
    for (const auto& line : lines) {
        gaps += line.rfind("# gap: reason=malformed_frame ", 0) == 0 ? 1 : 0;
        if (!line.empty() && line[0] != '#') {
            rows.push_back(line);
        }
    }
    EXPECT_EQ(rows,
              (std::vector<std::string>{"sample,Dev1/ai0", "0,nan", "1,nan", "8,0.5", "9,0.25"}));
    EXPECT_EQ(gaps, 3u) << csv.out;
    EXPECT_TRUE(contains(lines.back(), " gaps=3 estimated_lost_samples=6 errors=3")) << csv.out;
    for (const char* problem :
         {R"(malformed sample frame 2: its "byte_order" is not "little"; not written)",
          R"(malformed sample frame 3: its "n_digital_lines" is not the length)",
          R"(malformed sample frame 4: its "dtype" is not "float64")"}) {
        EXPECT_TRUE(contains(csv.err, problem)) << csv.err;
    }

    // The frame texts of the same script: nulls, and the one frame whose own
    // counts disagree is a gap there too.
    const HostRun jsonl = runScripted("stream --frames 2", {"SCRIPTED_FRAMES=1i,2c,3"});
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err;
    const auto events = jsonLines(jsonl.out);
    ASSERT_EQ(events.size(), 5u) << jsonl.out;
    EXPECT_EQ(events[1].at("samples"), json::parse("[[null,null]]"));
    EXPECT_EQ(events[2].at("reason"), "malformed_frame");
    EXPECT_EQ(events[3].at("sequence_no"), 3);
}

TEST(ScriptedStream, DigitalColumnsStayWhenAFrameLacksItsSnapshotAndTheFrameCountsAsAnError) {
    const std::vector<std::string> environment = {"SCRIPTED_FRAMES=1d,2,3d"};
    const HostRun csv = runScripted(
        "stream --frames 3 --format csv digital_input_lines=Dev1/port0/line0:1", environment);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(
        dataLines(csv.out),
        (std::vector<std::string>{"sample,Dev1/ai0,Dev1/port0/line0,Dev1/port0/line1", "0,0.5,1,0",
                                  "1,0.25,1,0", "2,0.5,,", "3,0.25,,", "4,0.5,1,0", "5,0.25,1,0"}));
    EXPECT_TRUE(contains(csv.err, "frame 2 carries no digital snapshot"));
    EXPECT_TRUE(contains(split(csv.out).back(), " errors=1"));

    const HostRun jsonl =
        runScripted("stream --frames 3 digital_input_lines=Dev1/port0/line0:1", environment);
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err;
    const auto lines = jsonLines(jsonl.out);
    EXPECT_EQ(lines.front().at("digital_lines"), json({"Dev1/port0/line0", "Dev1/port0/line1"}));
    EXPECT_EQ(lines.back().at("errors"), 1);
}

TEST(PlotCommand, FiniteAndStreamedPlotsAreWellFormedSvgWithTheirTracesTitledByDeviceAndStart) {
    const test_support::TempDir dir;
    const std::string svgPath = dir.file("plot.svg");
    struct Plot {
        std::string settings;
        std::size_t traces;
        std::size_t lanes;                 ///< sets of axes
        std::size_t minPoints, maxPoints;  ///< per trace
        std::size_t samples;               ///< per channel; 0: not checked
    };
    const Plot plots[] = {
        {"ai_channels=Dev1/ai0:2 samples_per_channel=50", 3, 1, 50, 50, 50},
        {"ai_channels=Dev1/ai0 samples_per_channel=20000", 1, 1, 1001, 2000, 20000},  // thinned
        {"--stream-seconds 0.2 ai_channels=Dev1/ai0:1 samples_per_channel=20", 2, 1, 200, 200, 200},
        {"--samples 123 ai_channels=Dev1/ai0:1 samples_per_channel=20", 2, 1, 123, 123, 123},
        {"ai_channels=Dev1/ai0:5 samples_per_channel=10", 6, 6, 10, 10, 10},
        {"--overlay ai_channels=Dev1/ai0:5 samples_per_channel=10", 6, 1, 10, 10, 10},
    };
    for (const auto& plot : plots) {
        SCOPED_TRACE(plot.settings);
        std::vector<std::string> args = {"plot", "--out", svgPath};
        for (const auto& word : words(plot.settings)) {
            args.push_back(word);
        }
        const HostRun run = runHost(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const json summary = json::parse(run.out);
        EXPECT_EQ(summary.at("svg"), svgPath);
        EXPECT_EQ(summary.at("samples_per_channel"), plot.samples);
        const std::string svg = fileText(svgPath);
        const auto tags = startTags(svg);
        ASSERT_FALSE(tags.empty());
        EXPECT_EQ(tags.front().rfind("<svg ", 0), 0u);
        std::size_t traces = 0;
        std::size_t lanes = 0;
        for (const auto& tag : tags) {
            lanes += tag.rfind("<clipPath ", 0) == 0 ? 1 : 0;
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
        EXPECT_EQ(lanes, plot.lanes);
        for (const auto* label : {">Dev1/ai0<", ">Time (s)<", ">Voltage (V)<"}) {
            EXPECT_NE(svg.find(label), std::string::npos) << label;
        }
        EXPECT_TRUE(contains(
            svg, ">Dev1 (USB-6211), started " + summary.at("start_utc").get<std::string>() + ": "));
    }
}

TEST(PlotCommand, AFileThatCannotBeAnSvgOrCannotBeWrittenIsRefusedBeforeAcquiring) {
    const HostRun png = runHost({"plot", "--out", "plot.png"});
    EXPECT_EQ(png.exitCode, 2);
    EXPECT_TRUE(contains(png.err, "plot writes SVG: name the file --out NAME.svg"));
    const HostRun missing = runHost({"plot", "--out", "/nonexistent-dir/p.svg"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.err, "the folder '/nonexistent-dir' does not exist"));
    // Refused before the plug-in is loaded: it has not said a word.
    EXPECT_FALSE(contains(missing.err, "[ni-usb-daq"));
    EXPECT_FALSE(contains(png.err, "[ni-usb-daq"));
}
