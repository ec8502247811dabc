// Streams of two devices through the host program on a simulated rig, unpaced
// (both start at the same simulated moment, and a minute takes a moment): on
// one shared clock their samples line up row by row, on their own clocks
// they drift apart as the clock error predicts, and the recordings say which.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "Hdf5FileReader.h"
#include "HostProcess.h"
#include "support/TestSupport.h"

namespace host_tests {
namespace {

constexpr std::size_t kRows = 60000;  // a simulated minute at 1 kS/s
constexpr double kAmplitude = 0.8;

/// Two USB-6211 carrying the same 1 Hz sine, Dev4's clock 200 ppm fast,
/// Dev1's PFI4 wired to Dev4's PFI0 and PFI5 to PFI1.
class TwoDeviceRig : public ::testing::Test {
protected:
    TwoDeviceRig() {
        const std::string device = R"("product_type": "USB-6211", "ai_channels": 1,
            "ai_voltage_ranges": [[-1, 1]], "sample_clock_timebase_hz": 80000000,
            "ai_max_single_chan_rate_hz": 250000, "ai_max_multi_chan_rate_hz": 250000,
            "ai_signals": {"ai0": {"kind": "sine", "amplitude": 0.8, "frequency_hz": 1}})";
        rig_ = dir_.write("rig.json", R"({"devices": [
            {"name": "Dev1", "serial_num": 1001, )" +
                                          device + R"(},
            {"name": "Dev4", "serial_num": 1004, "clock_ppm": 200, )" +
                                          device + R"(}],
            "wiring": [["/Dev1/PFI4", "/Dev4/PFI0"], ["/Dev1/PFI5", "/Dev4/PFI1"]]})");
    }

    HostRun stream(std::vector<std::string> options,
                   const std::vector<std::string>& environment = {},
                   const std::string& timeScale = "0") {
        for (const char* setting :
             {"ai_channels=Dev1/ai0,Dev4/ai0", "sample_clock_rate_hz=1k",
              "samples_per_channel=1000", "voltage_range_min=-1", "voltage_range_max=1"}) {
            options.emplace_back(setting);
        }
        options.insert(options.begin(), {"-q", "stream", "--seconds", "60"});
        std::vector<std::string> env = {"NIDAQMX_SIM_DEVICES=" + rig_,
                                        "NIDAQMX_SIM_TIME_SCALE=" + timeScale};
        env.insert(env.end(), environment.begin(), environment.end());
        return runHost(options, env);
    }

    static std::vector<std::string> shared() {
        return {"--share-start", "/Dev1/PFI4=/Dev4/PFI0", "--share-clock", "Dev1/PFI5=Dev4/PFI1"};
    }

    static std::vector<double> column(const Reader& reader, const std::string& group) {
        return reader.read<double>((group + "/analog").c_str(), H5T_NATIVE_DOUBLE);
    }

    test_support::TempDir dir_;
    std::string rig_;
};

TEST_F(TwoDeviceRig, SharingClockAndStartTheyAgreeAtEveryRowOfOneCsv) {
    auto options = shared();
    options.insert(options.end(), {"--format", "csv"});
    const HostRun run = stream(options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "# synchronisation: synchronised"));
    EXPECT_TRUE(contains(run.out, "# wiring: sample clock /Dev1/PFI5 -> /Dev4/PFI1"));
    EXPECT_TRUE(contains(run.out, "# wiring: start trigger /Dev1/PFI4 -> /Dev4/PFI0"));
    const auto rows = dataLines(run.out);
    ASSERT_EQ(rows.size(), kRows + 1);
    EXPECT_EQ(rows.front(), "sample,Dev1/ai0,Dev4/ai0");
    for (std::size_t k = 1; k < rows.size(); ++k) {
        const auto cells = split(rows[k], ',');
        ASSERT_EQ(cells.size(), 3u) << rows[k];
        ASSERT_EQ(cells[0], std::to_string(k - 1));
        ASSERT_NEAR(std::stod(cells[1]), std::stod(cells[2]), 0.02 * kAmplitude) << rows[k];
    }
}

TEST_F(TwoDeviceRig, OnTheirOwnClocksEachGroupDriftsAsTheClockErrorPredicts) {
    const std::string out = dir_.file("free.h5");
    const HostRun run = stream({"--out", out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Reader reader(out);
    ASSERT_TRUE(reader.open());
    EXPECT_EQ(reader.texts("/", "devices"), (std::vector<std::string>{"Dev1", "Dev4"}));
    EXPECT_EQ(reader.text("leader"), "Dev1");
    EXPECT_TRUE(reader.texts("/", "wiring").empty());
    for (const char* object : {"/", "/1001", "/1004"}) {
        EXPECT_TRUE(reader.texts(object, "synchronisation").at(0).starts_with("not synchronised"))
            << object;
    }
    EXPECT_EQ(reader.texts("/1004", "device").at(0), "Dev4");
    EXPECT_EQ(reader.texts("/1004", "end_state").at(0), "complete");
    const auto leader = column(reader, "/1001");
    const auto follower = column(reader, "/1004");
    ASSERT_EQ(leader.size(), kRows);
    ASSERT_EQ(follower.size(), kRows);
    // Devices started one after the other do not start on the same tick, so
    // what is checked is how their offset in time moves: the phase of the
    // 1 Hz sine over a second of rows, first and last second. Dev4's sample
    // k comes k / rate x 200e-6 s early, 59 s x 200 ppm more at the end.
    const auto phase = [](const std::vector<double>& values, std::size_t from) {
        double in = 0.0;
        double quadrature = 0.0;
        for (std::size_t k = from; k < from + 1000; ++k) {
            const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / 1000.0;
            in += values[k] * std::cos(angle);
            quadrature += values[k] * std::sin(angle);
        }
        return std::atan2(in, quadrature);
    };
    const auto offsetS = [&](std::size_t from) {
        const double turned = phase(follower, from) - phase(leader, from);
        return std::remainder(turned, 2.0 * std::numbers::pi) / (2.0 * std::numbers::pi);
    };
    const double moved = offsetS(kRows - 1000) - offsetS(0);
    const double predicted = static_cast<double>(kRows - 1000) / 1000.0 * (1.0 - 1.0 / 1.0002);
    // Early samples are taken at an earlier phase: the offset falls.
    EXPECT_NEAR(moved, -predicted, 0.05 * predicted) << "offset at the start " << offsetS(0);
}

TEST_F(TwoDeviceRig, RecoveringTheyRestartTogetherWithAGapEachAndStayInStep) {
    const std::string events =
        dir_.write("events.json", R"([{"at_s": 20, "device": "Dev4", "event": "overflow"}])");
    const std::string out = dir_.file("recovered.h5");
    auto options = shared();
    options.insert(options.end(), {"--recover", "--out", out});
    // Paced, so that neither device runs ahead of the other before the fault.
    const HostRun run = stream(options, {"NIDAQMX_SIM_EVENTS=" + events}, "100");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Reader reader(out);
    ASSERT_TRUE(reader.open());
    // After the gap both go on from the same sample index, tick for tick,
    // whichever had delivered more before the fault.
    std::vector<std::vector<std::uint64_t>> after;
    for (const char* group : {"/1001", "/1004"}) {
        const std::string path = std::string(group) + "/gaps";
        EXPECT_EQ(reader.shape(path.c_str()).at(0), 1u) << group;
        std::vector<std::uint64_t> starts;
        for (const FrameRow& frame :
             reader.read<FrameRow>((std::string(group) + "/frames").c_str(), frameRowType())) {
            if (frame.sequenceNo == 1) {
                starts.clear();  // every device's numbering starts again after the restart
            }
            starts.push_back(frame.firstSample);
        }
        after.push_back(starts);
    }
    ASSERT_FALSE(after[0].empty());
    EXPECT_EQ(after[0], after[1]);
}

TEST(RigStreamRefusals, FormatsThatCannotHoldTheDevicesAndHalfWiringAreRefused) {
    const std::string devices = "ai_channels=Dev1/ai0,Dev2/ai0";
    expectRefusal({"stream", devices}, 2, "JSON lines hold one device's frames");
    expectRefusal({"stream", "--format", "csv", devices}, 2, "record them to HDF5");
    expectRefusal({"stream", "--share-clock", "/Dev1/PFI5=/Dev2/PFI1", "--format", "csv", devices},
                  2, "Dev2 takes the leader's sample clock but not its start trigger");
    expectRefusal({"stream", "--share-clock", "/Dev2/PFI5=/Dev1/PFI1", "--out", "x.h5", devices}, 2,
                  "/Dev2/PFI5 is not a terminal of Dev1");
    expectRefusal({"stream", "--view", "0", "--out", "x.h5", devices}, 2,
                  "--view shows one device's stream");
    expectRefusal({"stream", "--share-start", "/Dev1/PFI4=/Dev2/PFI0", "ai_channels=Dev1/ai0"}, 2,
                  "--share-start wires devices together");
}

}  // namespace
}  // namespace host_tests
