// The subcommands that describe the device: info, status, scan, query, caps
// and configure, checked against what the simulated driver itself says;
// finding the plug-in; and the ways a command fails: each with nothing on
// standard output and one message of the host's own.

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "daqmx/NIDAQmx.h"
#include "support/TestSupport.h"

using host_tests::contains;
using host_tests::HostRun;
using host_tests::runHost;
using host_tests::split;
using nlohmann::json;

namespace {

std::string driverProductType(const char* device) {
    std::array<char, 256> text{};
    EXPECT_EQ(DAQmxGetDevProductType(device, text.data(), text.size()), 0);
    return text.data();
}

/// Stdout of a successful run as one JSON document.
json document(const HostRun& run) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return json::parse(run.out);
}

}  // namespace

TEST(InfoCommand, ReportsTheDriversModelAndSerialAndDisconnects) {
    const HostRun run = runHost({"info"});
    const json info = document(run);
    const json& device = info.at("device_info");
    EXPECT_EQ(device.at("model"), driverProductType("Dev1"));
    uInt32 serial = 0;
    ASSERT_EQ(DAQmxGetDevSerialNum("Dev1", &serial), 0);
    EXPECT_EQ(device.at("serial_number"), std::to_string(serial));
    EXPECT_EQ(device.at("id"), "ni-usb-daq");
    EXPECT_EQ(device.at("properties").at("is_simulated"), "true");
    EXPECT_EQ(info.at("health").at("score"), 100);
    EXPECT_EQ(info.at("self_test").at("passed"), true);
    EXPECT_TRUE(info.at("self_test").at("errors").empty());
    EXPECT_TRUE(contains(run.err, "NIUSBDAQStub::disconnect device=Dev1"));

    const json other = document(runHost({"--device", "Dev2", "--id", "bench-daq", "info"}));
    EXPECT_EQ(other.at("device_info").at("model"), driverProductType("Dev2"));
    EXPECT_EQ(other.at("device_info").at("id"), "bench-daq");
}

TEST(StatusCommand, ConnectsAsInfoDoesUnlessToldNotTo) {
    const json idle = document(runHost({"status", "--no-connect"}));
    EXPECT_EQ(idle.at("code"), 2);
    EXPECT_EQ(idle.at("code_name"), "Disconnected");

    for (const bool connectGiven : {false, true}) {
        const json connected =
            document(runHost(connectGiven ? std::vector<std::string>{"status", "--connect"}
                                          : std::vector<std::string>{"status"}));
        EXPECT_EQ(connected.at("code"), 1);
        EXPECT_EQ(connected.at("code_name"), "Connected");
        EXPECT_EQ(connected.at("message"), "NI USB-DAQ ready");
        EXPECT_EQ(connected.at("properties").at("model"), driverProductType("Dev1"));
        EXPECT_GT(connected.at("timestamp_ns").get<std::uint64_t>(), 0u);
    }
}

TEST(ScanAndQueryCommands, ListDev1WithItsSixteenChannelsAndDescribeTheOneAskedFor) {
    // JSON into a pipe, and with --json on a terminal too.
    const json devices = document(runHost({"scan", "--all"}));
    EXPECT_EQ(document(runHost({"scan", "--json", "--all"})), devices);
    const auto dev1 = std::find_if(devices.begin(), devices.end(),
                                   [](const json& d) { return d.at("device_name") == "Dev1"; });
    ASSERT_NE(dev1, devices.end()) << devices;
    EXPECT_EQ(dev1->at("ai_physical_chans").size(), 16u);
    EXPECT_EQ(dev1->at("ai_physical_chans").at(15), "Dev1/ai15");

    const json info =
        document(runHost({"query", "--device-name", "Dev1", "--channel", "Dev1/ai3"}));
    EXPECT_EQ(info.at("channel"), "Dev1/ai3");
    EXPECT_EQ(info.at("product_type"), driverProductType("Dev1"));
    EXPECT_TRUE(info.at("supported_terminal_configs").is_array());
}

TEST(ConfigureCommand, PrintsTheResultAndOnFailureItsErrorAndExitsNonZero) {
    const json result =
        document(runHost({"configure", "ai_channels=Dev1/ai0:3", "sample_clock_rate_hz=500"}));
    EXPECT_EQ(result.at("success"), true);
    EXPECT_EQ(result.at("data").at("n_channels"), "4");
    EXPECT_EQ(result.at("data").at("requested_sample_rate_hz"), "500.000000");

    const HostRun run = runHost({"configure", "ai_channels=Dev9/ai0"});
    EXPECT_EQ(run.exitCode, 1);
    const json failed = json::parse(run.out);
    EXPECT_EQ(failed.at("success"), false);
    EXPECT_FALSE(failed.at("error").get<std::string>().empty());
    EXPECT_TRUE(contains(run.err, "configure failed: " + failed.at("error").get<std::string>()));
}

TEST(CapsCommand, NamesTheManifestThePluginReportsLoadingUnlessQuiet) {
    const std::string devices = std::string(NI_USB_DAQ_SOURCE_DIR) + "/devices";
    const HostRun run = runHost({"caps"}, {"KRA_DEVICE_MANIFEST_DIR=" + devices});
    EXPECT_TRUE(document(run).contains("features"));
    EXPECT_TRUE(contains(run.err, "ni-usb-daq-host: capabilities from " + devices +
                                      "/ni-usb-daq/device-manifest.json\n"))
        << run.err;
    const HostRun quiet = runHost({"-q", "caps"}, {"KRA_DEVICE_MANIFEST_DIR=" + devices});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_FALSE(contains(quiet.err, "capabilities from")) << quiet.err;
}

TEST(PluginLoading, DefaultLibraryIsFoundNextToTheProgramEvenThroughALink) {
    // The program is started through a symbolic link in another directory:
    // the plug-in must be looked up beside the real file, not beside argv[0].
    if (const auto reason = test_support::symlinksUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const auto directory = std::filesystem::temp_directory_path() /
                           ("host-link-" + std::to_string(host_tests::currentProcessId()));
    std::filesystem::create_directories(directory);
    const auto link = directory / "ni-usb-daq-host";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(NI_USB_DAQ_HOST_PATH, link);
    const HostRun run = host_tests::HostProcess({"caps"}, {}, link.string()).finish();
    std::filesystem::remove_all(directory);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "features"));
}

TEST(CommandLine, FailuresPrintNothingAndOneMessage) {
    const std::string host = "ni-usb-daq-host: ";
    struct Failure {
        std::vector<std::string> args;
        int exitCode;
        std::string message;  ///< found in standard error
        bool pluginSpeaks;    ///< false: the plug-in was never loaded, or never reached
    };
    const Failure failures[] = {
        {{"--library", "/nonexistent/libni_usb_daq.so", "info"},
         1,
         host + "cannot load plug-in '/nonexistent/libni_usb_daq.so': ",
         false},
        {{"--library", NIDAQMX_SIM_PATH, "caps"},
         1,
         host + "plug-in '" + NIDAQMX_SIM_PATH + "' does not export createDeviceStub",
         false},
        {{"--library", HALF_PLUGIN_PATH, "caps"},
         1,
         host + "plug-in '" + HALF_PLUGIN_PATH + "' does not export destroyDeviceStub",
         false},
        // The stub is freed even when an operation throws across the interface.
        {{"--library", SCRIPTED_PLUGIN_PATH, "caps"},
         1,
         "scripted: destroyed\n" + host + "scripted exception\n",
         false},
        // An unknown device is refused before the stub is initialised.
        {{"--device", "NoSuchDev", "info"},
         1,
         host + "unknown device 'NoSuchDev': the driver lists Dev1 (USB-",
         false},
        // A mode the user gives is not overridden by read's FINITE default.
        {{"read", "sample_mode=CONTINUOUS"},
         2,
         host + "read acquires one finite block: sample_mode=CONTINUOUS is for stream",
         false},
        {{"stream", "--frames", "1", "ai_channels=Dev9/ai0"}, 1, host + "configure failed: ", true},
        // A query of what the driver does not know is refused, not answered empty.
        {{"query", "--device-name", "Dev9"},
         1,
         host + "unknown device 'Dev9': the driver lists Dev1 (USB-",
         true},
        {{"query", "--channel", "Dev1/ai99"},
         1,
         host + "unknown channel 'Dev1/ai99': Dev1 has Dev1/ai0 to Dev1/ai15 (16 analogue inputs)",
         true},
        {{"--device", "Dev2", "query", "--channel", "Dev1/ai0"},
         1,
         host + "unknown channel 'Dev1/ai0': Dev2 has Dev2/ai0 to ",
         true},
        {{"status", "--connect", "--no-connect"}, 2, "--no-connect", false},
        // A plot's file is checked before anything is loaded or acquired.
        {{"plot", "--out", "/nonexistent-dir/plot.svg"},
         1,
         host + "cannot write '/nonexistent-dir/plot.svg'",
         false},
        {{"configure", "ai_channels=Dev1/ai0", "samples_per_channel"},
         2,
         host + "malformed setting",
         false},
        {{"configure", "ai_channels=Dev1/ai0", "=5"}, 2, host + "malformed setting", false},
        {{"configure", "ai_channels=Dev1/ai0", ""}, 2, host + "malformed setting", false},
        {{"read", "samples_per_channel=5", "samples_per_channel=6"},
         2,
         host + "malformed setting: 'samples_per_channel' is given more than once",
         false},
        {{"stream", "--frames", "0"}, 2, "--frames", false},
        {{"stream", "--max-gaps", "1"}, 2, "--max-gaps requires --recover", false},
        {{"read", "--format", "xml"}, 2, "--format", false},
        {{"no-such-command"}, 2, "", false},
        {{}, 2, "", false},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(testing::PrintToString(failure.args));
        const HostRun run = runHost(failure.args);
        EXPECT_EQ(run.exitCode, failure.exitCode);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_TRUE(contains(run.err, failure.message));
        const auto lines = split(run.err);
        EXPECT_LE(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.rfind(host, 0) == 0; }),
                  1)
            << run.err;
        EXPECT_EQ(run.err.find("[ni-usb-daq") != std::string::npos, failure.pluginSpeaks)
            << run.err;
    }
}
