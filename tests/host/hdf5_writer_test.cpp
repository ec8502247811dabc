// The HDF5 recording writer: recordings of synthetic frames read back through
// the library, through h5dump, and after the writer was killed; and the frame
// text reader it is built on.
#include <hdf5.h>

#include <array>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FrameSamples.h"
#include "Hdf5FileReader.h"
#include "Hdf5WriterFactory.h"
#include "HostError.h"
#include "HostProcess.h"
#include "SyntheticFrames.h"

using namespace ni_usb_daq::host;
using host_tests::FrameRow;
using host_tests::frameRowType;
using host_tests::Reader;
using host_tests::syntheticFrame;
using host_tests::syntheticValue;

namespace {

std::string scratchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("hdf5_writer_test_" + std::to_string(host_tests::currentProcessId()) + "_" + name))
        .string();
}

/// Samples equal, NaN for NaN.
void expectSameSample(double actual, double expected, std::uint64_t row, std::uint64_t column) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << "row " << row << " column " << column;
    } else {
        EXPECT_EQ(actual, expected) << "row " << row << " column " << column;
    }
}

RecordingFacts threeChannelFacts() {
    RecordingFacts facts;
    facts.device = "Dev1";
    facts.productType = "USB-6211";
    facts.serialNumber = "0x1234ABCD";
    facts.channels = {{"Dev1/ai0", -10.0, 10.0, "RSE", "V"},
                      {"Dev1/ai1", -5.0, 5.0, "DIFF", "V"},
                      {"Dev1/ai5", -0.2, 0.2, "NRSE", "V"}};
    facts.digitalLines = {"Dev1/port0/line0", "Dev1/port0/line1"};
    facts.sampleRateHz = 999.9999999999999;
    facts.requestedSampleRateHz = 1000.0;
    facts.sampleMode = "continuous";
    facts.settingsJson = R"({"channels":"Dev1/ai0,Dev1/ai1,Dev1/ai5","rate":1000})";
    facts.program = "ni-usb-daq-host 0.1.0";
    facts.start =
        std::chrono::system_clock::time_point(std::chrono::nanoseconds(1'765'000'000'123'456'789));
    return facts;
}

/// Frames of 3 channels: 40 samples with a snapshot, 0 samples, 25 without a
/// snapshot, then an outage, then 35 with one.
struct Recorded {
    std::uint64_t count;
    std::uint64_t first;
    std::vector<bool> lines;
};
const Recorded kFrames[] = {
    {40, 0, {true, false}}, {0, 40, {false, true}}, {25, 40, {}}, {35, 165, {false, false}}};

void writeRecording(const std::string& path, const Hdf5WriterOptions& options) {
    const auto writer = makeHdf5Writer(path, options);
    writer->begin(threeChannelFacts());
    std::uint64_t sequence = 0;
    for (const Recorded& frame : kFrames) {
        ++sequence;
        if (sequence == 4) {
            GapRecord gap;
            gap.reason = "overflow";
            gap.status = -200279;
            gap.outageStart = std::chrono::system_clock::time_point(std::chrono::seconds(1000));
            gap.outageEnd = gap.outageStart + std::chrono::milliseconds(100);
            gap.lastSampleIndex = 64;
            gap.hasLastSample = true;
            gap.estimatedLostSamples = 100;
            gap.estimatedFrom = "wall_clock";
            gap.device = "Dev3";
            gap.serialNumber = "0x1234ABCD";
            writer->gap(gap);
        }
        const std::string text = syntheticFrame(sequence, 3, frame.count, frame.first, frame.lines);
        writer->frame({text, sequence, static_cast<std::int64_t>(sequence) * 100, frame.first,
                       frame.count, 3});
        writer->idle();
    }
    RecordingEnd end;
    end.kind = RecordingEndKind::Error;
    end.errorMessage = "Streaming stopped: the device was removed";
    end.errorStatus = -50405;
    end.samplesPerChannel = 100;
    end.frames = 4;
    end.gaps = 1;
    end.estimatedLostSamples = 100;
    end.errors = 2;
    end.durationS = 0.25;
    writer->end(end);
}

}  // namespace

TEST(Hdf5Recording, ReadsBackSampleForSampleWithEveryFact) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        const std::string path = scratchFile("read_back.h5");
        writeRecording(path, {.compress = compress});
        const Reader file(path);
        ASSERT_TRUE(file.open());

        // Samples: one row per sample in the order received, the outage closed up.
        ASSERT_EQ(file.shape("/analog"), (std::vector<hsize_t>{100, 3}));
        ASSERT_EQ(file.shape("/digital"), (std::vector<hsize_t>{100, 2}));
        const auto analog = file.read<double>("/analog", H5T_NATIVE_DOUBLE);
        const auto digital = file.read<std::uint8_t>("/digital", H5T_NATIVE_UINT8);
        std::uint64_t row = 0;
        for (const Recorded& frame : kFrames) {
            for (std::uint64_t s = 0; s < frame.count; ++s, ++row) {
                for (std::uint64_t c = 0; c < 3; ++c) {
                    expectSameSample(analog[row * 3 + c], syntheticValue(c, frame.first + s), row,
                                     c);
                }
                for (std::size_t line = 0; line < 2; ++line) {
                    const int expected = frame.lines.empty() ? 255 : frame.lines[line] ? 1 : 0;
                    EXPECT_EQ(digital[row * 2 + line], expected) << "row " << row;
                }
            }
        }

        // The facts of the run.
        EXPECT_EQ(file.texts("/analog", "channel_names"),
                  (std::vector<std::string>{"Dev1/ai0", "Dev1/ai1", "Dev1/ai5"}));
        EXPECT_EQ(file.texts("/analog", "units"), (std::vector<std::string>{"V", "V", "V"}));
        EXPECT_EQ(file.texts("/analog", "terminal_configs"),
                  (std::vector<std::string>{"RSE", "DIFF", "NRSE"}));
        EXPECT_EQ(file.numbers<double>("/analog", "range_min_v", H5T_NATIVE_DOUBLE),
                  (std::vector<double>{-10.0, -5.0, -0.2}));
        EXPECT_EQ(file.numbers<double>("/analog", "range_max_v", H5T_NATIVE_DOUBLE),
                  (std::vector<double>{10.0, 5.0, 0.2}));
        EXPECT_EQ(file.texts("/digital", "line_names"),
                  (std::vector<std::string>{"Dev1/port0/line0", "Dev1/port0/line1"}));
        const RecordingFacts facts = threeChannelFacts();
        const std::pair<const char*, std::string> texts[] = {
            {"device", "Dev1"},
            {"product_type", "USB-6211"},
            {"serial_number", "0x1234ABCD"},
            {"sample_mode", "continuous"},
            {"settings_json", facts.settingsJson},
            {"program", "ni-usb-daq-host 0.1.0"},
            {"start_time_utc", "2025-12-06T05:46:40.123456789Z"},
            {"end_state", "error"},
            {"end_error_message", "Streaming stopped: the device was removed"}};
        for (const auto& [name, value] : texts) {
            EXPECT_EQ(file.text(name), value) << name;
        }
        EXPECT_EQ(file.number<double>("sample_rate_hz", H5T_NATIVE_DOUBLE), 999.9999999999999);
        EXPECT_EQ(file.number<double>("requested_sample_rate_hz", H5T_NATIVE_DOUBLE), 1000.0);
        EXPECT_EQ(file.number<std::int64_t>("start_time_ns", H5T_NATIVE_INT64),
                  1'765'000'000'123'456'789);
        EXPECT_EQ(file.number<std::int32_t>("end_error_status", H5T_NATIVE_INT32), -50405);
        EXPECT_EQ(file.number<double>("end_duration_s", H5T_NATIVE_DOUBLE), 0.25);
        const std::pair<const char*, std::uint64_t> totals[] = {{"end_samples_per_channel", 100},
                                                                {"end_frames", 4},
                                                                {"end_gaps", 1},
                                                                {"end_estimated_lost_samples", 100},
                                                                {"end_errors", 2}};
        for (const auto& [name, value] : totals) {
            EXPECT_EQ(file.number<std::uint64_t>(name, H5T_NATIVE_UINT64), value) << name;
        }

        // The frames table adds up to the samples; the gap sits before frame 4.
        const hid_t frameType = frameRowType();
        const auto frames = file.read<FrameRow>("/frames", frameType);
        H5Tclose(frameType);
        ASSERT_EQ(frames.size(), 4U);
        std::uint64_t rows = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].sequenceNo, i + 1);
            EXPECT_EQ(frames[i].timestampNs, static_cast<std::int64_t>(i + 1) * 100);
            EXPECT_EQ(frames[i].firstSample, kFrames[i].first);
            EXPECT_EQ(frames[i].sampleCount, kFrames[i].count);
            EXPECT_EQ(frames[i].row, rows);
            rows += frames[i].sampleCount;
        }
        struct GapRow {
            char reason[32];
            std::int32_t status;
            std::int64_t start, end, last;
            std::uint64_t lost, row;
            char estimatedFrom[16], device[64], serialNumber[32];
        };
        const hid_t gapType = H5Tcreate(H5T_COMPOUND, sizeof(GapRow));
        const hid_t reason = H5Tcopy(H5T_C_S1);
        H5Tset_size(reason, 32);
        H5Tset_cset(reason, H5T_CSET_UTF8);
        H5Tinsert(gapType, "reason", HOFFSET(GapRow, reason), reason);
        H5Tinsert(gapType, "status", HOFFSET(GapRow, status), H5T_NATIVE_INT32);
        H5Tinsert(gapType, "outage_start_ns", HOFFSET(GapRow, start), H5T_NATIVE_INT64);
        H5Tinsert(gapType, "outage_end_ns", HOFFSET(GapRow, end), H5T_NATIVE_INT64);
        H5Tinsert(gapType, "last_sample_index", HOFFSET(GapRow, last), H5T_NATIVE_INT64);
        H5Tinsert(gapType, "estimated_lost_samples", HOFFSET(GapRow, lost), H5T_NATIVE_UINT64);
        H5Tinsert(gapType, "row", HOFFSET(GapRow, row), H5T_NATIVE_UINT64);
        std::vector<hid_t> textTypes;
        for (const auto& [name, offset, size] :
             {std::tuple{"estimated_from", HOFFSET(GapRow, estimatedFrom), 16},
              std::tuple{"device", HOFFSET(GapRow, device), 64},
              std::tuple{"serial_number", HOFFSET(GapRow, serialNumber), 32}}) {
            textTypes.push_back(H5Tcopy(reason));
            H5Tset_size(textTypes.back(), static_cast<std::size_t>(size));
            H5Tinsert(gapType, name, offset, textTypes.back());
        }
        const auto gaps = file.read<GapRow>("/gaps", gapType);
        for (const hid_t text : textTypes) {
            H5Tclose(text);
        }
        H5Tclose(reason);
        H5Tclose(gapType);
        ASSERT_EQ(gaps.size(), 1U);
        EXPECT_STREQ(gaps[0].reason, "overflow");
        EXPECT_EQ(gaps[0].status, -200279);
        EXPECT_EQ(gaps[0].start, 1'000'000'000'000);
        EXPECT_EQ(gaps[0].end, 1'000'100'000'000);
        EXPECT_EQ(gaps[0].last, 64);
        EXPECT_EQ(gaps[0].lost, 100U);
        EXPECT_EQ(gaps[0].row, 65U);
        EXPECT_STREQ(gaps[0].estimatedFrom, "wall_clock");
        EXPECT_STREQ(gaps[0].device, "Dev3");
        EXPECT_STREQ(gaps[0].serialNumber, "0x1234ABCD");
        std::filesystem::remove(path);
    }
}

TEST(Hdf5Recording, H5dumpSeesShapeTypeAndRate) {
    const std::string path = scratchFile("h5dump.h5");
    writeRecording(path, {});
    const auto header = host_tests::HostProcess({"-H", "-d", "/analog", path}, {}, H5DUMP_PATH)
                            .finish(std::chrono::seconds(30));
    ASSERT_EQ(header.exitCode, 0) << header.err;
    EXPECT_TRUE(host_tests::contains(header.out, "H5T_IEEE_F64LE"));
    EXPECT_TRUE(host_tests::contains(header.out, "( 100, 3 ) / ( H5S_UNLIMITED, 3 )"));
    const auto rate = host_tests::HostProcess({"-a", "/sample_rate_hz", path}, {}, H5DUMP_PATH)
                          .finish(std::chrono::seconds(30));
    ASSERT_EQ(rate.exitCode, 0) << rate.err;
    EXPECT_TRUE(host_tests::contains(rate.out, "(0): 1000"));
    std::filesystem::remove(path);
}

TEST(Hdf5Recording, AKilledWriterLeavesEveryFlushedFrameReadable) {
    const std::string path = scratchFile("killed.h5");
    host_tests::HostProcess child({path, "2", "50"});
    ASSERT_TRUE(child.waitForOutputLines(5, std::chrono::seconds(30)));
    child.sendSignal(SIGKILL);
    const auto run = child.finish(std::chrono::seconds(30));
    ASSERT_EQ(run.exitCode, 128 + SIGKILL) << run.err;
    const std::size_t told = host_tests::split(run.out).size();

    // Readers that follow a writer open the file as it was left.
    const Reader file(path, true);
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.text("end_state"), "recording");
    const hid_t frameType = frameRowType();
    const auto frames = file.read<FrameRow>("/frames", frameType);
    H5Tclose(frameType);
    ASSERT_GE(frames.size(), told);
    const auto analog = file.read<double>("/analog", H5T_NATIVE_DOUBLE);
    ASSERT_GE(analog.size(), told * 50 * 2);
    for (std::uint64_t row = 0; row < told * 50; ++row) {
        for (std::uint64_t c = 0; c < 2; ++c) {
            expectSameSample(analog[row * 2 + c], syntheticValue(c, row), row, c);
        }
    }
    std::filesystem::remove(path);
}

TEST(Hdf5Recording, ReportsWhatItCannotWrite) {
    const auto writer = makeHdf5Writer(scratchFile("bad_frame.h5"));
    writer->begin(threeChannelFacts());
    const std::string text = syntheticFrame(1, 3, 10, 0);
    // Counts the text does not hold; a text that is no frame.
    EXPECT_THROW(writer->frame({text, 1, 0, 0, 11, 3}), HostError);
    EXPECT_THROW(writer->frame({text, 1, 0, 0, 10, 2}), HostError);
    EXPECT_THROW(writer->frame({"{}", 1, 0, 0, 10, 3}), HostError);
    EXPECT_THROW(makeHdf5Writer(scratchFile("no_such_dir/x.h5")), HostError);
    std::filesystem::remove(scratchFile("bad_frame.h5"));
}

TEST(FrameSamples, ReadsChannelsFirstOrRowsOrRejectsTheText) {
    FrameSamples samples;
    const std::string frame = syntheticFrame(1, 2, 4, 1, {true, false, true});
    ASSERT_TRUE(samples.read(frame, 2, 4));
    const std::vector<double> expected = {
        syntheticValue(0, 1), syntheticValue(0, 2), syntheticValue(0, 3), syntheticValue(0, 4),
        syntheticValue(1, 1), syntheticValue(1, 2), syntheticValue(1, 3), syntheticValue(1, 4)};
    ASSERT_EQ(samples.values().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expectSameSample(samples.values()[i], expected[i], i, 0);
    }
    EXPECT_EQ(
        std::vector<std::uint8_t>(samples.digitalLines().begin(), samples.digitalLines().end()),
        (std::vector<std::uint8_t>{1, 0, 1}));
    // The same frame a row per sample.
    ASSERT_TRUE(samples.read(frame, 2, 4, FrameSamples::Order::SamplesFirst));
    ASSERT_EQ(samples.values().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expectSameSample(samples.values()[i], expected[i % 2 * 4 + i / 2], i / 2, i % 2);
    }
    // A smaller frame after it: only its own values, no snapshot.
    ASSERT_TRUE(samples.read(R"({"samples":[[-0.0,1e-05,1e+300]]})", 1, 3));
    EXPECT_EQ(std::vector<double>(samples.values().begin(), samples.values().end()),
              (std::vector<double>{-0.0, 1e-05, 1e+300}));
    EXPECT_TRUE(samples.digitalLines().empty());

    const std::pair<const char*, std::pair<int, int>> rejected[] = {
        {R"({"samples":[[1.5e,2.0]]})", {1, 2}},                      // an exponent without digits
        {R"({"samples":[[1.0,2.0]]})", {1, 3}},                       // fewer than claimed
        {R"({"samples":[[1.0,2.0,3.0]]})", {1, 2}},                   // more than claimed
        {R"({"samples":[[1.0],[2.0]]})", {1, 1}},                     // another channel
        {R"({"samples":[[1.0,x]]})", {1, 2}},                         // not a number
        {R"({"samples":[[1.0,2.0]})", {1, 2}},                        // cut short
        {R"({"sample_count":2})", {1, 2}},                            // no samples at all
        {R"({"digital_lines":[true,2],"samples":[[1.0]]})", {1, 1}},  // a line not a literal
    };
    for (const auto& [text, counts] : rejected) {
        EXPECT_FALSE(samples.read(text, counts.first, counts.second)) << text;
    }
}

// Every number reads as the correctly rounded double from_chars gives, bit for
// bit: shortest texts of converter-like values, of arbitrary bit patterns, and
// texts with 17 digits, exponents, zeros and signs.
TEST(FrameSamples, ReadsEveryNumberAsFromCharsDoes) {
    std::vector<std::string> texts = {"0",
                                      "-0",
                                      "-0.0",
                                      "1e-05",
                                      "1E+300",
                                      "5e-324",
                                      "1.5e22",
                                      "9007199254740993",
                                      "1e23",
                                      "0.1",
                                      "123456789012345678901234567890",
                                      "0.000000000000000000000001",
                                      "2.2250738585072014e-308"};
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return state;
    };
    std::array<char, 64> buffer{};
    for (int i = 0; i < 20000; ++i) {
        // A 16-bit code through a calibration, as the simulated converter makes them.
        const double code = static_cast<double>(static_cast<std::int64_t>(next() >> 48) - 32768);
        const double converted = code * (20.0 / 65536.0) * 1.000123 + 0.000456;
        std::uint64_t bits = next();
        double arbitrary = 0;
        std::memcpy(&arbitrary, &bits, sizeof arbitrary);
        for (const double value : {converted, arbitrary}) {
            if (!std::isfinite(value)) {
                continue;
            }
            const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
            texts.emplace_back(buffer.data(), end);
        }
        std::snprintf(buffer.data(), buffer.size(), "%.17g", converted);
        texts.emplace_back(buffer.data());
    }
    std::string frame = R"({"samples":[[)";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        frame += (i == 0 ? "" : ",") + texts[i];
    }
    frame += "]]}";
    FrameSamples samples;
    ASSERT_TRUE(samples.read(frame, 1, texts.size()));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        double expected = 0;
        std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), expected);
        std::uint64_t got = 0, want = 0;
        std::memcpy(&got, &samples.values()[i], sizeof got);
        std::memcpy(&want, &expected, sizeof want);
        ASSERT_EQ(got, want) << texts[i];
    }
}
