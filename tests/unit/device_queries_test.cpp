// Asking the driver about devices: the device list of "scan_devices", the
// information document of "query" and the device information of connect.
// Every driver call that does not return exactly 0 leaves its item out.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stubs/DeviceQueries.h"
#include "support/TestSupport.h"

using namespace kra::device::stubs;
using kra::device::DeviceInfo;
using kra::device::StringMap;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

constexpr int32 kError = -200220;
constexpr int32 kWarning = 200000;  // not success either

json device(const std::string& name, const std::string& productType, json extra = json::object()) {
    extra["name"] = name;
    extra["product_type"] = productType;
    return extra;
}

Strings numbered(const std::string& prefix, int count) {
    Strings names;
    for (int i = 0; i < count; ++i) {
        names.push_back(prefix + std::to_string(i));
    }
    return names;
}

Strings deviceNames(const json& list) {
    Strings names;
    for (const auto& entry : list) {
        names.push_back(entry.at("device_name"));
    }
    return names;
}

class DeviceQueries : public test_support::SimulatorTest {
protected:
    void loadRig(const json& devices) {
        const std::string path = dir.write("rig.json", json{{"devices", devices}}.dump());
        ASSERT_EQ(DAQmxSim_LoadDevices(path.c_str()), 0);
    }
    test_support::TempDir dir;
};

}  // namespace

TEST(SplitNameList, CutsTrimsAndDropsEmptyPieces) {
    EXPECT_EQ(splitNameList("Dev1, Dev2 ,,  ,Dev3"), (Strings{"Dev1", "Dev2", "Dev3"}));
    EXPECT_EQ(splitNameList("\tMy Dev\r\n,\nb "), (Strings{"My Dev", "b"}));
    EXPECT_TRUE(splitNameList("").empty());
    EXPECT_TRUE(splitNameList(" , \t,\r\n").empty());
}

TEST_F(DeviceQueries, ScanListsDevicesWithTheirItems) {
    const json dev1 = scanDevices(true).at(0);
    EXPECT_EQ(dev1, json({{"device_name", "Dev1"},
                          {"product_type", "USB-6211"},
                          {"is_simulated", true},
                          {"serial_num", 0x1A2B3C4Du},
                          {"ai_max_single_chan_rate_hz", 250000.0},
                          {"ai_max_multi_chan_rate_hz", 250000.0},
                          {"ai_physical_chans", numbered("Dev1/ai", 16)},
                          {"n_ai_chans", 16u}}));
    loadRig(json::array());
    EXPECT_EQ(scanDevices(false), json::array());
}

TEST_F(DeviceQueries, UsbFilterNeedsTheExactPrefixAndAProductType) {
    loadRig({device("A", "USB-6009"), device("B", "usb-6009"), device("C", "USB"),
             device("D", "PCIe-6321"), device("E", "USB-")});
    EXPECT_EQ(deviceNames(scanDevices(true)), (Strings{"A", "E"}));
    DAQmxSim_FailCall("DAQmxGetDevProductType", kWarning, 1);
    EXPECT_EQ(deviceNames(scanDevices(true)), (Strings{"E"}));
    DAQmxSim_FailCall("DAQmxGetDevProductType", kError, 1);
    const json all = scanDevices(false);
    EXPECT_EQ(deviceNames(all), (Strings{"A", "B", "C", "D", "E"}));
    EXPECT_EQ(all.at(0).at("product_type"), "");
}

TEST_F(DeviceQueries, ScanLeavesOutEachFailedItem) {
    for (const char* call : {"DAQmxGetDevIsSimulated", "DAQmxGetDevSerialNum",
                             "DAQmxGetDevAIMaxMultiChanRate", "DAQmxGetDevAIPhysicalChans"}) {
        DAQmxSim_FailCall(call, kWarning, -1);
    }
    EXPECT_EQ(scanDevices(true).at(0), json({{"device_name", "Dev1"},
                                             {"product_type", "USB-6211"},
                                             {"ai_max_single_chan_rate_hz", 250000.0}}));
    DAQmxSim_FailCall("DAQmxGetSysDevNames", kError, 1);
    EXPECT_EQ(scanDevices(false), json::array());
}

TEST_F(DeviceQueries, NameListsLongerThanTheFirstBufferAreReadWhole) {
    json devices = json::array({device("Big", "USB-6218", {{"ai_channels", 4096}})});
    const Strings more = numbered("LongishSimulatedDeviceName", 300);  // well over 4096 bytes
    for (const std::string& name : more) {
        devices.push_back(device(name, "USB-6002"));
    }
    loadRig(devices);
    const json list = scanDevices(true);
    ASSERT_EQ(list.size(), 301u);
    EXPECT_EQ(list.back().at("device_name"), more.back());
    EXPECT_EQ(list.at(0).at("ai_physical_chans"), numbered("Big/ai", 4096));
    EXPECT_EQ(
        splitNameList(queryDeviceDocument("Big", "").at("ai_physical_chans").get<std::string>()),
        numbered("Big/ai", 4096));
}

TEST_F(DeviceQueries, QueryDocumentKeepsTheChannelListUnsplit) {
    const json document = queryDeviceDocument("Dev2", "");
    EXPECT_EQ(document.at("product_type"), "USB-6002");
    EXPECT_EQ(document.at("ai_voltage_ranges"), json::parse("[[-10.0, 10.0]]"));
    EXPECT_EQ(document.at("ai_physical_chans").get<std::string>().rfind("Dev2/ai0,", 0), 0u);
    for (const char* absent : {"n_ai_chans", "channel", "supported_terminal_configs"}) {
        EXPECT_FALSE(document.contains(absent)) << absent;
    }
    for (const char* call :
         {"DAQmxGetDevProductType", "DAQmxGetDevIsSimulated", "DAQmxGetDevSerialNum",
          "DAQmxGetDevAIMaxSingleChanRate", "DAQmxGetDevAIMaxMultiChanRate",
          "DAQmxGetDevAIVoltageRngs", "DAQmxGetDevAIPhysicalChans",
          "DAQmxGetPhysicalChanAITermCfgs", "DAQmxGetDevDigTrigSupported",
          "DAQmxGetDevAnlgTrigSupported", "DAQmxGetDevTerminals", "DAQmxGetDevAITrigUsage"}) {
        DAQmxSim_FailCall(call, kWarning, -1);
    }
    EXPECT_EQ(queryDeviceDocument("Dev1", "Dev1/ai0"),
              json({{"device_name", "Dev1"}, {"channel", "Dev1/ai0"}}));
}

TEST_F(DeviceQueries, RangesEndAtTheFirstZeroPairOrAfter32AndTerminalNamesFollowTheBits) {
    json many = json::array();
    for (int i = 1; i <= 32; ++i) {
        many.push_back({-i, i});
    }
    loadRig({device("None", "USB-6001"),
             device("Uni", "USB-6001", {{"ai_voltage_ranges", {{0, 5}, {-1, 1}}}}),
             device("Full", "USB-6001", {{"ai_voltage_ranges", many}}),
             device("T", "USB-6001",
                    {{"ai_channels", 3},
                     {"ai_terminal_configs_by_channel", {{"ai0", 11}, {"ai1", 0}, {"ai2", 15}}}})});
    const auto query = [](const std::string& name, const std::string& channel, const char* key) {
        return queryDeviceDocument(name, channel).at(key);
    };
    EXPECT_EQ(query("None", "", "ai_voltage_ranges"), json::array());
    EXPECT_EQ(query("Uni", "", "ai_voltage_ranges"), json::parse("[[0,5],[-1,1]]"));
    EXPECT_EQ(query("Full", "", "ai_voltage_ranges"), many);
    const char* configs = "supported_terminal_configs";
    EXPECT_EQ(query("T", "T/ai0", configs), (Strings{"RSE", "NRSE", "PseudoDifferential"}));
    EXPECT_EQ(query("T", "T/ai1", configs), json::array());
    EXPECT_EQ(query("T", "T/ai2", configs),
              (Strings{"RSE", "NRSE", "Differential", "PseudoDifferential"}));
}

TEST_F(DeviceQueries, RefreshWritesDecimalHexAndSixDecimalTexts) {
    loadRig({device("R", "USB-6009",
                    {{"product_num", 29030},
                     {"serial_num", 255},
                     {"simulated", false},
                     {"ai_max_single_chan_rate_hz", 2.5},
                     {"ai_max_multi_chan_rate_hz", 48000}}),
             device("Z", "USB-6001")});
    DeviceInfo info;
    info.properties = {{"is_simulated", "\"from manifest\""}, {"bus", "\"USB\""}};
    refreshDeviceInfo("R", info);
    EXPECT_EQ(info.model, "USB-6009");
    EXPECT_EQ(info.serialNumber, "255");
    EXPECT_EQ(info.properties, (StringMap{{"bus", "\"USB\""},
                                          {"product_num", "29030"},
                                          {"serial_hex", "0xff"},
                                          {"is_simulated", "false"},
                                          {"ai_max_single_chan_rate_hz", "2.500000"},
                                          {"ai_max_multi_chan_rate_hz", "48000.000000"}}));
    refreshDeviceInfo("Z", info);
    EXPECT_EQ(info.serialNumber + " " + info.properties.at("serial_hex"), "0 0x0");

    // A failed call keeps what it would have changed.
    for (const char* call : {"DAQmxGetDevProductType", "DAQmxGetDevProductNum",
                             "DAQmxGetDevSerialNum", "DAQmxGetDevIsSimulated",
                             "DAQmxGetDevAIMaxSingleChanRate", "DAQmxGetDevAIMaxMultiChanRate"}) {
        DAQmxSim_FailCall(call, kWarning, -1);
    }
    const DeviceInfo before = info;
    refreshDeviceInfo("R", info);
    EXPECT_EQ(info.model + info.serialNumber, before.model + before.serialNumber);
    EXPECT_EQ(info.properties, before.properties);
}
