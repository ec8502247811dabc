// The HDF5 recording writer: recordings of synthetic frames read back through
// the library, through h5dump, and after the writer was killed.
#include <hdf5.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "Hdf5FileReader.h"
#include "Hdf5WriterFactory.h"
#include "HostError.h"
#include "HostProcess.h"
#include "SyntheticFrames.h"

using namespace ni_usb_daq::host;
using host_tests::FrameRow;
using host_tests::frameRowType;
using host_tests::Reader;
using host_tests::syntheticSamples;
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
        const auto samples = syntheticSamples(3, frame.count, frame.first);
        const std::vector<std::uint8_t> lines(frame.lines.begin(), frame.lines.end());
        writer->frame({.sequenceNo = sequence,
                       .timestampNs = static_cast<std::int64_t>(sequence) * 100,
                       .firstSample = frame.first,
                       .sampleCount = frame.count,
                       .channelCount = 3,
                       .samples = samples,
                       .digitalLines = lines,
                       .text = {}});
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
    const auto samples = syntheticSamples(3, 10, 0);
    const auto frame = [&](std::uint64_t count, std::uint64_t channels) {
        return FrameRecord{.sequenceNo = 1,
                           .timestampNs = 0,
                           .firstSample = 0,
                           .sampleCount = count,
                           .channelCount = channels,
                           .samples = samples,
                           .digitalLines = {},
                           .text = {}};
    };
    // Counts the samples do not match; a channel count the recording does not have.
    EXPECT_THROW(writer->frame(frame(11, 3)), HostError);
    EXPECT_THROW(writer->frame(frame(15, 2)), HostError);
    EXPECT_THROW(makeHdf5Writer(scratchFile("no_such_dir/x.h5")), HostError);
    std::filesystem::remove(scratchFile("bad_frame.h5"));
}

// Non-finite values are NaN in the file, as the frame text's null is, and a
// short recording is not padded out to a large chunk.
TEST(Hdf5Recording, NonFiniteValuesAreNaNAndASmallRecordingStaysSmall) {
    const std::string path = scratchFile("small.h5");
    {
        RecordingFacts facts = threeChannelFacts();
        facts.channels.resize(1);
        facts.digitalLines.clear();
        facts.samplesPerFrame = 1000;
        const auto writer = makeHdf5Writer(path);
        writer->begin(facts);
        std::vector<double> samples(1000, 0.5);
        samples[1] = std::numeric_limits<double>::infinity();
        samples[2] = -std::numeric_limits<double>::infinity();
        for (std::uint64_t n = 0; n < 4; ++n) {
            writer->frame({.sequenceNo = n + 1,
                           .timestampNs = 0,
                           .firstSample = n * 1000,
                           .sampleCount = 1000,
                           .channelCount = 1,
                           .samples = samples,
                           .digitalLines = {},
                           .text = {}});
        }
        writer->end({});
    }
    const Reader file(path);
    ASSERT_TRUE(file.open());
    const auto analog = file.read<double>("/analog", H5T_NATIVE_DOUBLE);
    ASSERT_EQ(analog.size(), 4000U);
    EXPECT_EQ(analog[0], 0.5);
    EXPECT_TRUE(std::isnan(analog[1]));
    EXPECT_TRUE(std::isnan(analog[2]));
    // 32 KB of samples; a chunk made for long runs would take half a megabyte.
    EXPECT_LT(std::filesystem::file_size(path), 120'000U);
    std::filesystem::remove(path);
}
