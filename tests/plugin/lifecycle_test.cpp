// Creation, connection, health and teardown of a stub made by the exported
// factory, as a host sees them.
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using kra::device::DeviceStubException;
using test_support::createStub;
using test_support::ScopedEnv;
using test_support::StderrCapture;

namespace {

class LifecycleTest : public test_support::SimulatorTest {};

std::set<std::string> exportedSymbols(const std::string& library) {
    std::set<std::string> symbols;
    const std::string command = "nm -D --defined-only '" + library + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::string text(line);
        const auto space = text.rfind(' ');
        std::string name = text.substr(space + 1);
        name.erase(name.find_last_not_of("\r\n") + 1);
        const char kind = text.size() > space - 1 ? text[space - 1] : '?';
        if (kind == 'T' || kind == 'D' || kind == 'B' || kind == 'W' || kind == 'V' ||
            kind == 'R' || kind == 'i' || kind == 'u') {
            symbols.insert(name);
        }
    }
    return symbols;
}

}  // namespace

TEST(PluginBoundary, ExportsExactlyTheTwoEntryPoints) {
    const auto symbols = exportedSymbols(NI_USB_DAQ_PLUGIN_PATH);
    EXPECT_EQ(symbols, (std::set<std::string>{"createDeviceStub", "destroyDeviceStub"}));
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
        auto stub = createStub();
        EXPECT_EQ(stub->getDeviceInfo().id, c.expectedId);
        StderrCapture capture;
        stub->initialize();
        EXPECT_EQ(capture.text(), "[ni-usb-daq I] NIUSBDAQStub::initialize device=" +
                                      c.expectedName + " id=" + c.expectedId + "\n");
    }
}

TEST_F(LifecycleTest, FreshStubIsDisconnectedAndUnhealthy) {
    auto stub = createStub();
    EXPECT_FALSE(stub->isConnected());
    const auto health = stub->getHealth();
    EXPECT_FALSE(health.healthy);
    EXPECT_EQ(health.score, 0);
    EXPECT_EQ(health.message, "Not connected");
    EXPECT_TRUE(health.details.empty());
    const auto test = stub->selfTest();
    EXPECT_FALSE(test.passed);
    EXPECT_EQ(test.message, "Device not connected");
    EXPECT_TRUE(test.errors.empty());
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxSelfTestDevice"), 0u);
    stub->reservedOperation();
    EXPECT_FALSE(stub->isConnected());
}

TEST_F(LifecycleTest, ConnectToPresentDeviceTakesDriverModel) {
    auto stub = createStub();
    StderrCapture capture;
    stub->connect();
    EXPECT_TRUE(stub->isConnected());
    const auto info = stub->getDeviceInfo();
    char productType[256] = {};
    ASSERT_EQ(DAQmxGetDevProductType("Dev1", productType, sizeof productType), 0);
    EXPECT_EQ(info.model, productType);
    EXPECT_FALSE(info.serialNumber.empty());
    EXPECT_EQ(capture.lines().back(),
              "[ni-usb-daq I] NIUSBDAQStub::connect: connected to Dev1 (" + info.model + ")");
    const auto health = stub->getHealth();
    EXPECT_TRUE(health.healthy);
    EXPECT_EQ(health.score, 100);
    EXPECT_EQ(health.message, "OK");
    const auto test = stub->selfTest();
    EXPECT_TRUE(test.passed);
    EXPECT_EQ(test.message, "DAQmx self-test passed");
    EXPECT_TRUE(test.errors.empty());
}

TEST_F(LifecycleTest, ConnectToAbsentDeviceThrowsAndChangesNothing) {
    ScopedEnv name("NI_DEVICE_NAME", "Dev9");
    auto stub = createStub();
    const auto before = stub->getDeviceInfo();
    std::string reported;
    int calls = 0;
    stub->setErrorCallback([&](const std::string& message) {
        reported = message;
        ++calls;
    });
    StderrCapture capture;
    try {
        stub->connect();
        FAIL() << "connect to an unknown device succeeded";
    } catch (const DeviceStubException& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Device 'Dev9' not found: DAQmx error -", 0), 0u) << text;
        EXPECT_EQ(reported, text);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(capture.text(), "[ni-usb-daq E] NIUSBDAQStub::connect: " + text + "\n");
    }
    EXPECT_FALSE(stub->isConnected());
    EXPECT_EQ(stub->getDeviceInfo().model, before.model);
    EXPECT_EQ(stub->getDeviceInfo().serialNumber, before.serialNumber);

    // An emptied callback is not called, and the failure still throws.
    stub->setErrorCallback(nullptr);
    EXPECT_THROW(stub->connect(), DeviceStubException);
    EXPECT_EQ(calls, 1);
}

TEST_F(LifecycleTest, WarningFromTheProbeCountsAsFailure) {
    auto stub = createStub();
    stub->connect();
    DAQmxSim_FailCall("DAQmxGetDevProductType", 200013, 1);
    StderrCapture capture;
    try {
        stub->connect();
        FAIL() << "a warning status was taken for success";
    } catch (const DeviceStubException& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("Device 'Dev1' not found: DAQmx error 200013: ", 0), 0u)
            << error.what();
    }
    // A failed connect leaves a connected stub connected.
    EXPECT_TRUE(stub->isConnected());
}

TEST_F(LifecycleTest, UnpluggedDeviceFailsSelfTestWithDriverText) {
    auto stub = createStub();
    stub->connect();
    DAQmxSim_SetSelfTestStatus("Dev1", -200000);
    const auto test = stub->selfTest();
    EXPECT_FALSE(test.passed);
    EXPECT_EQ(test.message.rfind("DAQmx error -200000: ", 0), 0u) << test.message;
    ASSERT_EQ(test.errors.size(), 1u);
    EXPECT_EQ(test.errors[0], test.message);
    EXPECT_TRUE(stub->isConnected());
}

TEST_F(LifecycleTest, ResetDisconnectsResetsAndReconnects) {
    auto stub = createStub();
    stub->connect();
    const std::string model = stub->getDeviceInfo().model;
    StderrCapture capture;
    stub->reset();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[ni-usb-daq I] NIUSBDAQStub::disconnect device=Dev1");
    EXPECT_EQ(lines[1], "[ni-usb-daq I] NIUSBDAQStub::connect: connected to Dev1 (" + model + ")");
    EXPECT_EQ(DAQmxSim_CallCount("DAQmxResetDevice"), 1u);
    EXPECT_TRUE(stub->isConnected());

    // When the device has gone, reset ends disconnected and says why.
    DAQmxSim_SetDevicePresent("Dev1", 0);
    EXPECT_THROW(stub->reset(), DeviceStubException);
    EXPECT_FALSE(stub->isConnected());
}

TEST_F(LifecycleTest, DisconnectWithoutConnectLogsAndStaysDisconnected) {
    auto stub = createStub();
    StderrCapture capture;
    stub->disconnect();
    EXPECT_EQ(capture.text(), "[ni-usb-daq I] NIUSBDAQStub::disconnect device=Dev1\n");
    EXPECT_FALSE(stub->isConnected());
}

TEST_F(LifecycleTest, DestroyingLogsDisconnectOnlyWhenConnected) {
    {
        auto stub = createStub();
        StderrCapture capture;
        stub.reset();
        EXPECT_EQ(capture.text(), "");
    }
    {
        auto stub = createStub();
        stub->connect();
        StderrCapture capture;
        stub.reset();
        EXPECT_EQ(capture.text(), "[ni-usb-daq I] NIUSBDAQStub::disconnect device=Dev1\n");
    }
}

TEST_F(LifecycleTest, HostContextIsKeptAliveAndReleased) {
    auto stub = createStub();
    auto context = std::make_shared<int>(42);
    std::weak_ptr<int> watch = context;
    stub->setHostContext(context);
    context.reset();
    EXPECT_FALSE(watch.expired());
    stub->setHostContext(nullptr);
    EXPECT_TRUE(watch.expired());

    auto second = std::make_shared<int>(7);
    watch = second;
    stub->setHostContext(std::move(second));
    stub.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(LifecycleTest, NoAuthNeedsNothing) {
    auto stub = createStub();
    auto& auth = stub->auth();
    EXPECT_EQ(&auth, &stub->auth());
    EXPECT_EQ(auth.authMode(), "not_required");
    for (const auto& result : {auth.authenticate(), auth.refreshAuthentication()}) {
        EXPECT_TRUE(result.success);
        EXPECT_TRUE(result.error.empty());
        EXPECT_TRUE(result.data.empty());
        EXPECT_TRUE(result.requestId.empty());
    }
    bool called = false;
    const auto handle = auth.subscribeAuthEvents([&](const auto&) { called = true; });
    EXPECT_EQ(handle.id, 0u);
    EXPECT_EQ(handle.kind, 1);
    EXPECT_FALSE(called);
    auth.reservedOperation();
}
