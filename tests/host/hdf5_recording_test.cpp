// HDF5 recordings made by the program: the same values as a CSV recording of
// the same run, every attribute, frame and gap tables that match the stream,
// the temporary-file rule, a killed recording, and the refusals.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Hdf5FileReader.h"
#include "HostProcess.h"
#include "support/TestSupport.h"

using host_tests::contains;
using host_tests::dataLines;
using host_tests::expectRefusal;
using host_tests::fileText;
using host_tests::FrameRow;
using host_tests::HostProcess;
using host_tests::HostRun;
using host_tests::Reader;
using host_tests::runHost;

namespace {

/// The channel values of a CSV recording, row after row; the sample index
/// column is checked to count from 0.
std::vector<double> csvValues(const std::string& path, std::size_t channels) {
    std::vector<double> values;
    std::istringstream text(fileText(path));
    std::uint64_t index = 0;
    bool named = false;
    for (std::string line; std::getline(text, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (!named) {  // the line of column names
            named = true;
            continue;
        }
        const auto cells = host_tests::split(line, ',');
        EXPECT_EQ(cells.size(), channels + 1) << line;
        EXPECT_EQ(cells.at(0), std::to_string(index++));
        for (std::size_t c = 1; c < cells.size(); ++c) {
            values.push_back(cells[c].empty() ? NAN : std::strtod(cells[c].c_str(), nullptr));
        }
    }
    return values;
}

std::vector<std::string> withOut(const std::string& args, const std::string& out) {
    std::vector<std::string> words = host_tests::split(args, ' ');
    words.insert(words.begin() + 1, {"--out", out});
    return words;
}

void expectSameValues(const std::vector<double>& hdf5, const std::vector<double>& csv) {
    ASSERT_EQ(hdf5.size(), csv.size());
    for (std::size_t i = 0; i < csv.size(); ++i) {
        if (std::isnan(csv[i])) {
            EXPECT_TRUE(std::isnan(hdf5[i])) << "value " << i;
        } else {
            ASSERT_EQ(hdf5[i], csv[i]) << "value " << i;
        }
    }
}

/// The frame table covers the samples once, in order, frame after frame.
void expectFramesCoverRows(const Reader& file, std::uint64_t rows, std::uint64_t frames) {
    const hid_t type = host_tests::frameRowType();
    const auto table = file.read<FrameRow>("/frames", type);
    H5Tclose(type);
    ASSERT_EQ(table.size(), frames);
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].row, next) << "frame " << i;
        EXPECT_EQ(table[i].firstSample, next) << "frame " << i;
        if (i > 0) {
            EXPECT_EQ(table[i].sequenceNo, table[i - 1].sequenceNo + 1);
            EXPECT_GE(table[i].timestampNs, table[i - 1].timestampNs);
        }
        next += table[i].sampleCount;
    }
    EXPECT_EQ(next, rows);
}

/// Little-endian doubles from their bytes written as hex digits.
std::vector<double> doublesOfHex(const std::string& hex) {
    std::vector<double> values(hex.size() / 16);
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint64_t bits = 0;
        for (std::size_t byte = 0; byte < 8; ++byte) {
            const auto at = (i * 8 + byte) * 2;
            bits |= std::stoull(hex.substr(at, 2), nullptr, 16) << (8 * byte);
        }
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    return values;
}

constexpr const char* kRootAttributes[] = {"device",
                                           "product_type",
                                           "serial_number",
                                           "sample_rate_hz",
                                           "requested_sample_rate_hz",
                                           "sample_mode",
                                           "start_time_utc",
                                           "start_time_ns",
                                           "settings_json",
                                           "program",
                                           "end_state",
                                           "end_error_message",
                                           "end_error_status",
                                           "end_samples_per_channel",
                                           "end_frames",
                                           "end_gaps",
                                           "end_estimated_lost_samples",
                                           "end_errors",
                                           "end_duration_s"};
constexpr const char* kAnalogAttributes[] = {"channel_names", "units", "terminal_configs",
                                             "range_min_v", "range_max_v"};

}  // namespace

TEST(Hdf5Recordings, HoldTheValuesOfACsvRecordingOfTheSameRun) {
    const test_support::TempDir dir;
    struct Case {
        std::string args;
        std::size_t channels;
        std::uint64_t samples;
        std::uint64_t frames;
    };
    const Case cases[] = {
        {"stream --samples 2500 ai_channels=Dev1/ai0:7 samples_per_channel=1000 "
         "sample_clock_rate_hz=20k",
         8, 2500, 3},
        {"stream --samples 2500 --compress ai_channels=Dev1/ai0:7 samples_per_channel=1000 "
         "sample_clock_rate_hz=20k",
         8, 2500, 3},
        {"read ai_channels=Dev1/ai0:2 samples_per_channel=300 sample_clock_rate_hz=5k", 3, 300, 1},
        {"read --single ai_channels=Dev1/ai0:1", 2, 1, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.args);
        const std::string h5 = dir.file("run.h5");
        const std::string csv = dir.file("run.csv");
        std::string csvArgs = test.args;
        if (const auto at = csvArgs.find(" --compress"); at != std::string::npos) {
            csvArgs.erase(at, 11);
        }
        const HostRun hdf5Run = runHost(withOut(test.args, h5));
        ASSERT_EQ(hdf5Run.exitCode, 0) << hdf5Run.err;
        const HostRun csvRun = runHost(withOut(csvArgs, csv));
        ASSERT_EQ(csvRun.exitCode, 0) << csvRun.err;
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.csv", "run.h5"}));

        const Reader file(h5);
        ASSERT_TRUE(file.open());
        EXPECT_EQ(file.shape("/analog"), (std::vector<hsize_t>{test.samples, test.channels}));
        expectSameValues(file.read<double>("/analog", H5T_NATIVE_DOUBLE),
                         csvValues(csv, test.channels));
        // Only a sample clock has a rate to state.
        const bool clocked = !contains(test.args, "--single");
        for (const char* name : kRootAttributes) {
            const bool rate = std::string_view(name).ends_with("sample_rate_hz");
            EXPECT_EQ(file.hasAttribute("/", name), clocked || !rate) << name;
        }
        for (const char* name : kAnalogAttributes) {
            EXPECT_TRUE(file.hasAttribute("/analog", name)) << name;
        }
        EXPECT_EQ(file.text("end_state"), "complete");
        EXPECT_EQ(file.number<std::uint64_t>("end_samples_per_channel", H5T_NATIVE_UINT64),
                  test.samples);
        EXPECT_EQ(file.number<std::uint64_t>("end_frames", H5T_NATIVE_UINT64), test.frames);
        EXPECT_EQ(file.number<std::uint64_t>("end_gaps", H5T_NATIVE_UINT64), 0u);
        EXPECT_EQ(file.texts("/analog", "channel_names").size(), test.channels);
        expectFramesCoverRows(file, test.samples, test.frames);
        EXPECT_EQ(file.shape("/gaps"), std::vector<hsize_t>{0});
        std::filesystem::remove(h5);
        std::filesystem::remove(csv);
    }
}

TEST(Hdf5Recordings, ASingleReadIsStampedWithTheTimeOfTheRead) {
    const test_support::TempDir dir;
    const std::string h5 = dir.file("single.h5");
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const auto before = now();
    const HostRun run = runHost({"read", "--single", "--out", h5, "ai_channels=Dev1/ai0:1"});
    const auto after = now();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Reader file(h5);
    ASSERT_TRUE(file.open());
    const hid_t type = host_tests::frameRowType();
    const auto frames = file.read<FrameRow>("/frames", type);
    H5Tclose(type);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_GE(frames[0].timestampNs, before);
    EXPECT_LE(frames[0].timestampNs, after);
}

TEST(Hdf5Recordings, AnIndependentReaderSeesTheShapeTypeAndRate) {
    const test_support::TempDir dir;
    // Extensions match in any case.
    const std::string h5 = dir.file("run.H5");
    const HostRun run =
        runHost({"stream", "--out", h5, "--samples", "1500", "ai_channels=Dev1/ai0:3",
                 "samples_per_channel=500", "sample_clock_rate_hz=2500"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const HostRun header =
        HostProcess({"-H", "-d", "/analog", h5}, {}, H5DUMP_PATH).finish(std::chrono::seconds(30));
    ASSERT_EQ(header.exitCode, 0) << header.err;
    EXPECT_TRUE(contains(header.out, "H5T_IEEE_F64LE"));
    EXPECT_TRUE(contains(header.out, "( 1500, 4 ) / ( H5S_UNLIMITED, 4 )"));
    const HostRun rate = HostProcess({"-a", "/sample_rate_hz", h5}, {}, H5DUMP_PATH)
                             .finish(std::chrono::seconds(30));
    ASSERT_EQ(rate.exitCode, 0) << rate.err;
    EXPECT_TRUE(contains(rate.out, "(0): 2500"));
}

// The README's recipe itself, taken from between its markers, run with h5py
// on a recording with gaps: frames 3 and 6 never come, two samples each.
TEST(Hdf5Recordings, TheReadmesTimeAxisCountsTheSamplesGapsLost) {
    if (std::string(PYTHON3_PATH).empty()) {
        GTEST_SKIP() << "no python3 to run the README's recipe";
    }
    const std::string readme = fileText(std::filesystem::path(NI_USB_DAQ_SOURCE_DIR) / "README.md");
    const auto begin = readme.find("<!-- hdf5-time-axis -->\n```python\n");
    const auto end = readme.find("```\n<!-- /hdf5-time-axis -->");
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos && begin < end);
    const auto code = begin + std::string("<!-- hdf5-time-axis -->\n```python\n").size();
    const std::string recipe = readme.substr(code, end - code);

    const test_support::TempDir dir;
    const HostRun run = runHost(
        {"--library", SCRIPTED_PLUGIN_PATH, "stream", "--frames", "5", "--out", dir.file("run.h5")},
        {"SCRIPTED_FRAMES=1,2,4,5,7"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // The times go out as the bytes of their doubles, to be compared exactly.
    const std::string script =
        dir.write("recipe.py", "import os\nos.chdir(" + nlohmann::json(dir.path()).dump() + ")\n" +
                                   recipe + "print(t.astype('<f8').tobytes().hex())\n");
    const HostRun python = HostProcess({script}, {}, PYTHON3_PATH).finish(std::chrono::seconds(60));
    ASSERT_EQ(python.exitCode, 0) << python.err;
    const auto printed = host_tests::split(python.out);
    ASSERT_EQ(printed.size(), 2u) << python.out;
    EXPECT_EQ(printed[0], "complete ['Dev1/ai0'] (10, 1) 2 gaps");
    const std::vector<double> times = doublesOfHex(printed[1]);
    // The scripted plug-in's rate is 1000.5 Hz.
    const std::vector<std::uint64_t> indices = {0, 1, 2, 3, 6, 7, 8, 9, 12, 13};
    ASSERT_EQ(times.size(), indices.size()) << printed[1];
    for (std::size_t i = 0; i < indices.size(); ++i) {
        EXPECT_EQ(times[i], static_cast<double>(indices[i]) / 1000.5) << "row " << i;
    }
}

// From binary blocks: values that are not finite are NaN, a block whose
// payload disagrees with its header is a gap, and a sample limit cuts the last
// block to the sample.
TEST(Hdf5Recordings, BinaryBlocksKeepMissingValuesLoseMalformedOnesAndAreCutAtTheLimit) {
    const test_support::TempDir dir;
    const HostRun run = runHost({"--library", SCRIPTED_PLUGIN_PATH, "stream", "--samples", "5",
                                 "--out", dir.file("run.h5")},
                                {"SCRIPTED_FRAMES=1i,2s,3,4,5"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Reader file(dir.file("run.h5"));
    ASSERT_TRUE(file.open());
    const auto analog = file.read<double>("/analog", H5T_NATIVE_DOUBLE);
    ASSERT_EQ(analog.size(), 5u);
    EXPECT_TRUE(std::isnan(analog[0]) && std::isnan(analog[1]));
    EXPECT_EQ(std::vector<double>(analog.begin() + 2, analog.end()),
              (std::vector<double>{0.5, 0.25, 0.5}));
    const hid_t type = host_tests::frameRowType();
    const auto frames = file.read<FrameRow>("/frames", type);
    H5Tclose(type);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].sequenceNo, 3u);
    EXPECT_EQ(frames[1].firstSample, 4u);  // after the two samples of the lost block
    EXPECT_EQ(frames[2].sampleCount, 1u);
    EXPECT_EQ(file.shape("/gaps"), std::vector<hsize_t>{1});
    EXPECT_TRUE(contains(run.err, "malformed sample frame 2: its payload is not")) << run.err;
}

// The chunks are sized from the block: a short recording takes little more
// room than its samples, not a chunk made for hours of them.
TEST(Hdf5Recordings, AShortRecordingTakesLittleMoreRoomThanItsSamples) {
    const test_support::TempDir dir;
    const HostRun run =
        runHost({"stream", "--samples", "4000", "--out", dir.file("run.h5"), "ai_channels=Dev1/ai0",
                 "samples_per_channel=1000", "sample_clock_rate_hz=20k"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // 32 000 bytes of samples and the tables and attributes around them; a
    // chunk of 64 Ki values made it 543 KB.
    EXPECT_LT(std::filesystem::file_size(dir.file("run.h5")), 100'000u);
}

TEST(Hdf5Recordings, AFailedRunLeavesAnExistingFileAsItWas) {
    const test_support::TempDir dir;
    const std::string keep = dir.file("keep.h5");
    const std::vector<std::vector<std::string>> failures = {
        {"stream", "--out", keep, "--frames", "2", "ai_channels=Dev1/ai99"},
        {"read", "--out", keep, "--compress", "sample_clock_rate_hz=300k"},
    };
    for (const auto& args : failures) {
        SCOPED_TRACE(args.at(0));
        std::ofstream(keep, std::ios::binary) << "keep\n";
        const HostRun run = runHost(args);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(fileText(keep), "keep\n");
        EXPECT_EQ(dir.names(), std::vector<std::string>{"keep.h5"});
    }
}

TEST(Hdf5Recordings, OptionsThatDoNotFitAreRefusedBeforeAnythingRuns) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refusals[] = {
        {{"stream", "--format", "hdf5"}, "an HDF5 recording is a file: give --out NAME.h5"},
        {{"read", "--format", "hdf5", "--compress"}, "an HDF5 recording is a file"},
        {{"stream", "--compress", "--frames", "1"}, "--compress is for HDF5 recordings"},
        {{"read", "--compress", "--out", "x.csv"}, "--compress is for HDF5 recordings"},
        {{"stream", "--out", "x.txt"}, "(name it .jsonl, .csv or .h5, or give --format)"},
    };
    for (const auto& refusal : refusals) {
        expectRefusal(refusal.args, 2, refusal.message);
    }
}

TEST(Hdf5Recordings, AKilledRecordingReadsBackUpToItsLastFlush) {
    const test_support::TempDir dir;
    // Real time, 10 frames a second: only the kill ends it.
    HostProcess host({"stream", "--out", dir.file("killed.h5"), "ai_channels=Dev1/ai0:1",
                      "samples_per_channel=100", "sample_clock_rate_hz=1000"},
                     {"NIDAQMX_SIM_TIME_SCALE=1"});
    // The recording grows under its temporary name. It is not opened while
    // the writer may still be setting it up (a reader's lock would stand in
    // its way); the first flush of samples writes a whole chunk (32 Ki rows
    // of 2 channels, 512 KiB), which the file's size shows.
    std::string partial;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto names = dir.names();
        std::error_code error;
        if (!names.empty() &&
            std::filesystem::file_size(dir.file(names.front()), error) > (256u << 10)) {
            partial = dir.file(names.front());
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    host.sendSignal(SIGKILL);
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 128 + SIGKILL) << run.err;
    ASSERT_FALSE(partial.empty()) << run.err;
    ASSERT_EQ(dir.names().size(), 1u);
    EXPECT_TRUE(contains(dir.names().front(), "killed.h5.partial-"));

    const Reader file(partial, true);
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.text("end_state"), "recording");
    const auto rows = file.shape("/analog").at(0);
    const auto frames = file.shape("/frames").at(0);
    EXPECT_GE(frames, 1u);
    expectFramesCoverRows(file, rows, frames);
    const auto values = file.read<double>("/analog", H5T_NATIVE_DOUBLE);
    EXPECT_TRUE(std::none_of(values.begin(), values.end(), [](double v) { return std::isnan(v); }));
}
