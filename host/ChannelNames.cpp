#include "ChannelNames.h"

#include <algorithm>
#include <charconv>

namespace ni_usb_daq::host {

namespace {

// Far more than any device has; keeps a typo like ai0:99999999 from
// producing a hundred million column names.
constexpr unsigned kMaxExpandedChannels = 4096;

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

std::optional<unsigned> parseIndex(std::string_view digits) {
    unsigned value = 0;
    const char* end = digits.data() + digits.size();
    const auto result = std::from_chars(digits.data(), end, value);
    if (digits.empty() || result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

// One entry: <prefix><first>[:<last>], the prefix ending in a non-digit.
bool expandEntry(std::string_view entry, std::vector<std::string>& names) {
    const auto colon = entry.find(':');
    const std::string_view head = entry.substr(0, colon);
    const auto digitsStart = head.find_last_not_of("0123456789") + 1;
    if (digitsStart == 0 || digitsStart == head.size()) {
        return false;  // no prefix, or no index after it
    }
    const std::string_view prefix = head.substr(0, digitsStart);
    const auto first = parseIndex(head.substr(digitsStart));
    auto last = first;
    if (colon != std::string_view::npos) {
        last = parseIndex(entry.substr(colon + 1));
    }
    if (!first || !last) {
        return false;
    }
    const unsigned low = std::min(*first, *last);
    const unsigned high = std::max(*first, *last);
    if (high - low >= kMaxExpandedChannels || names.size() + (high - low) >= kMaxExpandedChannels) {
        return false;
    }
    // A descending range lists its channels in descending order.
    for (unsigned offset = 0; offset <= high - low; ++offset) {
        const unsigned index = *first <= *last ? low + offset : high - offset;
        names.push_back(std::string(prefix) + std::to_string(index));
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> expandChannelList(std::string_view list) {
    std::vector<std::string> names;
    while (true) {
        const auto comma = list.find(',');
        const auto entry = trim(list.substr(0, comma));
        if (!entry.empty() && !expandEntry(entry, names)) {
            return std::nullopt;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        list.remove_prefix(comma + 1);
    }
    if (names.empty()) {
        return std::nullopt;
    }
    return names;
}

std::vector<std::string> channelNames(std::string_view list, std::size_t count) {
    if (auto names = expandChannelList(list); names && names->size() == count) {
        return *names;
    }
    std::vector<std::string> generic;
    generic.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        generic.push_back("ch" + std::to_string(i));
    }
    return generic;
}

}  // namespace ni_usb_daq::host
