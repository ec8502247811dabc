// Number text of the plug-in: strtod/strtol semantics without the locale
// (that the host's locale changes nothing is checked through "configure").
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "stubs/TextFormat.h"

using kra::device::stubs::formatFixed;
using kra::device::stubs::formatHex;
using kra::device::stubs::parseDouble;
using kra::device::stubs::parseInt32;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void expectDoubles() {
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"1.5", 1.5},
        {" \t\n-2.25e1 V", -22.5},
        {"+.5", 0.5},
        {"1e", 1.0},
        {"1,5", 1.0},
        {"inf", kInf},
        {"-Infinity", -kInf},
        {"nan", kNaN},
        {"NAN(1)x", kNaN},
        {"0x1.8p3", 12.0},
        {"-0X10", -16.0},
        {"0xg", 0.0},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"V", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto value = parseDouble(c.text);
        ASSERT_EQ(value.has_value(), c.value.has_value()) << '"' << c.text << '"';
        if (value && std::isnan(*c.value)) {
            EXPECT_TRUE(std::isnan(*value)) << '"' << c.text << '"';
        } else if (value) {
            EXPECT_EQ(*value, *c.value) << '"' << c.text << '"';
        }
    }
}

void expectIntegers() {
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"42", 42},
        {"  -17abc", -17},
        {"+7", 7},
        {"3.9", 3},
        {"2147483647", std::numeric_limits<std::int32_t>::max()},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"x1", std::nullopt},
        {"-+1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseInt32(c.text), c.value) << '"' << c.text << '"';
    }
}

void expectFormats() {
    EXPECT_EQ(formatFixed(1.5), "1.500000");
    EXPECT_EQ(formatFixed(-0.25, 2), "-0.25");
    EXPECT_EQ(formatFixed(250000.0), "250000.000000");
    EXPECT_EQ(formatHex(0x1a2b3c4d), "1a2b3c4d");
    EXPECT_EQ(formatHex(0), "0");
}

}  // namespace

TEST(TextFormat, ParsesAndFormatsAsTheCLocaleDoes) {
    expectDoubles();
    expectIntegers();
    expectFormats();
}
