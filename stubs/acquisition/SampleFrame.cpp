#include "stubs/acquisition/SampleFrame.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kra::device::stubs {

namespace {

/// The longest text the library writes for a double: sign, 17 digits, point
/// and a three-digit exponent, as in "-2.2250738585072014e-308".
constexpr std::size_t kMaxDoubleText = 24;

/// Writable room that must follow the start of every number. The library's
/// double routine checks for at least 23 bytes whatever it ends up writing;
/// the longest 64-bit integer takes 20.
constexpr std::size_t kNumberRoom = 32;

/// Writes `value` exactly as the JSON library's serializer does when it dumps
/// a double, and returns the end of the text.
///
/// The library formats doubles with its own grisu2 routine, not with the C
/// library, and the frame text has to match its dump() byte for byte. So this
/// mirrors serializer::dump_float for IEEE doubles: a non-finite value becomes
/// "null", anything else goes through nlohmann::detail::to_chars, which also
/// chooses between plain and exponent notation and adds the ".0" that keeps an
/// integral value looking like a floating-point number. That routine is an
/// internal of the library; the unit tests pin the identity against dump().
/// `first` must have kNumberRoom writable bytes.
inline char* writeJsonDouble(char* first, double value) {
    static_assert(
        std::numeric_limits<double>::is_iec559 && std::numeric_limits<double>::digits == 53,
        "the library's shortest-text path is the one for IEEE doubles");
    if (!std::isfinite(value)) {
        std::memcpy(first, "null", 4);
        return first + 4;
    }
    return nlohmann::detail::to_chars(first, first + kNumberRoom, value);
}

/// A cursor into pre-sized storage; every write must fit the room reserved for it.
class TextCursor {
public:
    explicit TextCursor(char* position) : position_(position) {}

    void put(char c) { *position_++ = c; }

    void put(std::string_view text) {
        std::memcpy(position_, text.data(), text.size());
        position_ += text.size();
    }

    /// `"key":`, or `,"key":` after another member.
    void putKey(std::string_view key, bool first = false) {
        if (!first) {
            put(',');
        }
        put('"');
        put(key);
        put("\":");
    }

    template <typename Integer>
    void putInteger(Integer value) {
        position_ = std::to_chars(position_, position_ + kNumberRoom, value).ptr;
    }

    /// `writeDouble(first, value)` writes the text and returns its end.
    template <typename DoubleWriter>
    void putDouble(DoubleWriter& writeDouble, double value) {
        position_ = writeDouble(position_, value);
    }

    char* position() const { return position_; }

private:
    char* position_;
};

/// The frame text with every sample written by `writeDouble`, which must give
/// writeJsonDouble's bytes and need no more than kNumberRoom.
template <typename DoubleWriter>
void writeFrameTextWith(const SampleFrameView& frame, std::optional<std::uint32_t> pretrigger,
                        std::string& out, DoubleWriter&& writeDouble) {
    const std::int32_t count = frameSampleCount(frame);
    const auto perChannel = static_cast<std::size_t>(count);
    const std::vector<bool>* digital = frameDigitalLines(frame);

    // One upper bound for the whole text, so the string grows at most once and
    // the loops below write without checking: keys, punctuation and six
    // integers; six bytes per digital line ("false,"); per channel its brackets
    // and comma; per sample the longest double and a comma; and behind it all
    // the room the number routines want in front of their last write.
    constexpr std::size_t kFixedRoom = 192 + 6 * kNumberRoom;
    const std::size_t digitalRoom = digital != nullptr ? digital->size() * 6 : 0;
    const std::size_t sampleRoom = frame.channelCount * (3 + perChannel * (kMaxDoubleText + 1));
    const std::size_t bound = kFixedRoom + digitalRoom + sampleRoom + kNumberRoom;
    if (out.size() < bound) {
        // Only the part beyond the current size is cleared; the capacity stays
        // from frame to frame.
        out.resize(bound);
    }

    char* const begin = out.data();
    TextCursor text(begin);
    text.put('{');
    if (digital != nullptr) {
        text.putKey(frame::kDigitalLines, true);
        text.put('[');
        bool firstLine = true;
        for (const bool line : *digital) {
            if (!firstLine) {
                text.put(',');
            }
            firstLine = false;
            text.put(line ? std::string_view("true") : std::string_view("false"));
        }
        text.put(']');
    }
    text.putKey(frame::kLayout, digital == nullptr);
    text.put('"');
    text.put(kFrameLayout);
    text.put('"');
    text.putKey(frame::kChannelCount);
    text.putInteger(frame.channelCount);
    if (digital != nullptr) {
        text.putKey(frame::kDigitalLineCount);
        text.putInteger(digital->size());
    }
    if (pretrigger) {
        text.putKey(frame::kPretriggerSamples);
        text.putInteger(*pretrigger);
    }
    text.putKey(frame::kSampleCount);
    text.putInteger(count);
    text.putKey(frame::kSamples);
    text.put('[');
    for (std::uint64_t c = 0; c < frame.channelCount; ++c) {
        if (c != 0) {
            text.put(',');
        }
        text.put('[');
        if (perChannel != 0) {
            const double* value = frame.samples + c * perChannel;
            const double* const end = value + perChannel;
            text.putDouble(writeDouble, *value++);
            while (value != end) {
                text.put(',');
                text.putDouble(writeDouble, *value++);
            }
        }
        text.put(']');
    }
    text.put(']');
    text.putKey(frame::kSequenceNo);
    text.putInteger(frame.sequenceNo);
    text.putKey(frame::kTimestampNs);
    text.putInteger(frame.timestampNs);
    text.put('}');

    out.resize(static_cast<std::size_t>(text.position() - begin));
}

}  // namespace

std::int32_t frameSampleCount(const SampleFrameView& frame) {
    if (frame.sampleCount <= 0) {
        return 0;
    }
    if (frame.channelCount == 0) {
        return frame.sampleCount;
    }
    const std::size_t available = frame.samples != nullptr ? frame.sampleBufferSize : 0;
    const std::uint64_t perChannel = available / frame.channelCount;
    return static_cast<std::int32_t>(
        std::min<std::uint64_t>(perChannel, static_cast<std::uint64_t>(frame.sampleCount)));
}

void writeFrameText(const SampleFrameView& frame, std::string& out) {
    writeFrameText(frame, std::nullopt, out);
}

void writeFrameText(const SampleFrameView& frame, std::optional<std::uint32_t> pretriggerSamples,
                    std::string& out) {
    writeFrameTextWith(frame, pretriggerSamples, out,
                       [](char* first, double value) { return writeJsonDouble(first, value); });
}

void writeFrameText(const SampleFrameView& frame, std::string& out, NumberTextCache& numbers) {
    static_assert(NumberTextCache::kRoom <= kNumberRoom);
    writeFrameTextWith(frame, std::nullopt, out, [&numbers](char* first, double value) {
        return numbers.write(first, value,
                             [](char* at, double same) { return writeJsonDouble(at, same); });
    });
}

}  // namespace kra::device::stubs
