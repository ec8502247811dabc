// String properties from the driver: the fixed first buffer, the retry with
// the size the driver asks for, and no read past an unterminated buffer.
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stubs/DriverStrings.h"

using kra::device::stubs::kMaxDriverStringSize;
using kra::device::stubs::readDriverString;
using Sizes = std::vector<uInt32>;

namespace {

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
