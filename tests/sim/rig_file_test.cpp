// Rig files: users describe their own devices, and a bad file changes nothing.
#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

std::string productType(const char* device) {
    std::array<char, 256> type{};
    if (DAQmxGetDevProductType(device, type.data(), 256) != 0) {
        return "<failed>";
    }
    return type.data();
}

class RigFile : public test_support::SimulatorTest {
protected:
    test_support::TempDir dir;
};

TEST_F(RigFile, ShippedExampleLoadsWithANonUsbDevice) {
    const std::string path =
        (std::filesystem::path(NI_USB_DAQ_SOURCE_DIR) / "daqmx/sim/devices-example.json").string();
    ASSERT_EQ(DAQmxSim_LoadDevices(path.c_str()), 0);
    EXPECT_EQ(productType("Dev3"), "PCIe-6321");
    bool32 simulated = 1;
    ASSERT_EQ(DAQmxGetDevIsSimulated("Dev3", &simulated), 0);
    EXPECT_EQ(simulated, 0u);
    int32 bits = 0;
    ASSERT_EQ(DAQmxGetPhysicalChanAITermCfgs("Dev2/ai7", &bits), 0);
    EXPECT_EQ(bits, DAQmx_Val_Bit_TermCfg_RSE);
    TaskHandle task = nullptr;
    ASSERT_EQ(DAQmxCreateTask("", &task), 0);
    EXPECT_EQ(DAQmxCreateDIChan(task, "Dev2/port1/line3", "", DAQmx_Val_ChanPerLine), 0);
    DAQmxClearTask(task);
}

TEST_F(RigFile, MinimalDeviceGetsDefaultsAndNamesMatchInAnyCase) {
    const std::string path = dir.write("rig.json", R"({"devices": [
        {"name": "cDAQ1Mod1", "product_type": "NI 9205"}]})");
    ASSERT_EQ(DAQmxSim_LoadDevices(path.c_str()), 0);
    EXPECT_EQ(productType("Dev1"), "<failed>");
    EXPECT_EQ(productType("cdaq1mod1"), "NI 9205");
    EXPECT_EQ(DAQmxGetDevAIVoltageRngs("cDAQ1Mod1", nullptr, 0), 0);
}

TEST_F(RigFile, BadFilesFailWithAReasonAndKeepTheTable) {
    const std::string cases[] = {
        "not json",
        R"({"devices": {}})",
        R"({"devices": [{"product_type": "USB-6001"}]})",
        R"({"devices": [{"name": "A", "product_type": "X"}, {"name": "a", "product_type": "Y"}]})",
        R"({"devices": [{"name": "A", "product_type": "X", "ai_voltage_ranges": [[1, -1]]}]})",
        R"({"devices": [{"name": "A", "product_type": "X", "serial_num": -1}]})",
    };
    for (const std::string& content : cases) {
        const std::string path = dir.write("bad.json", content);
        EXPECT_LT(DAQmxSim_LoadDevices(path.c_str()), 0) << content;
        std::array<char, 1024> text{};
        DAQmxGetExtendedErrorInfo(text.data(), 1024);
        EXPECT_NE(std::string(text.data()).find("bad.json"), std::string::npos) << text.data();
        EXPECT_EQ(productType("Dev1"), "USB-6211");
    }
    EXPECT_LT(DAQmxSim_LoadDevices((dir.path() + "/missing.json").c_str()), 0);
}

TEST_F(RigFile, ResetLoadsTheFileNamedByTheEnvironment) {
    const std::string path = dir.write("rig.json", R"({"devices": [
        {"name": "Dev5", "product_type": "USB-6343", "ai_channels": 32}]})");
    {
        const test_support::ScopedEnv env("NIDAQMX_SIM_DEVICES", path);
        DAQmxSim_Reset();
        EXPECT_EQ(productType("Dev5"), "USB-6343");
        EXPECT_EQ(productType("Dev1"), "<failed>");
    }
    DAQmxSim_Reset();
    EXPECT_EQ(productType("Dev1"), "USB-6211");
}

}  // namespace
