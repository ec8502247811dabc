#include "TextFormat.h"

#include <array>
#include <charconv>
#include <limits>
#include <string_view>
#include <system_error>

namespace kra::device::stubs {
namespace {

// Every conversion here goes through <charconv>, which never consults a
// locale, so the text means the same on every system and in every host.

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// The text after the leading white space and one optional sign, which strtod
/// and strtol accept but std::from_chars does not (it takes no '+').
struct SignedText {
    bool negative = false;
    std::string_view digits;
};

SignedText splitSign(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isCSpace(text[at])) {
        ++at;
    }
    SignedText result;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        result.negative = text[at] == '-';
        ++at;
    }
    result.digits = text.substr(at);
    // A second sign makes the text invalid to strtod; from_chars would take it.
    if (!result.digits.empty() && (result.digits.front() == '+' || result.digits.front() == '-')) {
        result.digits = {};
    }
    return result;
}

bool startsWithHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
           text[2] != '+' && text[2] != '-';
}

}  // namespace

std::string formatFixed(double value, int decimals) {
    // Large enough for the longest double in fixed notation (309 integer digits).
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

std::string formatHex(std::uint64_t value) {
    std::array<char, 17> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, 16);
    return std::string(buffer.data(), result.ptr);
}

std::optional<double> parseDouble(const std::string& text) {
    const SignedText split = splitSign(text);
    const char* const begin = split.digits.data();
    const char* const end = begin + split.digits.size();
    double value = 0.0;
    std::from_chars_result result{begin, std::errc::invalid_argument};
    if (startsWithHexPrefix(split.digits)) {
        // "0x" takes hexadecimal digits, as strtod reads it; "0x" with none
        // after it is the number 0 followed by other text.
        result = std::from_chars(begin + 2, end, value, std::chars_format::hex);
    }
    if (result.ec == std::errc::invalid_argument) {
        result = std::from_chars(begin, end, value, std::chars_format::general);
    }
    if (result.ec != std::errc{}) {
        return std::nullopt;
    }
    return split.negative ? -value : value;
}

std::optional<std::int32_t> parseInt32(const std::string& text) {
    const SignedText split = splitSign(text);
    const char* const begin = split.digits.data();
    // Accumulated as a magnitude so that the most negative value fits.
    std::uint32_t magnitude = 0;
    const auto result = std::from_chars(begin, begin + split.digits.size(), magnitude, 10);
    if (result.ec != std::errc{}) {
        return std::nullopt;
    }
    const std::uint32_t limit = split.negative
                                    ? std::uint32_t{std::numeric_limits<std::int32_t>::max()} + 1u
                                    : std::uint32_t{std::numeric_limits<std::int32_t>::max()};
    if (magnitude > limit) {
        return std::nullopt;
    }
    return split.negative ? static_cast<std::int32_t>(0u - magnitude)
                          : static_cast<std::int32_t>(magnitude);
}

}  // namespace kra::device::stubs
