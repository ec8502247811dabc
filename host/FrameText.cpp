#include "FrameText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include <nlohmann/json.hpp>

#include "HostError.h"

namespace ni_usb_daq::host {

namespace {

std::optional<std::uint64_t> numberAfter(std::string_view text, std::size_t keyEnd) {
    std::uint64_t value = 0;
    const char* begin = text.data() + keyEnd;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || result.ptr == end ||
        (*result.ptr != ',' && *result.ptr != '}')) {
        return std::nullopt;
    }
    return value;
}

/// The value of "key": searched from the front or, for members that follow
/// the samples, from the back, so that neither search crosses the samples.
std::optional<std::uint64_t> member(std::string_view text, std::string_view key, bool fromBack) {
    const auto at = fromBack ? text.rfind(key) : text.find(key);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return numberAfter(text, at + key.size());
}

/// Past one JSON number or null at `p`, or null when there is none.
const char* skipValue(const char* p, const char* end) {
    if (end - p >= 4 && std::memcmp(p, "null", 4) == 0) {
        return p + 4;
    }
    const auto digits = [&] {
        const char* const first = p;
        while (p != end && *p >= '0' && *p <= '9') {
            ++p;
        }
        return p != first;
    };
    p += p != end && *p == '-';
    if (p != end && *p == '0') {
        ++p;
    } else if (!digits()) {
        return nullptr;
    }
    if (p != end && *p == '.' && (++p, !digits())) {
        return nullptr;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-')) {
            ++p;
        }
        if (!digits()) {
            return nullptr;
        }
    }
    return p;
}

}  // namespace

bool frameSamplesWellFormed(std::string_view text, const FrameNumbers& numbers) {
    constexpr std::string_view kSamples = "\"samples\":[";
    const auto at = text.find(kSamples);
    if (at == std::string_view::npos) {
        return false;
    }
    const char* p = text.data() + at + kSamples.size();
    const char* const end = text.data() + text.size();
    for (std::uint64_t c = 0; c < numbers.channelCount; ++c) {
        if ((c > 0 && (p == end || *p++ != ',')) || p == end || *p++ != '[') {
            return false;
        }
        for (std::uint64_t s = 0; s < numbers.sampleCount; ++s) {
            if ((s > 0 && (p == end || *p++ != ',')) || !(p = skipValue(p, end))) {
                return false;
            }
        }
        if (p == end || *p++ != ']') {
            return false;
        }
    }
    return p != end && *p == ']';
}

std::string truncatedFrame(std::string_view text, std::uint64_t keep) {
    using nlohmann::json;
    json frame = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (frame.is_discarded() || !frame.is_object() || !frame.contains("samples") ||
        !frame["samples"].is_array()) {
        throw HostError("malformed sample frame: not a JSON object with \"samples\"");
    }
    for (json& channel : frame["samples"]) {
        if (!channel.is_array()) {
            throw HostError("malformed sample frame: a channel is not an array");
        }
        if (channel.size() > keep) {
            channel.erase(channel.begin() + static_cast<std::ptrdiff_t>(keep), channel.end());
        }
    }
    frame["sample_count"] = keep;
    // The plug-in writes its frames with this library's compact form, so the
    // kept numbers come out as they came in.
    return frame.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<FrameNumbers> scanFrameNumbers(std::string_view text) {
    // The plug-in writes members in key order: the counts come before the
    // samples, the sequence number after them.
    const auto channels = member(text, "\"n_channels\":", false);
    const auto samples = member(text, "\"sample_count\":", false);
    const auto sequence = member(text, "\"sequence_no\":", true);
    if (!channels || !samples || !sequence) {
        return std::nullopt;
    }
    FrameNumbers numbers{*sequence, *samples, *channels};
    if (const auto stamp = member(text, "\"timestamp_ns\":", true)) {
        numbers.timestampNs = static_cast<std::int64_t>(*stamp);
    }
    return numbers;
}

CsvRowWriter::CsvRowWriter(CsvColumns columns) : columns_(columns) {
    if (columns_.time && !(columns_.sampleRateHz > 0)) {
        throw HostError("no time column: the configured acquisition reports no sample rate");
    }
}

bool CsvRowWriter::locate(std::string_view text, const FrameNumbers& numbers) {
    digital_.clear();
    constexpr std::string_view kDigital = "\"digital_lines\":[";
    if (const auto at = text.find(kDigital); at != std::string_view::npos) {
        const auto end = text.find(']', at);
        if (end == std::string_view::npos) {
            return false;
        }
        for (auto value = text.substr(at + kDigital.size(), end - at - kDigital.size());
             !value.empty();) {
            const auto comma = value.find(',');
            const auto item = value.substr(0, comma);
            if (item != "true" && item != "false") {
                return false;
            }
            digital_.push_back(item == "true" ? '1' : '0');
            value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        }
    }
    digitalComplete_ = columns_.digitalLines == 0 || digital_.size() == columns_.digitalLines;
    if (!digitalComplete_ || columns_.digitalLines == 0) {
        digital_.clear();
    }
    constexpr std::string_view kSamples = "\"samples\":[";
    const auto samples = text.find(kSamples);
    if (samples == std::string_view::npos) {
        return false;
    }
    // Each channel's array starts with '['; values hold no brackets, so the
    // next channel starts after the next ']'.
    cursors_.clear();
    const char* position = text.data() + samples + kSamples.size();
    const char* const end = text.data() + text.size();
    for (std::uint64_t c = 0; c < numbers.channelCount; ++c) {
        if (c > 0) {
            if (position == end || *position != ',') {
                return false;
            }
            ++position;
        }
        if (position == end || *position != '[') {
            return false;
        }
        cursors_.push_back(++position);
        const void* close = std::memchr(position, ']', static_cast<std::size_t>(end - position));
        if (close == nullptr) {
            return false;
        }
        position = static_cast<const char*>(close) + 1;
    }
    return position != end && *position == ']';
}

std::optional<std::string_view> CsvRowWriter::rows(std::string_view text,
                                                   const FrameNumbers& numbers,
                                                   std::uint64_t firstIndex) {
    if (!locate(text, numbers)) {
        return std::nullopt;
    }
    // Every value is copied with the comma before it and "null" shrinks to
    // "nan", so the values take at most the text's length; each row adds its
    // index, time, digital lines and line end.
    constexpr std::size_t kIndexRoom = 24;
    constexpr std::size_t kTimeRoom = 48;
    const std::size_t rowRoom =
        kIndexRoom + (columns_.time ? kTimeRoom : 0) + 2 * columns_.digitalLines + 1;
    const std::size_t room = text.size() + numbers.sampleCount * rowRoom + kTimeRoom;
    if (room > bufferSize_) {
        buffer_ = std::make_unique_for_overwrite<char[]>(room);
        bufferSize_ = room;
    }
    char* out = buffer_.get();
    for (std::uint64_t s = 0; s < numbers.sampleCount; ++s) {
        const std::uint64_t index = firstIndex + s;
        out = std::to_chars(out, out + kIndexRoom, index).ptr;
        if (columns_.time) {
            *out++ = ',';
            const double seconds = static_cast<double>(index) / columns_.sampleRateHz;
            // Fixed notation reads best; a value it cannot fit goes in the
            // shortest form instead.
            auto time = std::to_chars(out, out + kTimeRoom, seconds, std::chars_format::fixed);
            if (time.ec != std::errc()) {
                time = std::to_chars(out, out + kTimeRoom, seconds);
            }
            out = time.ptr;
        }
        const bool lastRow = s + 1 == numbers.sampleCount;
        for (const char*& cursor : cursors_) {
            *out++ = ',';
            const char* value = cursor;
            // null: a value that was not finite. The tests stop at the first
            // mismatch, so they never read past the channel's ']'.
            if (value[0] == 'n' && value[1] == 'u' && value[2] == 'l' && value[3] == 'l') {
                std::memcpy(out, "nan", 3);
                out += 3;
                value += 4;
            } else {
                while (*value != ',' && *value != ']') {
                    *out++ = *value++;
                }
            }
            // Fewer or more values than sample_count.
            if (value == cursor || (*value == ']') != lastRow) {
                return std::nullopt;
            }
            cursor = value + 1;
        }
        if (digitalComplete_) {
            for (const char line : digital_) {
                *out++ = ',';
                *out++ = line;
            }
        } else {
            out = std::fill_n(out, columns_.digitalLines, ',');
        }
        *out++ = '\n';
    }
    return std::string_view(buffer_.get(), static_cast<std::size_t>(out - buffer_.get()));
}

}  // namespace ni_usb_daq::host
