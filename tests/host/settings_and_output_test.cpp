// What the host refuses before anything runs, which device it drives, and
// what its recordings say about themselves: the settings table, --device,
// the CSV and JSON headers, the time and digital columns, --out, -q and
// --version.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"

using host_tests::contains;
using host_tests::dataLines;
using host_tests::expectRefusal;
using host_tests::fileText;
using host_tests::HostRun;
using host_tests::runHost;
using host_tests::split;
using nlohmann::json;

namespace {

const std::string kHost = "ni-usb-daq-host: ";

/// "# key: value" comment lines as key -> value.
std::map<std::string, std::string> comments(const std::string& csv) {
    std::map<std::string, std::string> entries;
    for (const auto& line : split(csv)) {
        if (line.rfind("# ", 0) == 0 && line.find(": ") != std::string::npos) {
            const auto colon = line.find(": ");
            entries[line.substr(2, colon - 2)] = line.substr(colon + 2);
        }
    }
    return entries;
}

}  // namespace

TEST(Refusals, NothingRunsAndOneMessageSaysWhy) {
    struct Refusal {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    const Refusal refusals[] = {
        {{"read", "sample_rate=5000"},
         2,
         "unknown setting 'sample_rate' (did you mean sample_clock_rate_hz?)"},
        {{"read", "samples_per_channel=abc"}, 2, "samples_per_channel=abc is not a number"},
        {{"read", "samples_per_channel=2.5"}, 2, "samples_per_channel=2.5 is not a whole number"},
        {{"read", "sample_clock_rate_hz=10x"}, 2, "sample_clock_rate_hz=10x is not a number"},
        {{"read", "sample_clock_rate_hz=0"}, 2, "sample_clock_rate_hz=0 is too small"},
        // Milli on a rate or a count is a slip for mega; other units are no number.
        {{"read", "sample_clock_rate_hz=1m"},
         2,
         "sample_clock_rate_hz=1m is refused: a lower-case m means milli (did you mean M?)"},
        {{"read", "sample_clock_rate_hz=2mHz"}, 2, "=2mHz is refused: a lower-case m means milli"},
        {{"stream", "samples_per_channel=1m"}, 2, "=1m is refused: a lower-case m means milli"},
        {{"read", "sample_clock_rate_hz=5u"},
         2,
         "=5u is not a number (digits with an optional k, K, M or G and Hz or S/s"},
        {{"read", "sample_clock_rate_hz=10kV"}, 2, "sample_clock_rate_hz=10kV is not a number"},
        {{"read", "voltage_range_max=5Hz"}, 2, "voltage_range_max=5Hz is not a number"},
        {{"read", "samples_per_channel=2.0001k"}, 2, "=2.0001k is not a whole number"},
        {{"read", "terminal_config=bogus"}, 2, "terminal_config=bogus is not one of RSE, NRSE"},
        {{"read", "terminal_config=RES"},
         2,
         "terminal_config=RES is not one of RSE, NRSE, DIFF, DIFFERENTIAL, PSEUDO_DIFF, "
         "PSEUDODIFFERENTIAL (did you mean RSE?)"},
        {{"stream", "sample_mode=continous"}, 2, "(did you mean CONTINUOUS?)"},
        {{"read", "sample_mode=on_demand"},
         2,
         "read acquires one finite block: sample_mode=ON_DEMAND (no sample clock) is for 'read "
         "--single' (leave sample_mode out, or give FINITE)"},
        {{"stream", "sample_mode=ON_DEMAND"},
         2,
         "stream runs until stopped: sample_mode=ON_DEMAND (no sample clock) is for 'read "
         "--single' (leave sample_mode out)"},
        {{"read", "start_trigger_type=DIGITAL"},
         2,
         "start_trigger_type=DIGITAL is not one of NONE, DIGITAL_EDGE, ANALOG_EDGE"},
        {{"stream", "units=AMPS"}, 2, "only units=VOLTS is accepted"},
        {{"configure", "delivery_model=CALLBACK"}, 2, "only delivery_model=BLOCKING_READ"},
        {{"read", "voltage_range_min=5", "voltage_range_max=1"},
         2,
         "voltage_range_min (5) must be below voltage_range_max (1)"},
        {{"stream", "sample_mode=FINITE"}, 2, "use 'read' for one finite block"},
        {{"read", "--out", "recording.txt"}, 2, "cannot tell the format of 'recording.txt'"},
        {{"stream", "--time"}, 2, "--time adds a column to CSV output"},
        {{"stream", "--format", "csv", "--out", "x.jsonl"},
         2,
         "--format csv does not match 'x.jsonl', whose extension names jsonl"},
        // Finite frames carry no digital lines: the key would be dropped unseen.
        {{"read", "digital_input_lines=Dev1/port0/line0"}, 2, "read takes no digital_input_lines"},
        // Numbers of options are checked as settings are, and named.
        {{"stream", "--seconds", "nan"}, 2, "--seconds nan is not a number"},
        {{"stream", "--recover", "--recover-timeout", "nan"},
         2,
         "--recover-timeout nan is not a number"},
        {{"plot", "--stream-seconds", "inf"}, 2, "--stream-seconds inf is not a number"},
        {{"stream", "--seconds", "0"}, 2, "--seconds 0 is too small (it must be at least 0.001)"},
        {{"stream", "--frames", "2.5"}, 2, "--frames 2.5 is not a whole number"},
        {{"stream", "--samples", "1m"}, 2, "--samples 1m is refused: a lower-case m means milli"},
        {{"plot", "--samples", "100x"},
         2,
         "--samples 100x is not a number (digits with an optional k, K, M or G"},
        {{"stream", "--frames", "1e30"}, 2, "--frames 1e30 is too large"},
        {{"read", "--out", "/nonexistent-dir/x.csv"},
         1,
         "cannot write '/nonexistent-dir/x.csv': the folder '/nonexistent-dir' does not exist"},
        {{}, 2, "a subcommand is required"},
    };
    for (const auto& refusal : refusals) {
        expectRefusal(refusal.args, refusal.exitCode, refusal.message);
    }
}

TEST(Refusals, AnUnknownDeviceFailsEverySubcommandWithOneMessage) {
    for (const std::string command :
         {"info", "status", "scan", "query", "caps", "read", "stream", "plot", "configure"}) {
        SCOPED_TRACE(command);
        const HostRun run = runHost({"--device", "Dev9", command});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(run.err.rfind(kHost + "unknown device 'Dev9': the driver lists Dev1 (", 0), 0u)
            << run.err;
        EXPECT_EQ(split(run.err).size(), 1u) << run.err;
    }
}

TEST(Settings, NumbersAndChoicesReachThePlugInInItsOwnFormHoweverTheyAreTyped) {
    struct Typed {
        std::string setting;
        std::string key;  ///< in the configure result
        std::string value;
    };
    const Typed typed[] = {
        {"sample_clock_rate_hz=2.5k", "requested_sample_rate_hz", "2500.000000"},
        {"sample_clock_rate_hz=10kHz", "requested_sample_rate_hz", "10000.000000"},
        {"sample_clock_rate_hz=10K", "requested_sample_rate_hz", "10000.000000"},
        {"sample_clock_rate_hz=0.02MS/s", "requested_sample_rate_hz", "20000.000000"},
        {"sample_clock_rate_hz=+500hz", "requested_sample_rate_hz", "500.000000"},
        {"samples_per_channel=2.5K", "samples_per_channel", "2500"},
        {"samples_per_channel=1.001k", "samples_per_channel", "1001"},
        {"samples_per_channel=3e2", "samples_per_channel", "300"},
        {"sample_mode=finite", "sample_mode", "FINITE"},
        {"sample_mode=On_Demand", "sample_mode", "ON_DEMAND"},
    };
    for (const auto& [setting, key, value] : typed) {
        SCOPED_TRACE(setting);
        const HostRun run = runHost({"configure", setting});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(json::parse(run.out).at("data").at(key), value);
    }
    // Volts and seconds keep every SI prefix; stored-only keys take the value
    // the plug-in behaves as, in any case.
    const HostRun run = runHost(
        {"configure", "voltage_range_min=-500mV", "voltage_range_max=500m", "read_timeout_s=250ms",
         "terminal_config=diff", "sample_clock_active_edge=falling", "units=volts",
         "start_trigger_type=none", "delivery_model=BLOCKING_READ", "analog_trigger_level_v=0V"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Dev2's channels have no NRSE: "nrse" passed on as typed would have
    // quietly become RSE and succeeded.
    const HostRun nrse = runHost({"--device", "Dev2", "configure", "terminal_config=nrse"});
    EXPECT_EQ(nrse.exitCode, 1);
    EXPECT_TRUE(contains(nrse.err, "Requested Value: DAQmx_Val_NRSE"));
    // No sample clock is what a single read has anyway.
    EXPECT_EQ(runHost({"read", "--single", "sample_mode=on_demand"}).exitCode, 0);
}

TEST(Settings, TheTableIsListedAndTheReadmeShowsItUnchanged) {
    const HostRun listed = runHost({"settings", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const json table = json::parse(listed.out);
    ASSERT_EQ(table.size(), 24u);
    EXPECT_EQ(table.at(0).at("key"), "device_name");
    const HostRun markdown = runHost({"settings", "--markdown"});
    ASSERT_EQ(markdown.exitCode, 0) << markdown.err;
    EXPECT_TRUE(contains(fileText(std::filesystem::path(NI_USB_DAQ_SOURCE_DIR) / "README.md"),
                         markdown.out))
        << "README.md is out of date: paste 'ni-usb-daq-host settings --markdown'";
}

TEST(DeviceOption, SetsTheDefaultChannelsAndTheDeviceQueryDescribes) {
    const HostRun read =
        runHost({"--device", "Dev2", "read", "--format", "csv", "samples_per_channel=2"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(comments(read.out).at("device").rfind("Dev2 (USB-", 0), 0u);
    EXPECT_EQ(dataLines(read.out).at(0), "sample,Dev2/ai0");

    const HostRun query = runHost({"--device", "Dev2", "query"});
    ASSERT_EQ(query.exitCode, 0) << query.err;
    const json info = json::parse(query.out);
    EXPECT_EQ(info.at("device_name"), "Dev2");
    // One channel may use the single-channel maximum; more share the aggregate.
    const json& rates = info.at("max_rate_per_channel_hz");
    EXPECT_EQ(rates.at(0), info.at("ai_max_single_chan_rate_hz"));
    EXPECT_DOUBLE_EQ(rates.at(3).get<double>(),
                     info.at("ai_max_multi_chan_rate_hz").get<double>() / 4);
}

TEST(DeviceOption, WithoutItTheOnlyDevicePresentIsUsed) {
    const test_support::TempDir dir;
    const std::string rig = dir.write(
        "rig.json", R"({"devices":[{"name":"Lab3","product_type":"USB-6001",)"
                    R"("ai_channels":4,"ai_max_single_chan_rate_hz":20000,)"
                    R"("ai_max_multi_chan_rate_hz":20000,"ai_voltage_ranges":[[-10,10]]}]})");
    const HostRun run = runHost({"read", "--format", "csv", "samples_per_channel=3"},
                                {"NIDAQMX_SIM_DEVICES=" + rig});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dataLines(run.out).at(0), "sample,Lab3/ai0");
}

TEST(CsvHeader, SaysWhatWasRecordedAndTheTimeColumnIsIndexOverRate) {
    const HostRun run =
        runHost({"read", "--format", "csv", "--time", "ai_channels=Dev1/ai0:1",
                 "samples_per_channel=7", "sample_clock_rate_hz=3k", "voltage_range_min=-5",
                 "voltage_range_max=5", "terminal_config=NRSE"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto header = comments(run.out);
    EXPECT_EQ(header.at("device").rfind("Dev1 (USB-", 0), 0u);
    EXPECT_EQ(header.at("channels"), "Dev1/ai0 Dev1/ai1");
    EXPECT_EQ(header.at("voltage_range_v"), "-5 to 5");
    EXPECT_EQ(header.at("terminal_config"), "NRSE");
    EXPECT_EQ(header.at("units"), "V");
    EXPECT_EQ(header.at("start_utc").size(), std::string("2026-01-01T00:00:00.000000Z").size());
    EXPECT_EQ(header.at("program").rfind("ni-usb-daq-host ", 0), 0u);
    const double rate = std::stod(header.at("sample_rate_hz"));
    EXPECT_GT(rate, 0.0);

    const auto lines = dataLines(run.out);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "sample,time_s,Dev1/ai0,Dev1/ai1");
    for (std::size_t s = 0; s < 7; ++s) {
        const auto row = split(lines[s + 1], ',');
        ASSERT_EQ(row.size(), 4u);
        EXPECT_EQ(std::stod(row[1]), static_cast<double>(s) / rate) << lines[s + 1];
    }
}

TEST(CsvHeader, TheRequestedRateIsTheSettingAtFullPrecision) {
    // The plug-in's report rounds it to the microhertz.
    const std::string rate = "sample_clock_rate_hz=1000.0000001";
    const HostRun csv = runHost({"read", "--format", "csv", "samples_per_channel=2", rate});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_TRUE(comments(csv.out).at("sample_rate_hz").ends_with(" requested 1000.0000001)"));
    const HostRun jsonl = runHost({"stream", "--frames", "1", "samples_per_channel=2", rate});
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err;
    EXPECT_EQ(json::parse(split(jsonl.out).front()).at("requested_sample_rate_hz"), 1000.0000001);
}

TEST(CsvHeader, DigitalLinesBecomeColumnsOfTheFramesSnapshot) {
    const HostRun run =
        runHost({"stream", "--frames", "2", "--format", "csv", "samples_per_channel=3",
                 "digital_input_lines=Dev1/port0/line0:1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(comments(run.out).at("digital_lines"),
              "Dev1/port0/line0 Dev1/port0/line1 (one snapshot per frame)");
    const auto lines = dataLines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines[0], "sample,Dev1/ai0,Dev1/port0/line0,Dev1/port0/line1");
    for (std::size_t r = 1; r < lines.size(); ++r) {
        const auto row = split(lines[r], ',');
        ASSERT_EQ(row.size(), 4u) << lines[r];
        EXPECT_TRUE((row[2] == "0" || row[2] == "1") && (row[3] == "0" || row[3] == "1"));
    }
}

TEST(JsonLines, HeaderLineFirstThenTheFramesAsThePlugInWroteThem) {
    const HostRun run = runHost(
        {"stream", "--frames", "2", "--header", "ai_channels=Dev1/ai0:2", "samples_per_channel=4"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = split(run.out);
    ASSERT_EQ(lines.size(), 4u);  // the header, two frames, the end
    const json header = json::parse(lines[0]);
    EXPECT_EQ(header.at("event"), "header");
    EXPECT_EQ(header.at("device"), "Dev1");
    EXPECT_EQ(header.at("channels"), json({"Dev1/ai0", "Dev1/ai1", "Dev1/ai2"}));
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const json frame = json::parse(lines[i]);
        EXPECT_EQ(frame.at("sequence_no"), i);
        // Compact, keys in order: the plug-in's text, not a re-serialisation.
        EXPECT_EQ(frame.dump(), lines[i]);
    }
}

TEST(OutOption, WritesTheFileInTheFormatOfItsExtensionEvenInANonAsciiFolder) {
    const test_support::TempDir dir;
    const std::string folderText = dir.file("données");
    const auto folder = std::filesystem::path(std::u8string(folderText.begin(), folderText.end()));
    std::filesystem::create_directories(folder);
    const auto csv = folder / "run.csv";
    const auto jsonFile = folder / "block.json";
    // Arguments are UTF-8 on every system.
    const auto utf8 = [](const std::filesystem::path& path) {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    };
    const HostRun stream =
        runHost({"stream", "--frames", "2", "--out", utf8(csv), "samples_per_channel=5"});
    ASSERT_EQ(stream.exitCode, 0) << stream.err;
    EXPECT_TRUE(stream.out.empty());
    EXPECT_EQ(dataLines(fileText(csv)).size(), 11u);

    const HostRun read = runHost({"read", "--out", utf8(jsonFile), "samples_per_channel=5"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(json::parse(fileText(jsonFile)).at("frame").at("sample_count"), 5);
}

TEST(OutOption, ExtensionsAndFormatNamesMatchInAnyCase) {
    const test_support::TempDir dir;
    const std::string csv = dir.file("RUN.CSV");
    const HostRun stream =
        runHost({"stream", "--frames", "1", "--out", csv, "samples_per_channel=2"});
    ASSERT_EQ(stream.exitCode, 0) << stream.err;
    EXPECT_EQ(dataLines(fileText(csv)).size(), 3u);
    const HostRun read = runHost({"read", "--format", "CSV", "samples_per_channel=2"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(dataLines(read.out).size(), 3u);
}

TEST(Verbosity, QuietHidesThePlugInsInformationAndVersionNamesThePlugIn) {
    const HostRun version = runHost({"--version"});
    ASSERT_EQ(version.exitCode, 0) << version.err;
    const std::string plugin = std::filesystem::path(NI_USB_DAQ_PLUGIN_PATH).filename().string();
    EXPECT_EQ(version.out.rfind("ni-usb-daq-host " NI_USB_DAQ_VERSION "\nplug-in: ", 0), 0u);
    EXPECT_TRUE(contains(version.out, plugin + "\n")) << version.out;

    EXPECT_TRUE(contains(runHost({"info"}).err, "[ni-usb-daq I] "));
    if (const auto reason = test_support::platform::separateCppRuntimes()) {
        GTEST_SKIP() << "-q: " << *reason;
    }
    const HostRun quiet = runHost({"-q", "info"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, "[ni-usb-daq I] "));
}
