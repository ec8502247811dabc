// Log line format, placeholder filling, and text from the driver: the error
// text, and string properties read with a fixed first buffer, a retry at the
// size the driver asks for, and no read past an unterminated buffer.
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "stubs/DriverStatus.h"
#include "stubs/DriverStrings.h"
#include "stubs/Logging.h"
#include "support/TestSupport.h"

using namespace kra::device::stubs;
using Sizes = std::vector<uInt32>;

namespace {

template <typename... Args>
std::string formatted(std::string_view format, Args&&... args) {
    std::ostringstream out;
    formatMessage(out, format, std::forward<Args>(args)...);
    return out.str();
}

/// Answers as the driver does: the size it needs for a null buffer of size 0,
/// "too small" for a short buffer, the text otherwise.
struct FakeProperty {
    std::string value;
    Sizes sizesSeen;

    int32 operator()(char* buffer, uInt32 size) {
        sizesSeen.push_back(size);
        const auto needed = static_cast<uInt32>(value.size() + 1);
        if (buffer == nullptr && size == 0) {
            return static_cast<int32>(needed);
        }
        if (size < needed) {
            return DAQmxErrorBufferTooSmallForString;
        }
        std::memcpy(buffer, value.c_str(), needed);
        return 0;
    }
};

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

TEST(DriverStrings, ShortTextTakesOneCallLongTextIsReadAgainAtItsSize) {
    FakeProperty small{"Dev1,Dev2", {}};
    EXPECT_EQ(readDriverString(std::ref(small), 4096), "Dev1,Dev2");
    EXPECT_EQ(small.sizesSeen, Sizes{4096});

    FakeProperty large{std::string(5000, 'x'), {}};
    const auto growing = [&large](char* buffer, uInt32 size) {
        const int32 status = large(buffer, size);
        if (buffer == nullptr && large.sizesSeen.size() == 2) {
            large.value += std::string(1000, 'y');  // a device appears after the size query
        }
        return status;
    };
    EXPECT_EQ(readDriverString(growing, 4096), large.value);
    EXPECT_EQ(large.sizesSeen, (Sizes{4096, 0, 5001, 0, 6001}));
}

TEST(DriverStrings, FailureWarningOrUnusableSizeGivesNothing) {
    EXPECT_EQ(readDriverString([](char*, uInt32) { return -200220; }, 4096), std::nullopt);
    EXPECT_EQ(readDriverString([](char*, uInt32) { return 200000; }, 4096), std::nullopt);
    for (const int32 claimed : {-1, 0, static_cast<int32>(kMaxDriverStringSize + 1)}) {
        Sizes sizes;
        const auto call = [&](char* buffer, uInt32 size) {
            sizes.push_back(size);
            return buffer == nullptr ? claimed : DAQmxErrorBufferTooSmallForString;
        };
        EXPECT_EQ(readDriverString(call, 4096), std::nullopt);
        EXPECT_EQ(sizes, (Sizes{4096, 0})) << claimed;
    }
}

TEST(DriverStrings, BufferIsZeroFilledAndUnterminatedTextEndsAtItsEnd) {
    const auto call = [](char* buffer, uInt32 size) {
        EXPECT_EQ(std::string(buffer, size), std::string(size, '\0'));
        std::memset(buffer, 'a', size);
        return 0;
    };
    EXPECT_EQ(readDriverString(call, 16), std::string(16, 'a'));
}
