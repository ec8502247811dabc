// The subcommands that describe the device: info, status, scan, query, caps
// and configure, checked against what the simulated driver itself says.
#include <array>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "daqmx/NIDAQmx.h"

using host_tests::contains;
using host_tests::HostRun;
using host_tests::runHost;
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
    EXPECT_TRUE(device.at("properties").is_object());
    EXPECT_EQ(device.at("properties").at("is_simulated"), "true");
    EXPECT_EQ(info.at("health").at("healthy"), true);
    EXPECT_EQ(info.at("health").at("score"), 100);
    EXPECT_EQ(info.at("self_test").at("passed"), true);
    EXPECT_TRUE(info.at("self_test").at("errors").empty());
    EXPECT_TRUE(contains(run.err, "NIUSBDAQStub::disconnect device=Dev1")) << run.err;
}

TEST(InfoCommand, DeviceAndIdOptionsReachTheStub) {
    const json info = document(runHost({"--device", "Dev2", "--id", "bench-daq", "info"}));
    EXPECT_EQ(info.at("device_info").at("model"), driverProductType("Dev2"));
    EXPECT_EQ(info.at("device_info").at("id"), "bench-daq");
}

TEST(StatusCommand, ShowsDisconnectedUnlessAskedToConnect) {
    const json idle = document(runHost({"status"}));
    EXPECT_EQ(idle.at("code"), 2);
    EXPECT_EQ(idle.at("code_name"), "Disconnected");
    EXPECT_EQ(idle.at("state_name"), "disconnected");

    const json connected = document(runHost({"status", "--connect"}));
    EXPECT_EQ(connected.at("code"), 1);
    EXPECT_EQ(connected.at("code_name"), "Connected");
    EXPECT_EQ(connected.at("message"), "NI USB-DAQ ready");
    EXPECT_EQ(connected.at("properties").at("model"), driverProductType("Dev1"));
    EXPECT_GT(connected.at("timestamp_ns").get<std::uint64_t>(), 0u);
}

TEST(ScanCommand, ListsDev1WithItsSixteenChannels) {
    const json devices = document(runHost({"scan", "--all"}));
    ASSERT_TRUE(devices.is_array());
    const auto dev1 = std::find_if(devices.begin(), devices.end(),
                                   [](const json& d) { return d.at("device_name") == "Dev1"; });
    ASSERT_NE(dev1, devices.end()) << devices;
    EXPECT_EQ(dev1->at("n_ai_chans"), 16);
    EXPECT_EQ(dev1->at("ai_physical_chans").at(15), "Dev1/ai15");
}

TEST(QueryCommand, DescribesTheChannelAskedFor) {
    const json info =
        document(runHost({"query", "--device-name", "Dev1", "--channel", "Dev1/ai3"}));
    EXPECT_EQ(info.at("device_name"), "Dev1");
    EXPECT_EQ(info.at("channel"), "Dev1/ai3");
    EXPECT_EQ(info.at("product_type"), driverProductType("Dev1"));
    EXPECT_TRUE(info.at("supported_terminal_configs").is_array());
}

TEST(ConfigureCommand, PrintsTheResultAndItsChannelCount) {
    const json result =
        document(runHost({"configure", "ai_channels=Dev1/ai0:3", "sample_clock_rate_hz=500"}));
    EXPECT_EQ(result.at("success"), true);
    EXPECT_EQ(result.at("error"), "");
    EXPECT_EQ(result.at("data").at("n_channels"), "4");
    EXPECT_EQ(result.at("data").at("requested_sample_rate_hz"), "500.000000");
}

TEST(ConfigureCommand, FailureShowsTheErrorAndExitsNonZero) {
    const HostRun run = runHost({"configure", "ai_channels=Dev9/ai0"});
    EXPECT_EQ(run.exitCode, 1);
    const json result = json::parse(run.out);
    EXPECT_EQ(result.at("success"), false);
    EXPECT_FALSE(result.at("error").get<std::string>().empty());
    EXPECT_TRUE(contains(run.err, "configure failed: " + result.at("error").get<std::string>()));
}
