// Creation, connection, health and teardown of a stub made by the exported
// factory, and the routing of its execute and subscribe, as a host sees them.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::DeviceState;
using kra::device::DeviceStateCode;
using kra::device::DeviceStubException;
using kra::device::StringMap;
using test_support::createStub;
using test_support::ScopedEnv;
using test_support::StderrCapture;

namespace {

class LifecycleTest : public test_support::SimulatorTest {
protected:
    test_support::StubPtr stub = createStub();
};
using DispatchTest = LifecycleTest;

const std::string kConnected = "[ni-usb-daq I] NIUSBDAQStub::connect: connected to Dev1 (";
const std::string kDisconnected = "[ni-usb-daq I] NIUSBDAQStub::disconnect device=Dev1";

}  // namespace

TEST(PluginBoundary, ExportsExactlyTheTwoEntryPoints) {
    EXPECT_EQ(test_support::exportedSymbols(NI_USB_DAQ_PLUGIN_PATH),
              (std::set<std::string>{"createDeviceStub", "destroyDeviceStub"}));
    test_support::PluginLibrary::instance().destroy()(nullptr);  // ignored
}

TEST_F(LifecycleTest, EnvironmentGivesNameAndIdWithEmptyMeaningUnset) {
    struct Case {
        std::optional<std::string> name, id;
        std::string expectedName, expectedId;
    };
    const Case cases[] = {{std::nullopt, std::nullopt, "Dev1", "ni-usb-daq"},
                          {"", "", "Dev1", "ni-usb-daq"},
                          {"Dev2", "rig-7 daq", "Dev2", "rig-7 daq"}};
    for (const auto& c : cases) {
        ScopedEnv name("NI_DEVICE_NAME", c.name);
        ScopedEnv id("KRA_DEVICE_ID", c.id);
        stub = createStub();
        EXPECT_EQ(stub->getDeviceInfo().id, c.expectedId);
        StderrCapture capture;
        stub->initialize();
        EXPECT_EQ(capture.text(), "[ni-usb-daq I] NIUSBDAQStub::initialize device=" +
                                      c.expectedName + " id=" + c.expectedId + "\n");
    }
}

TEST_F(LifecycleTest, UnconnectedStubIsUnhealthyNeedsNoAuthAndOnlyLogsADisconnect) {
    const auto health = stub->getHealth();
    EXPECT_FALSE(health.healthy);
    EXPECT_EQ(health.score, 0);
    EXPECT_EQ(health.message, "Not connected");
    const auto test = stub->selfTest();
    EXPECT_FALSE(test.passed);
    EXPECT_EQ(test.message, "Device not connected");
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxSelfTestDevice"), 0u);
    stub->reservedOperation();

    auto& auth = stub->auth();
    EXPECT_EQ(auth.authMode(), "not_required");
    EXPECT_TRUE(auth.authenticate().success);
    EXPECT_TRUE(auth.refreshAuthentication().success);
    bool called = false;
    EXPECT_EQ(auth.subscribeAuthEvents([&](const auto&) { called = true; }).id, 0u);
    EXPECT_FALSE(called);
    auth.reservedOperation();

    StderrCapture capture;
    stub->disconnect();
    EXPECT_FALSE(stub->isConnected());
    stub.reset();
    EXPECT_EQ(capture.text(), kDisconnected + "\n") << "destroyed unconnected: no second line";
}

TEST_F(LifecycleTest, ConnectTakesTheDriverModelAndSelfTestsWithTheDriver) {
    StderrCapture capture;
    stub->connect();
    EXPECT_TRUE(stub->isConnected());
    const auto info = stub->getDeviceInfo();
    char productType[256] = {};
    ASSERT_EQ(DAQmxGetDevProductType("Dev1", productType, sizeof productType), 0);
    EXPECT_EQ(info.model, productType);
    EXPECT_FALSE(info.serialNumber.empty());
    EXPECT_EQ(capture.lines().back(), kConnected + info.model + ")");
    const auto health = stub->getHealth();
    EXPECT_TRUE(health.healthy);
    EXPECT_EQ(health.score, 100);
    EXPECT_EQ(health.message, "OK");
    EXPECT_TRUE(stub->selfTest().passed);
    EXPECT_EQ(stub->selfTest().message, "DAQmx self-test passed");

    DAQmxSim_SetSelfTestStatus("Dev1", -200000);
    const auto test = stub->selfTest();
    EXPECT_FALSE(test.passed);
    EXPECT_EQ(test.message.rfind("DAQmx error -200000: ", 0), 0u) << test.message;
    EXPECT_EQ(test.errors, std::vector<std::string>{test.message});

    // A warning from the probe is a failure too, and leaves the stub connected.
    DAQmxSim_FailCall("DAQmxGetDevProductType", 200013, 1);
    try {
        stub->connect();
        ADD_FAILURE() << "a warning status was taken for success";
    } catch (const DeviceStubException& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("Device 'Dev1' not found: DAQmx error 200013: ", 0), 0u)
            << error.what();
    }
    EXPECT_TRUE(stub->isConnected());

    // Destroyed while connected: the disconnect is logged.
    stub.reset();
    EXPECT_EQ(capture.lines().back(), kDisconnected);
}

TEST_F(LifecycleTest, ConnectToAbsentDeviceThrowsReportsAndChangesNothing) {
    ScopedEnv name("NI_DEVICE_NAME", "Dev9");
    stub = createStub();
    const auto before = stub->getDeviceInfo();
    std::vector<std::string> reported;
    stub->setErrorCallback([&](const std::string& message) { reported.push_back(message); });
    StderrCapture capture;
    try {
        stub->connect();
        ADD_FAILURE() << "connect to an unknown device succeeded";
    } catch (const DeviceStubException& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Device 'Dev9' not found: DAQmx error -", 0), 0u) << text;
        EXPECT_EQ(reported, std::vector<std::string>{text});
        EXPECT_EQ(capture.text(), "[ni-usb-daq E] NIUSBDAQStub::connect: " + text + "\n");
    }
    EXPECT_FALSE(stub->isConnected());
    EXPECT_EQ(stub->getDeviceInfo().model, before.model);
    EXPECT_EQ(stub->getDeviceInfo().serialNumber, before.serialNumber);

    // An emptied callback is not called, and the failure still throws.
    stub->setErrorCallback(nullptr);
    EXPECT_THROW(stub->connect(), DeviceStubException);
    EXPECT_EQ(reported.size(), 1u);
}

TEST_F(LifecycleTest, ResetDisconnectsResetsAndReconnects) {
    stub->connect();
    const std::string model = stub->getDeviceInfo().model;
    StderrCapture capture;
    stub->reset();
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{kDisconnected, kConnected + model + ")"}));
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxResetDevice"), 1u);
    EXPECT_TRUE(stub->isConnected());

    // When the device has gone, reset ends disconnected and says why.
    DAQmxSim_SetDevicePresent("Dev1", 0);
    EXPECT_THROW(stub->reset(), DeviceStubException);
    EXPECT_FALSE(stub->isConnected());
}

TEST_F(LifecycleTest, HostContextIsKeptAliveUntilReplacedOrDestroyed) {
    auto context = std::make_shared<int>(42);
    std::weak_ptr<int> watch = context;
    stub->setHostContext(std::move(context));
    EXPECT_FALSE(watch.expired());
    stub->setHostContext(nullptr);
    EXPECT_TRUE(watch.expired());
    context = std::make_shared<int>(7);
    watch = context;
    stub->setHostContext(std::move(context));
    stub.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(DispatchTest, UnknownNamesAreRefusedByteForByte) {
    const char* const cases[][3] = {
        {"System", "get_state", "Unsupported feature: System"},
        {"system ", "get_state", "Unsupported feature: system "},
        {"", "get_state", "Unsupported feature: "},
        {"system", "get_stat", "Unsupported system operation: get_stat"},
        {"system", "get_state_now", "Unsupported system operation: get_state_now"},
        {"analog_input", "Configure", "Unsupported analog_input operation: Configure"},
        {"analog_input", "", "Unsupported analog_input operation: "},
    };
    for (const auto& [feature, operation, message] : cases) {
        const auto result = stub->execute(feature, operation, {}, message);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.error, message);
        EXPECT_EQ(result.requestId, message);
        EXPECT_TRUE(result.data.empty());
        EXPECT_EQ(result.state.code, DeviceStateCode::None);
    }
}

TEST_F(DispatchTest, GetStateFollowsTheConnection) {
    auto result = stub->execute("system", "get_state", {}, "s1");
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.requestId, "s1");
    EXPECT_TRUE(result.data.empty());
    EXPECT_EQ(result.state.code, DeviceStateCode::Disconnected);
    EXPECT_EQ(result.state.stateName, "disconnected");
    EXPECT_EQ(result.state.message, "NI USB-DAQ not connected");
    EXPECT_GT(result.state.timestampNs, 0u);
    const auto info = stub->getDeviceInfo();
    EXPECT_EQ(result.state.properties, (StringMap{{"device_id", "ni-usb-daq"},
                                                  {"device_type", info.type},
                                                  {"manufacturer", info.manufacturer},
                                                  {"model", info.model},
                                                  {"firmware_version", info.firmwareVersion},
                                                  {"bridge_version", "unknown"},
                                                  {"uptime_s", "0"}}));

    stub->connect();
    result = stub->execute("system", "get_state", {}, "s2");
    EXPECT_EQ(result.state.code, DeviceStateCode::Connected);
    EXPECT_EQ(result.state.stateName, "connected");
    EXPECT_EQ(result.state.message, "NI USB-DAQ ready");
    EXPECT_EQ(result.state.properties.at("model"), stub->getDeviceInfo().model);
    stub->disconnect();
    EXPECT_EQ(stub->execute("system", "get_state", {}, "").state.code,
              DeviceStateCode::Disconnected);
}

TEST_F(DispatchTest, SubscriptionIdsAreDrawnForEveryCall) {
    int systemCalls = 0;
    std::string heard;
    const auto first = stub->subscribe("system", "anything", [&](const DeviceState& state) {
        ++systemCalls;
        heard = state.stateName;
    });
    EXPECT_EQ(first.id, 1u);
    EXPECT_EQ(first.kind, 1);
    EXPECT_EQ(heard, "disconnected") << "the status record, at once";
    bool unservedCalled = false;
    EXPECT_EQ(stub->subscribe("digital_output", "stream",
                              [&](const DeviceState&) { unservedCalled = true; })
                  .id,
              0u);
    EXPECT_FALSE(unservedCalled);
    const auto third = stub->subscribe("analog_input", "stream", [](const DeviceState&) {});
    EXPECT_EQ(third.id, 3u);
    EXPECT_EQ(stub->subscribe("analog_input", "frames", [](const DeviceState&) {}).id, 0u);
    EXPECT_EQ(stub->subscribe("analog_input", "stream", nullptr).id, 0u);
    EXPECT_EQ(stub->subscribe("system", "status", nullptr).id, 6u);

    // A system subscriber heard once and never again, whatever happens next.
    stub->connect();
    (void)stub->execute("system", "get_state", {}, "");
    EXPECT_EQ(systemCalls, 1);

    stub->unsubscribe("analog_input", "stream", third);
    stub->unsubscribe("analog_input", "stream", {12345, 1});
    stub->unsubscribe("nothing", "", first);
}

TEST_F(DispatchTest, ScanFlagIsFalseOnlyForItsThreeSpellings) {
    // Without a product type no device counts as USB, so only "all devices" lists them.
    DAQmxSim_FailCall("DAQmxGetDevProductType", -200220, -1);
    const std::pair<std::string, std::size_t> cases[] = {
        {"false", 2}, {"FALSE", 2}, {"0", 2}, {"False", 0}, {"", 0}, {"1", 0}, {"no", 0}};
    for (const auto& [flag, count] : cases) {
        const auto result = stub->execute("system", "scan_devices", {{"usb_only", flag}}, "q");
        ASSERT_TRUE(result.success);
        EXPECT_EQ(result.requestId, "q");
        EXPECT_EQ(nlohmann::json::parse(result.data.at("devices")).size(), count) << flag;
    }
    EXPECT_EQ(stub->execute("system", "scan_devices", {}, "").data.at("devices"), "[]")
        << "USB only by default";
}

TEST_F(LifecycleTest, ManifestThatCannotBeReadServesTheDocumentOfNoManifest) {
    test_support::TempDir dir;
    const std::string path = "/ni-usb-daq/device-manifest.json";
    const auto capabilitiesOf = [](kra::device::IDeviceStub& stub) {
        const auto result = stub.execute("system", "get_capabilities", {}, "r");
        EXPECT_TRUE(result.success);
        return std::make_pair(stub.getCapabilities().dump(), result.data.at("capabilities"));
    };
    const auto none =
        std::make_pair(std::string(R"({"features":{}})"), std::string(R"({"features":{}})"));
    // Malformed, a root array, a directory where the file should be: one
    // warning at construction, then the document of a stub without manifest.
    for (const char* content :
         std::initializer_list<const char*>{"{\"capabilities\": ", "[1]", nullptr}) {
        const std::string root = dir.path() + "/" + std::to_string(content ? content[0] : 'd');
        if (content != nullptr) {
            dir.write(root.substr(dir.path().size() + 1) + path, content);
        } else {
            std::filesystem::create_directories(root + path);
        }
        const ScopedEnv variable("KRA_DEVICE_MANIFEST_DIR", root);
        StderrCapture capture;
        auto broken = createStub();
        EXPECT_EQ(capture.lines().size(), 1u) << capture.text();
        EXPECT_EQ(capabilitiesOf(*broken), none) << root;
        EXPECT_EQ(capture.lines().size(), 1u) << "nothing more to say: " << capture.text();
    }

    // A manifest that loaded and then went away: a warning, no manifest's
    // document, and the next request tries the file again.
    const std::string good =
        dir.write("good" + path, R"({"capabilities": {"features": {}, "x": 1}})");
    const ScopedEnv variable("KRA_DEVICE_MANIFEST_DIR", dir.path() + "/good");
    auto stub = createStub();
    // The same file, whichever separators its text uses.
    EXPECT_EQ(std::filesystem::path(stub->getDeviceInfo().properties.at("manifest_path")),
              std::filesystem::path(good));
    std::filesystem::remove(good);
    StderrCapture capture;
    EXPECT_EQ(capabilitiesOf(*stub), none);
    EXPECT_EQ(capture.lines().size(), 2u) << capture.text();
    dir.write("good" + path, R"({"capabilities": {"features": {}, "x": 1}})");
    EXPECT_EQ(capabilitiesOf(*stub).first, R"({"features":{},"x":1})");
}

TEST_F(LifecycleTest, LongProductTypeAndManyRangesAreReadWholeEverywhere) {
    const std::string longType = "USB-" + std::string(300, '6');
    nlohmann::json ranges = nlohmann::json::array();
    for (int i = 1; i <= 40; ++i) {
        ranges.push_back({-i, i});
    }
    test_support::TempDir dir;
    const std::string rig = dir.write(
        "rig.json",
        nlohmann::json{
            {"devices",
             {{{"name", "Dev1"}, {"product_type", longType}, {"ai_voltage_ranges", ranges}}}}}
            .dump());
    ASSERT_EQ(DAQmxSim_LoadDevices(rig.c_str()), 0);

    const auto scan = stub->execute("system", "scan_devices", {}, "");
    EXPECT_EQ(nlohmann::json::parse(scan.data.at("devices")).at(0).at("product_type"), longType);
    stub->connect();
    EXPECT_EQ(stub->getDeviceInfo().model, longType) << "a listed device can be connected";
    const auto info =
        nlohmann::json::parse(stub->execute("analog_input", "query", {}, "").data.at("info"));
    EXPECT_EQ(info.at("product_type"), longType);
    EXPECT_EQ(info.at("ai_voltage_ranges"), ranges);
}
