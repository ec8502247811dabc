#include "ChannelList.h"

#include <charconv>
#include <cstdint>

namespace daqmx_sim {

namespace {

// Longer ranges than any device has channels are typing errors; refusing them
// also keeps "ai0:4000000000" from allocating a huge list.
constexpr std::uint32_t kMaxRangeLength = 4096;

std::string_view trim(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<std::uint32_t> parseIndex(std::string_view digits) {
    std::uint32_t value = 0;
    if (digits.empty()) {
        return std::nullopt;
    }
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// "ai0:3" -> ai0, ai1, ai2, ai3 appended to `out`.
bool expandRange(const std::string& device, std::string_view channel,
                 std::vector<ChannelName>& out) {
    const std::size_t colon = channel.find(':');
    std::string_view first = channel.substr(0, colon);
    std::string_view last = channel.substr(colon + 1);
    std::size_t digitsAt = first.size();
    while (digitsAt > 0 && isDigit(first[digitsAt - 1])) {
        --digitsAt;
    }
    const std::string_view prefix = first.substr(0, digitsAt);
    if (last.substr(0, prefix.size()) == prefix && last.size() > prefix.size() &&
        !isDigit(last.front())) {
        last.remove_prefix(prefix.size());
    }
    const auto from = parseIndex(first.substr(digitsAt));
    const auto to = parseIndex(last);
    if (!from || !to) {
        return false;
    }
    const std::uint32_t length = (*from <= *to ? *to - *from : *from - *to) + 1;
    if (length > kMaxRangeLength) {
        return false;
    }
    const int step = *from <= *to ? 1 : -1;
    std::int64_t index = *from;
    for (std::uint32_t i = 0; i < length; ++i, index += step) {
        out.push_back({device, std::string(prefix) + std::to_string(index)});
    }
    return true;
}

}  // namespace

std::optional<std::vector<ChannelName>> expandChannelList(std::string_view list,
                                                          std::string& badItem) {
    std::vector<ChannelName> channels;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        std::size_t end = list.find(',', begin);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        const std::string_view item = trim(list.substr(begin, end - begin));
        begin = end + 1;
        const std::size_t slash = item.find('/');
        if (item.empty() || slash == 0 || slash == std::string_view::npos ||
            slash + 1 == item.size()) {
            badItem = std::string(item);
            return std::nullopt;
        }
        const std::string device(item.substr(0, slash));
        const std::string_view channel = item.substr(slash + 1);
        if (channel.find(':') == std::string_view::npos) {
            channels.push_back({device, std::string(channel)});
        } else if (!expandRange(device, channel, channels)) {
            badItem = std::string(item);
            return std::nullopt;
        }
    }
    return channels;
}

}  // namespace daqmx_sim
