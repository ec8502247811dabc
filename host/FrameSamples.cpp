#include "FrameSamples.h"

#include <charconv>
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
        const auto [next, error] = std::from_chars(position_, end_, value);
        if (error != std::errc{}) {
            return false;
        }
        position_ = next;
        return true;
    }

private:
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
