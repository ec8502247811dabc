// Asking the driver about devices: the device list of "scan_devices", the
// information document of "query" and the device information of connect.
// Every driver call that does not return exactly 0 leaves its item out.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "daqmx/sim/NIDAQmxSimControl.h"
#include "device/DeviceRecords.h"
#include "stubs/DeviceQueries.h"
#include "support/TestSupport.h"

using namespace kra::device::stubs;
using kra::device::DeviceInfo;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

constexpr int32 kSomeError = -200220;   // a device-not-found style failure
constexpr int32 kSomeWarning = 200000;  // warnings are not success here

/// The simulator with a rig of this test's own.
class DeviceQueries : public test_support::SimulatorTest {
protected:
    void loadRig(const json& devices) {
        const std::string path = dir.write("rig.json", json{{"devices", devices}}.dump());
        ASSERT_EQ(DAQmxSim_LoadDevices(path.c_str()), 0) << path;
    }

    static json device(const std::string& name, const std::string& productType) {
        return {{"name", name}, {"product_type", productType}};
    }

    static Strings deviceNames(const json& list) {
        Strings names;
        for (const auto& entry : list) {
            names.push_back(entry.at("device_name"));
        }
        return names;
    }

    static Strings channelNames(const std::string& device, int count) {
        Strings names;
        for (int i = 0; i < count; ++i) {
            names.push_back(device + "/ai" + std::to_string(i));
        }
        return names;
    }

    test_support::TempDir dir;
};

}  // namespace

TEST(SplitNameList, CutsTrimsAndDropsEmptyPieces) {
    EXPECT_EQ(splitNameList("Dev1, Dev2 ,,  ,Dev3"), (Strings{"Dev1", "Dev2", "Dev3"}));
    EXPECT_EQ(splitNameList("\tDev1/ai0\r\n,\nDev1/ai1 "), (Strings{"Dev1/ai0", "Dev1/ai1"}));
    EXPECT_EQ(splitNameList("My Device"), (Strings{"My Device"}));
    EXPECT_TRUE(splitNameList("").empty());
    EXPECT_TRUE(splitNameList(" , \t,\r\n").empty());
}

TEST_F(DeviceQueries, ScanListsEveryItemOfTheBuiltInDevices) {
    const json list = scanDevices(true);
    ASSERT_EQ(deviceNames(list), (Strings{"Dev1", "Dev2"}));
    const json& dev1 = list.at(0);
    EXPECT_EQ(dev1.at("product_type"), "USB-6211");
    EXPECT_EQ(dev1.at("is_simulated"), true);
    EXPECT_TRUE(dev1.at("serial_num").is_number_unsigned());
    EXPECT_EQ(dev1.at("ai_max_single_chan_rate_hz"), 250000.0);
    EXPECT_EQ(dev1.at("ai_max_multi_chan_rate_hz"), 250000.0);
    EXPECT_EQ(dev1.at("ai_physical_chans"), channelNames("Dev1", 16));
    EXPECT_EQ(dev1.at("n_ai_chans"), 16u);
    EXPECT_TRUE(dev1.at("n_ai_chans").is_number_unsigned());
}

TEST_F(DeviceQueries, UsbFilterNeedsTheExactPrefix) {
    loadRig(json::array({device("A", "USB-6009"), device("B", "usb-6009"), device("C", "USB"),
                         device("D", "PCIe-6321"), device("E", "USB-")}));
    EXPECT_EQ(deviceNames(scanDevices(true)), (Strings{"A", "E"}));
    EXPECT_EQ(deviceNames(scanDevices(false)), (Strings{"A", "B", "C", "D", "E"}));
}

TEST_F(DeviceQueries, FailedProductTypeSkipsUsbScanAndIsEmptyOtherwise) {
    DAQmxSim_FailCall("DAQmxGetDevProductType", kSomeError, 1);
    EXPECT_EQ(deviceNames(scanDevices(true)), (Strings{"Dev2"}));
    DAQmxSim_FailCall("DAQmxGetDevProductType", kSomeWarning, 1);
    const json list = scanDevices(false);
    ASSERT_EQ(deviceNames(list), (Strings{"Dev1", "Dev2"}));
    EXPECT_EQ(list.at(0).at("product_type"), "");
    EXPECT_EQ(list.at(1).at("product_type"), "USB-6002");
}

TEST_F(DeviceQueries, ScanLeavesOutEachFailedItem) {
    DAQmxSim_FailCall("DAQmxGetDevIsSimulated", kSomeError, -1);
    DAQmxSim_FailCall("DAQmxGetDevSerialNum", kSomeWarning, -1);
    DAQmxSim_FailCall("DAQmxGetDevAIMaxMultiChanRate", kSomeError, -1);
    DAQmxSim_FailCall("DAQmxGetDevAIPhysicalChans", kSomeError, -1);
    const json dev1 = scanDevices(true).at(0);
    EXPECT_EQ(dev1, json({{"device_name", "Dev1"},
                          {"product_type", "USB-6211"},
                          {"ai_max_single_chan_rate_hz", 250000.0}}));
}

TEST_F(DeviceQueries, FailedOrEmptyDeviceListGivesEmptyArray) {
    DAQmxSim_FailCall("DAQmxGetSysDevNames", kSomeError, 1);
    EXPECT_EQ(scanDevices(true), json::array());
    loadRig(json::array());
    EXPECT_EQ(scanDevices(false), json::array());
}

TEST_F(DeviceQueries, NameListsLongerThanTheFirstBufferAreReadWhole) {
    // 300 devices with long names make a device list of well over 4096 bytes,
    // and 4096 channels a channel list of over 40000.
    json devices =
        json::array({{{"name", "Big"}, {"product_type", "USB-6218"}, {"ai_channels", 4096}}});
    Strings expected{"Big"};
    for (int i = 0; i < 300; ++i) {
        expected.push_back("LongishSimulatedDeviceName" + std::to_string(i));
        devices.push_back(device(expected.back(), "USB-6002"));
    }
    loadRig(devices);
    const json list = scanDevices(true);
    EXPECT_EQ(deviceNames(list), expected);
    EXPECT_EQ(list.at(0).at("n_ai_chans"), 4096u);
    EXPECT_EQ(list.at(0).at("ai_physical_chans"), channelNames("Big", 4096));

    const json document = queryDeviceDocument("Big", "");
    EXPECT_EQ(splitNameList(document.at("ai_physical_chans").get<std::string>()),
              channelNames("Big", 4096));
}

TEST_F(DeviceQueries, QueryDocumentOfABuiltInDevice) {
    const json document = queryDeviceDocument("Dev1", "");
    EXPECT_EQ(document.at("device_name"), "Dev1");
    EXPECT_EQ(document.at("product_type"), "USB-6211");
    EXPECT_EQ(document.at("is_simulated"), true);
    EXPECT_TRUE(document.at("serial_num").is_number_unsigned());
    EXPECT_EQ(document.at("ai_max_single_chan_rate_hz"), 250000.0);
    EXPECT_EQ(document.at("ai_max_multi_chan_rate_hz"), 250000.0);
    EXPECT_EQ(document.at("ai_voltage_ranges"), json::parse("[[-10,10],[-5,5],[-1,1],[-0.2,0.2]]"));
    // The channel list stays the driver's text here, not split, and uncounted.
    ASSERT_TRUE(document.at("ai_physical_chans").is_string());
    EXPECT_EQ(splitNameList(document.at("ai_physical_chans").get<std::string>()),
              channelNames("Dev1", 16));
    EXPECT_FALSE(document.contains("n_ai_chans"));
    EXPECT_FALSE(document.contains("channel"));
    EXPECT_FALSE(document.contains("supported_terminal_configs"));
}

TEST_F(DeviceQueries, QueryLeavesOutEachFailedItem) {
    for (const char* call : {"DAQmxGetDevProductType", "DAQmxGetDevIsSimulated",
                             "DAQmxGetDevSerialNum", "DAQmxGetDevAIMaxSingleChanRate",
                             "DAQmxGetDevAIMaxMultiChanRate", "DAQmxGetDevAIVoltageRngs",
                             "DAQmxGetDevAIPhysicalChans", "DAQmxGetPhysicalChanAITermCfgs"}) {
        DAQmxSim_FailCall(call, kSomeWarning, -1);
    }
    EXPECT_EQ(queryDeviceDocument("Dev1", "Dev1/ai0"),
              json({{"device_name", "Dev1"}, {"channel", "Dev1/ai0"}}));
}

TEST_F(DeviceQueries, VoltageRangesEndAtTheFirstZeroPair) {
    json many = json::array();
    for (int i = 1; i <= 32; ++i) {
        many.push_back({-i, i});
    }
    json none = device("None", "USB-6001");
    none["ai_voltage_ranges"] = json::array();
    json unipolar = device("Uni", "USB-6001");
    unipolar["ai_voltage_ranges"] = json::parse("[[0, 5], [-1, 1]]");
    json full = device("Full", "USB-6001");
    full["ai_voltage_ranges"] = many;
    loadRig(json::array({none, unipolar, full}));

    EXPECT_EQ(queryDeviceDocument("None", "").at("ai_voltage_ranges"), json::array());
    EXPECT_EQ(queryDeviceDocument("Uni", "").at("ai_voltage_ranges"),
              json::parse("[[0.0, 5.0], [-1.0, 1.0]]"));
    EXPECT_EQ(queryDeviceDocument("Full", "").at("ai_voltage_ranges"), many);
}

TEST_F(DeviceQueries, TerminalConfigNamesFollowTheBitsInOrder) {
    json rig = device("T", "USB-6001");
    rig["ai_channels"] = 3;
    rig["ai_terminal_configs_by_channel"] = {{"ai0", 11}, {"ai1", 0}, {"ai2", 15}};
    loadRig(json::array({rig}));
    EXPECT_EQ(queryDeviceDocument("T", "T/ai0").at("supported_terminal_configs"),
              (Strings{"RSE", "NRSE", "PseudoDifferential"}));
    EXPECT_EQ(queryDeviceDocument("T", "T/ai1").at("supported_terminal_configs"), json::array());
    EXPECT_EQ(queryDeviceDocument("T", "T/ai2").at("supported_terminal_configs"),
              (Strings{"RSE", "NRSE", "Differential", "PseudoDifferential"}));
}

TEST_F(DeviceQueries, ChannelWhoseTerminalCallFailsIsStillNamed) {
    DAQmxSim_FailCall("DAQmxGetPhysicalChanAITermCfgs", kSomeError, 1);
    const json document = queryDeviceDocument("Dev1", "Dev1/ai3");
    EXPECT_EQ(document.at("channel"), "Dev1/ai3");
    EXPECT_FALSE(document.contains("supported_terminal_configs"));
}

TEST_F(DeviceQueries, RefreshFillsModelSerialAndProperties) {
    json rig = device("R", "USB-6009");
    rig["product_num"] = 29030;
    rig["serial_num"] = 255;
    rig["simulated"] = false;
    rig["ai_max_single_chan_rate_hz"] = 2.5;
    rig["ai_max_multi_chan_rate_hz"] = 48000;
    loadRig(json::array({rig}));

    DeviceInfo info;
    info.properties["is_simulated"] = "\"from manifest\"";
    info.properties["bus"] = "\"USB\"";
    refreshDeviceInfo("R", info);
    EXPECT_EQ(info.model, "USB-6009");
    EXPECT_EQ(info.serialNumber, "255");
    EXPECT_EQ(info.properties.at("serial_hex"), "0xff");
    EXPECT_EQ(info.properties.at("product_num"), "29030");
    EXPECT_EQ(info.properties.at("is_simulated"), "false");
    EXPECT_EQ(info.properties.at("ai_max_single_chan_rate_hz"), "2.500000");
    EXPECT_EQ(info.properties.at("ai_max_multi_chan_rate_hz"), "48000.000000");
    EXPECT_EQ(info.properties.at("bus"), "\"USB\"");
}

TEST_F(DeviceQueries, RefreshWritesSerialZeroAsZero) {
    loadRig(json::array({device("Z", "USB-6001")}));  // serial 0, simulated
    DeviceInfo info;
    refreshDeviceInfo("Z", info);
    EXPECT_EQ(info.serialNumber, "0");
    EXPECT_EQ(info.properties.at("serial_hex"), "0x0");
    EXPECT_EQ(info.properties.at("is_simulated"), "true");
}

TEST_F(DeviceQueries, RefreshKeepsWhatAFailedCallWouldHaveChanged) {
    for (const char* call : {"DAQmxGetDevProductType", "DAQmxGetDevProductNum",
                             "DAQmxGetDevSerialNum", "DAQmxGetDevIsSimulated",
                             "DAQmxGetDevAIMaxSingleChanRate", "DAQmxGetDevAIMaxMultiChanRate"}) {
        DAQmxSim_FailCall(call, kSomeWarning, -1);
    }
    DeviceInfo info;
    info.model = "USB-DAQ";
    info.serialNumber = "kept";
    info.properties["product_num"] = "kept";
    refreshDeviceInfo("Dev1", info);
    EXPECT_EQ(info.model, "USB-DAQ");
    EXPECT_EQ(info.serialNumber, "kept");
    EXPECT_EQ(info.properties, (kra::device::StringMap{{"product_num", "kept"}}));
}
