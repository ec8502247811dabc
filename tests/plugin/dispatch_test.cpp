// Routing of execute and subscribe, the status record and the request id.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using kra::device::DeviceState;
using kra::device::DeviceStateCode;
using kra::device::OperationResult;
using test_support::createStub;

namespace {

class DispatchTest : public test_support::SimulatorTest {};

void expectFailure(const OperationResult& result, const std::string& message,
                   const std::string& requestId) {
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, message);
    EXPECT_EQ(result.requestId, requestId);
    EXPECT_TRUE(result.data.empty());
    EXPECT_EQ(result.state.code, DeviceStateCode::None);
    EXPECT_EQ(result.state.timestampNs, 0u);
    EXPECT_TRUE(result.state.properties.empty());
}

}  // namespace

TEST_F(DispatchTest, UnknownNamesAreRefusedByteForByte) {
    auto stub = createStub();
    expectFailure(stub->execute("System", "get_state", {}, "r1"), "Unsupported feature: System",
                  "r1");
    expectFailure(stub->execute("system ", "get_state", {}, "r2"), "Unsupported feature: system ",
                  "r2");
    expectFailure(stub->execute("", "get_state", {}, "r3"), "Unsupported feature: ", "r3");
    expectFailure(stub->execute("system", "get_stat", {}, "r4"),
                  "Unsupported system operation: get_stat", "r4");
    expectFailure(stub->execute("system", "get_state_now", {}, "r5"),
                  "Unsupported system operation: get_state_now", "r5");
    expectFailure(stub->execute("analog_input", "Configure", {}, "r6"),
                  "Unsupported analog_input operation: Configure", "r6");
    expectFailure(stub->execute("analog_input", "", {}, ""),
                  "Unsupported analog_input operation: ", "");
}

TEST_F(DispatchTest, GetStateFollowsTheConnection) {
    auto stub = createStub();
    auto result = stub->execute("system", "get_state", {}, "s1");
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.requestId, "s1");
    EXPECT_TRUE(result.data.empty());
    EXPECT_EQ(result.state.code, DeviceStateCode::Disconnected);
    EXPECT_EQ(result.state.stateName, "disconnected");
    EXPECT_EQ(result.state.message, "NI USB-DAQ not connected");
    EXPECT_GT(result.state.timestampNs, 0u);
    const auto& properties = result.state.properties;
    EXPECT_EQ(properties.size(), 7u);
    EXPECT_EQ(properties.at("device_id"), "ni-usb-daq");
    EXPECT_EQ(properties.at("bridge_version"), "unknown");
    EXPECT_EQ(properties.at("uptime_s"), "0");
    const auto info = stub->getDeviceInfo();
    EXPECT_EQ(properties.at("device_type"), info.type);
    EXPECT_EQ(properties.at("manufacturer"), info.manufacturer);
    EXPECT_EQ(properties.at("firmware_version"), info.firmwareVersion);

    stub->connect();
    result = stub->execute("system", "get_state", {}, "s2");
    EXPECT_EQ(result.state.code, DeviceStateCode::Connected);
    EXPECT_EQ(result.state.stateName, "connected");
    EXPECT_EQ(result.state.message, "NI USB-DAQ ready");
    EXPECT_EQ(result.state.properties.at("model"), stub->getDeviceInfo().model);

    stub->disconnect();
    result = stub->execute("system", "get_state", {}, "s3");
    EXPECT_EQ(result.state.code, DeviceStateCode::Disconnected);
}

TEST_F(DispatchTest, SubscriptionIdsAreDrawnForEveryCall) {
    auto stub = createStub();
    int systemCalls = 0;
    DeviceState received;
    const auto first = stub->subscribe("system", "anything", [&](const DeviceState& state) {
        ++systemCalls;
        received = state;
    });
    EXPECT_EQ(first.id, 1u);
    EXPECT_EQ(first.kind, 1);
    EXPECT_EQ(systemCalls, 1);
    EXPECT_EQ(received.stateName, "disconnected");
    EXPECT_EQ(received.properties.size(), 7u);

    bool unservedCalled = false;
    const auto second = stub->subscribe("digital_output", "stream",
                                        [&](const DeviceState&) { unservedCalled = true; });
    EXPECT_EQ(second.id, 0u);
    EXPECT_EQ(second.kind, 1);
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
    auto stub = createStub();
    for (const std::string value : {"false", "FALSE", "0"}) {
        const auto result = stub->execute("system", "scan_devices", {{"usb_only", value}}, "q");
        ASSERT_TRUE(result.success);
        EXPECT_EQ(result.requestId, "q");
        EXPECT_EQ(result.data.count("devices"), 1u);
    }
    for (const std::string value : {"False", "", "1", "no"}) {
        const auto result = stub->execute("system", "scan_devices", {{"usb_only", value}}, "q");
        ASSERT_TRUE(result.success);
    }
}
