#include "NumberFormat.h"

#include <array>
#include <charconv>
#include <cmath>

namespace ni_usb_daq::host {

namespace {

std::optional<std::string> nonFiniteText(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    return std::nullopt;
}

}  // namespace

std::string formatNumber(double value) {
    if (auto text = nonFiniteText(value)) {
        return *text;
    }
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string formatFixed(double value, int decimals) {
    if (auto text = nonFiniteText(value)) {
        return *text;
    }
    // Large enough for any double in fixed notation (about 310 digits).
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        return formatNumber(value);
    }
    return std::string(buffer.data(), result.ptr);
}

std::optional<double> parseNumber(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace ni_usb_daq::host
