#include "TextFormat.h"

#include <locale.h>
#include <array>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <limits>

namespace kra::device::stubs {
namespace {

/// The C locale as a handle for the *_l conversions; created once, never changed.
locale_t cLocale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
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
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = ::strtod_l(begin, &end, cLocale());
    if (end == begin || errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> parseInt32(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = ::strtoll_l(begin, &end, 10, cLocale());
    if (end == begin || errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace kra::device::stubs
