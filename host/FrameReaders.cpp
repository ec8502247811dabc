#include "FrameReaders.h"

#include <bit>
#include <cstring>
#include <optional>

#include "ByteOrder.h"
#include "FrameKeys.h"
#include "JsonCursor.h"

namespace ni_usb_daq::host {

namespace frame = kra::device::frame;

namespace {

using Kind = FrameReading::Kind;

constexpr std::string_view kNotSamples =
    "its samples are not \"n_channels\" arrays of \"sample_count\" numbers";
constexpr std::string_view kDigitalDisagrees =
    "its \"n_digital_lines\" is not the length of its \"digital_lines\"";

/// The members a frame's text and a block's header share, as far as read.
struct Members {
    std::optional<std::uint64_t> sequenceNo;
    std::optional<std::uint64_t> sampleCount;
    std::optional<std::uint64_t> channelCount;
    std::optional<std::uint64_t> digitalLineCount;
    std::optional<std::int64_t> timestampNs;
    std::optional<int> version;
    std::string_view layout;
    std::string_view dtype;
    std::string_view byteOrder;
    bool digital = false;  ///< "digital_lines" was there

    bool hasNumbers() const { return sequenceNo && sampleCount && channelCount; }

    FrameNumbers numbers() const {
        return {*sequenceNo, *sampleCount, *channelCount, timestampNs.value_or(0)};
    }

    /// Why the members do not describe what they come with; empty when they do.
    std::string_view disagreement(std::uint64_t digitalLines) const {
        if (layout != frame::kChannelsFirst) {
            return "its \"layout\" is not \"channels_first\"";
        }
        if (digital != digitalLineCount.has_value() ||
            (digitalLineCount && *digitalLineCount != digitalLines)) {
            return kDigitalDisagrees;
        }
        return {};
    }
};

bool readDigitalLines(JsonCursor& cursor, std::vector<std::uint8_t>& lines) {
    if (!cursor.take('[')) {
        return false;
    }
    if (cursor.take(']')) {
        return true;
    }
    do {
        bool line = false;
        if (!cursor.boolean(line)) {
            return false;
        }
        lines.push_back(line ? 1 : 0);
    } while (cursor.take(','));
    return cursor.take(']');
}

template <typename Value>
bool readOptional(JsonCursor& cursor, std::optional<Value>& value) {
    Value read{};
    if (!cursor.integer(read)) {
        return false;
    }
    value = read;
    return true;
}

/// Reads the member `name` into `members` unless it is "samples"; any other
/// member is stepped over. False when its value is not what it should be.
bool readMember(std::string_view name, JsonCursor& cursor, Members& members,
                std::vector<std::uint8_t>& digitalLines) {
    if (name == frame::kSequenceNo) {
        return readOptional(cursor, members.sequenceNo);
    }
    if (name == frame::kSampleCount) {
        return readOptional(cursor, members.sampleCount);
    }
    if (name == frame::kChannelCount) {
        return readOptional(cursor, members.channelCount);
    }
    if (name == frame::kTimestampNs) {
        return readOptional(cursor, members.timestampNs);
    }
    if (name == frame::kDigitalLineCount) {
        return readOptional(cursor, members.digitalLineCount);
    }
    if (name == frame::kVersion) {
        return readOptional(cursor, members.version);
    }
    if (name == frame::kDigitalLines) {
        members.digital = true;
        return readDigitalLines(cursor, digitalLines);
    }
    if (name == frame::kLayout) {
        return cursor.text(members.layout);
    }
    if (name == frame::kDtype) {
        return cursor.text(members.dtype);
    }
    if (name == frame::kByteOrder) {
        return cursor.text(members.byteOrder);
    }
    return cursor.skipValue();
}

/// Walks "samples": `channels` arrays of `count` values, `value(c, s)`
/// stepping past each with the cursor on it.
template <typename Value>
bool walkSamples(JsonCursor& cursor, std::uint64_t channels, std::uint64_t count, Value&& value) {
    if (!cursor.take('[')) {
        return false;
    }
    for (std::uint64_t c = 0; c < channels; ++c) {
        if ((c != 0 && !cursor.take(',')) || !cursor.take('[')) {
            return false;
        }
        for (std::uint64_t s = 0; s < count; ++s) {
            if ((s != 0 && !cursor.take(',')) || !value(c, s)) {
                return false;
            }
        }
        if (!cursor.take(']')) {
            return false;
        }
    }
    return cursor.take(']');
}

/// Reads or checks "samples" of a frame whose counts are known.
bool readSamples(JsonCursor& cursor, std::size_t textSize, const FrameNumbers& numbers,
                 FrameValues values, FrameContents& into) {
    const std::uint64_t channels = numbers.channelCount;
    const std::uint64_t count = numbers.sampleCount;
    // Every value takes at least two bytes of text, which bounds the room asked for.
    if (channels != 0 && count > textSize / channels) {
        return false;
    }
    if (values == FrameValues::Check) {
        return walkSamples(cursor, channels, count,
                           [&](std::uint64_t, std::uint64_t) { return cursor.skipNumber(); });
    }
    double* const samples = into.prepare(static_cast<std::size_t>(channels * count)).data();
    return walkSamples(cursor, channels, count, [&](std::uint64_t c, std::uint64_t s) {
        return cursor.number(samples[c * count + s]);
    });
}

/// The payload's little-endian doubles into `samples`.
void copyDoubles(std::string_view payload, std::span<double> samples) {
    if constexpr (std::endian::native == std::endian::little) {
        if (!samples.empty()) {
            std::memcpy(samples.data(), payload.data(), samples.size_bytes());
        }
    } else {
        for (std::size_t i = 0; i < samples.size(); ++i) {
            std::uint64_t bits = 0;
            std::memcpy(&bits, payload.data() + i * sizeof bits, sizeof bits);
            samples[i] = std::bit_cast<double>(kra::device::swapBytes(bits));
        }
    }
}

}  // namespace

FrameReading readTextFrame(std::string_view text, FrameValues values, FrameContents& into) {
    into.clearSamples();
    into.digitalLines.clear();
    Members members;
    JsonCursor cursor(text);
    // The plug-in writes the counts before the samples; should they follow
    // them, the samples are read once the whole text has been walked.
    const char* samplesAt = nullptr;
    bool samplesRead = false;
    bool samplesBad = false;
    const bool walked = forEachMember(cursor, [&](std::string_view name) {
        if (name != frame::kSamples) {
            return readMember(name, cursor, members, into.digitalLines);
        }
        samplesAt = cursor.position();
        if (members.sampleCount && members.channelCount) {
            samplesRead = true;
            const FrameNumbers numbers{0, *members.sampleCount, *members.channelCount};
            if (readSamples(cursor, text.size(), numbers, values, into)) {
                return true;
            }
            // The frame's other members still say which frame was lost.
            samplesBad = true;
            into.clearSamples();
            cursor.seek(samplesAt);
        }
        return cursor.skipBracketed();
    });
    if (!walked || !members.hasNumbers()) {
        return {Kind::Unreadable, "no whole \"sequence_no\", \"sample_count\" or \"n_channels\""};
    }
    into.numbers = members.numbers();
    if (samplesAt == nullptr) {
        return {Kind::Malformed, "it has no \"samples\""};
    }
    if (!samplesRead) {
        JsonCursor samples(text.substr(static_cast<std::size_t>(samplesAt - text.data())));
        samplesBad = !readSamples(samples, text.size(), into.numbers, values, into);
    }
    if (samplesBad) {
        into.clearSamples();
        return {Kind::Malformed, kNotSamples};
    }
    if (const auto disagreement = members.disagreement(into.digitalLines.size());
        !disagreement.empty()) {
        into.clearSamples();
        return {Kind::Malformed, disagreement};
    }
    return {Kind::Whole, {}};
}

bool cutTextFrame(std::string_view text, std::uint64_t keep, std::string& out) {
    FrameContents contents;
    if (readTextFrame(text, FrameValues::Check, contents).kind != Kind::Whole) {
        return false;
    }
    const FrameNumbers& numbers = contents.numbers;
    out.clear();
    out.reserve(text.size());
    JsonCursor cursor(text);
    const char* copied = text.data();
    const auto copyTo = [&](const char* position) {
        out.append(copied, static_cast<std::size_t>(position - copied));
        copied = position;
    };
    const bool walked = forEachMember(cursor, [&](std::string_view name) {
        if (name == frame::kSampleCount) {
            copyTo(cursor.position());
            out += std::to_string(std::min(keep, numbers.sampleCount));
            const bool skipped = cursor.skipValue();
            copied = cursor.position();
            return skipped;
        }
        if (name != frame::kSamples) {
            return cursor.skipValue();
        }
        copyTo(cursor.position());
        out += '[';
        const bool whole = walkSamples(
            cursor, numbers.channelCount, numbers.sampleCount,
            [&](std::uint64_t c, std::uint64_t s) {
                const char* const value = cursor.position();
                if (!cursor.skipNumber()) {
                    return false;
                }
                if (s == 0) {
                    out += c == 0 ? "[" : ",[";
                }
                if (s < keep) {
                    out.append(s == 0 ? "" : ",");
                    out.append(value, static_cast<std::size_t>(cursor.position() - value));
                }
                if (s + 1 == numbers.sampleCount) {
                    out += ']';
                }
                return true;
            });
        out += ']';
        copied = cursor.position();
        return whole;
    });
    copyTo(text.data() + text.size());
    return walked;
}

FrameReading readBinaryBlock(std::string_view header, std::string_view payload,
                             FrameContents& into) {
    into.clearSamples();
    into.digitalLines.clear();
    Members members;
    JsonCursor cursor(header);
    const bool walked = forEachMember(cursor, [&](std::string_view name) {
        return readMember(name, cursor, members, into.digitalLines);
    });
    if (!walked || !members.hasNumbers()) {
        return {Kind::Unreadable, "no whole \"sequence_no\", \"sample_count\" or \"n_channels\""};
    }
    into.numbers = members.numbers();
    if (members.version != frame::kBinaryVersion) {
        return {Kind::Malformed, "its header is not of \"version\" 1"};
    }
    if (members.byteOrder != frame::kLittleEndian) {
        return {Kind::Malformed, "its \"byte_order\" is not \"little\""};
    }
    if (members.dtype != frame::kFloat64) {
        return {Kind::Malformed, "its \"dtype\" is not \"float64\""};
    }
    if (const auto disagreement = members.disagreement(into.digitalLines.size());
        !disagreement.empty()) {
        return {Kind::Malformed, disagreement};
    }
    const std::uint64_t channels = into.numbers.channelCount;
    const std::uint64_t count = into.numbers.sampleCount;
    const std::size_t values = payload.size() / sizeof(double);
    if (payload.size() % sizeof(double) != 0 || (channels != 0 && count > values / channels) ||
        channels * count != values) {
        return {Kind::Malformed, "its payload is not \"sample_count\" x \"n_channels\" doubles"};
    }
    copyDoubles(payload, into.prepare(values));
    return {Kind::Whole, {}};
}

}  // namespace ni_usb_daq::host
