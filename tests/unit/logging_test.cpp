// Log line format, placeholder filling and the driver error text.
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "device/DeviceStubException.h"
#include "stubs/DriverStatus.h"
#include "stubs/Logging.h"
#include "support/TestSupport.h"

using namespace kra::device::stubs;

namespace {

template <typename... Args>
std::string formatted(std::string_view format, Args&&... args) {
    std::ostringstream out;
    formatMessage(out, format, std::forward<Args>(args)...);
    return out.str();
}

}  // namespace

TEST(FormatMessage, FillsPlaceholdersInOrderAndNothingElse) {
    EXPECT_EQ(formatted("a{}b{}c", "x", "y"), "axbyc");
    EXPECT_EQ(formatted("a{}b{}c", "x"), "axb{}c");
    EXPECT_EQ(formatted("a{}b", "x", "y"), "axb");
    EXPECT_EQ(formatted("{}", "{}"), "{}");
    EXPECT_EQ(formatted("{}{}", "{}", "z"), "{}z");
    EXPECT_EQ(formatted("a", "x"), "a");
    EXPECT_EQ(formatted("plain text"), "plain text");
    EXPECT_EQ(formatted("n={} s={}", 42, std::string("str")), "n=42 s=str");
    EXPECT_EQ(formatted("{", "x"), "{");
}

TEST(LogLines, ArePrefixMessageAndNewline) {
    test_support::StderrCapture capture;
    logInfo("NIUSBDAQStub::initialize device={} id={}", std::string("Dev1"), "ni-usb-daq");
    logWarn("w {}", "x");
    logError("e");
    EXPECT_EQ(capture.text(),
              "[ni-usb-daq I] NIUSBDAQStub::initialize device=Dev1 id=ni-usb-daq\n"
              "[ni-usb-daq W] w x\n"
              "[ni-usb-daq E] e\n");
}

TEST(LogLines, FromManyThreadsNeverInterleave) {
    test_support::StderrCapture capture;
    const std::string payload(300, 'p');
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                logInfo("t{} {}", t, payload);
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), std::string("[ni-usb-daq I] t0 ").size() + payload.size()) << line;
    }
}

class DriverErrorTextTest : public test_support::SimulatorTest {};

TEST_F(DriverErrorTextTest, NamesStatusAndExtendedTextWithinItsBuffer) {
    DAQmxSim_SetExtendedErrorText("Something broke.");
    DAQmxSim_FailCall("DAQmxResetDevice", -200220, 1);
    const int32 status = DAQmxResetDevice("Dev1");
    EXPECT_EQ(daqmxErrorText(status), "DAQmx error -200220: Something broke.");

    const std::string longText(5000, 'x');
    DAQmxSim_SetExtendedErrorText(longText.c_str());
    DAQmxSim_FailCall("DAQmxResetDevice", -1, 1);
    (void)DAQmxResetDevice("Dev1");
    EXPECT_EQ(daqmxErrorText(-1, kStubErrorTextBufferSize),
              "DAQmx error -1: " + longText.substr(0, 1023));
    DAQmxSim_FailCall("DAQmxResetDevice", -1, 1);
    (void)DAQmxResetDevice("Dev1");
    EXPECT_EQ(daqmxErrorText(-1, kEngineErrorTextBufferSize),
              "DAQmx error -1: " + longText.substr(0, 2047));
}

TEST(DeviceStubException, CarriesItsMessageUnchanged) {
    try {
        throw kra::device::DeviceStubException("Device 'Dev1' not found: DAQmx error -1: x");
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Device 'Dev1' not found: DAQmx error -1: x");
    }
}
