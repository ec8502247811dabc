#include "FrameSamples.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace ni_usb_daq::host {

namespace {

constexpr std::string_view kSamplesKey = "\"samples\":[";
constexpr std::string_view kDigitalKey = "\"digital_lines\":[";

/// A cursor over the frame text; every step checks the end.
class Cursor {
public:
    Cursor(const char* position, const char* end) : position_(position), end_(end) {}

    bool take(char c) {
        if (position_ == end_ || *position_ != c) {
            return false;
        }
        ++position_;
        return true;
    }

    bool take(std::string_view word) {
        if (static_cast<std::size_t>(end_ - position_) < word.size() ||
            std::memcmp(position_, word.data(), word.size()) != 0) {
            return false;
        }
        position_ += word.size();
        return true;
    }

    /// A JSON number as the plug-in writes it, or "null" (NaN).
    bool number(double& value) {
        if (take(std::string_view("null"))) {
            value = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        if (exactNumber(value)) {
            return true;
        }
        const auto [next, error] = std::from_chars(position_, end_, value);
        if (error != std::errc{}) {
            return false;
        }
        position_ = next;
        return true;
    }

private:
    /// Most of the plug-in's numbers have at most 16 significant digits and a
    /// small power of ten: both are exact doubles, so one multiplication or
    /// division, rounded once, gives the correctly rounded value that
    /// from_chars gives, at a fraction of its cost. False, moving nothing,
    /// for any other number, which from_chars then reads.
    bool exactNumber(double& value) {
        static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << 53;
        constexpr std::uint64_t kDigitLimit = 100'000'000'000'000'000;  // 1e17: no overflow
        const char* p = position_;
        const bool negative = p != end_ && *p == '-';
        p += negative ? 1 : 0;
        std::uint64_t mantissa = 0;
        int exponent = 0;
        const auto digits = [&](bool fraction) {
            const char* const first = p;
            for (; p != end_ && *p >= '0' && *p <= '9'; ++p) {
                if (mantissa >= kDigitLimit) {
                    return false;
                }
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
                exponent -= fraction ? 1 : 0;
            }
            return p != first;
        };
        if (!digits(false)) {
            return false;
        }
        if (p != end_ && *p == '.') {
            ++p;
            if (!digits(true)) {
                return false;
            }
        }
        if (p != end_ && (*p == 'e' || *p == 'E')) {
            ++p;
            const bool down = p != end_ && *p == '-';
            p += p != end_ && (*p == '-' || *p == '+') ? 1 : 0;
            int power = 0;
            const char* const first = p;
            for (; p != end_ && *p >= '0' && *p <= '9' && power < 1000; ++p) {
                power = power * 10 + (*p - '0');
            }
            if (p == first || power >= 1000) {
                return false;
            }
            exponent += down ? -power : power;
        }
        if (mantissa > kExactMantissa || exponent < -22 || exponent > 22) {
            return false;
        }
        const double exact = static_cast<double>(mantissa);
        const double magnitude =
            exponent < 0 ? exact / kPowers[-exponent] : exact * kPowers[exponent];
        value = negative ? -magnitude : magnitude;
        position_ = p;
        return true;
    }

    const char* position_;
    const char* end_;
};

/// The text just after `key`, or nullptr. The frame's keys are unique and no
/// value of it holds a quoted key, so the first match is the member.
const char* after(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(key);
    return at == std::string_view::npos ? nullptr : text.data() + at + key.size();
}

}  // namespace

bool FrameSamples::read(std::string_view text, std::uint64_t channelCount,
                        std::uint64_t sampleCount, Order order) {
    const char* const end = text.data() + text.size();
    const char* const samples = after(text, kSamplesKey);
    if (samples == nullptr || (channelCount != 0 && sampleCount > text.size() / channelCount)) {
        return false;  // every sample takes at least two characters of text
    }
    count_ = static_cast<std::size_t>(channelCount * sampleCount);
    if (values_.size() < count_) {
        values_.resize(count_);
    }
    Cursor cursor(samples, end);
    // Each value goes straight to its place: no second pass to reorder them.
    const bool rows = order == Order::SamplesFirst;
    const std::size_t step = rows ? static_cast<std::size_t>(channelCount) : 1;
    for (std::uint64_t c = 0; c < channelCount; ++c) {
        if ((c != 0 && !cursor.take(',')) || !cursor.take('[')) {
            return false;
        }
        double* value = values_.data() + (rows ? c : c * sampleCount);
        for (std::uint64_t s = 0; s < sampleCount; ++s, value += step) {
            if ((s != 0 && !cursor.take(',')) || !cursor.number(*value)) {
                return false;
            }
        }
        if (!cursor.take(']')) {
            return false;
        }
    }
    if (!cursor.take(']')) {
        return false;
    }

    digital_.clear();
    const char* const lines = after(text, kDigitalKey);
    if (lines == nullptr) {
        return true;
    }
    Cursor line(lines, end);
    if (line.take(']')) {
        return true;
    }
    do {
        if (line.take(std::string_view("true"))) {
            digital_.push_back(1);
        } else if (line.take(std::string_view("false"))) {
            digital_.push_back(0);
        } else {
            return false;
        }
    } while (line.take(','));
    return line.take(']');
}

}  // namespace ni_usb_daq::host
