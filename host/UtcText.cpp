#include "UtcText.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ni_usb_daq::host {

std::string utcText(std::chrono::system_clock::time_point time, unsigned fractionDigits) {
    using namespace std::chrono;
    const auto nanos = floor<nanoseconds>(time);
    const auto day = floor<days>(nanos);
    const year_month_day date(day);
    const hh_mm_ss clock(nanos - day);
    std::array<char, 48> text{};
    const int length = std::snprintf(
        text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%09lld",
        static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()),
        static_cast<long long>(clock.subseconds().count()));
    // The fraction is the last nine characters; none at all drops the point.
    const int cut = 9 - static_cast<int>(std::min(fractionDigits, 9U));
    return std::string(text.data(), static_cast<std::size_t>(length - cut - (cut == 9 ? 1 : 0))) +
           "Z";
}

}  // namespace ni_usb_daq::host
