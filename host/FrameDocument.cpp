#include "FrameDocument.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "HostError.h"

namespace ni_usb_daq::host {

namespace {

using nlohmann::json;

[[noreturn]] void malformed(const std::string& why) {
    throw HostError("malformed sample frame: " + why);
}

const json& member(const json& frame, const char* key) {
    const auto found = frame.find(key);
    if (found == frame.end()) {
        malformed(std::string("no \"") + key + "\"");
    }
    return *found;
}

template <typename Integer>
Integer integerMember(const json& frame, const char* key) {
    const json& value = member(frame, key);
    if (!value.is_number_integer()) {
        malformed(std::string("\"") + key + "\" is not an integer");
    }
    if constexpr (std::numeric_limits<Integer>::is_signed) {
        return value.get<Integer>();
    } else {
        if (value.is_number_unsigned() || value.get<std::int64_t>() >= 0) {
            return value.get<Integer>();
        }
        malformed(std::string("\"") + key + "\" is negative");
    }
}

std::vector<double> channelValues(const json& samples, std::size_t expected, std::size_t index) {
    if (!samples.is_array() || samples.size() != expected) {
        malformed("channel " + std::to_string(index) + " does not hold \"sample_count\" values");
    }
    std::vector<double> values;
    values.reserve(expected);
    for (const json& sample : samples) {
        if (sample.is_number()) {
            values.push_back(sample.get<double>());
        } else if (sample.is_null()) {
            values.push_back(std::numeric_limits<double>::quiet_NaN());
        } else {
            malformed("channel " + std::to_string(index) + " holds a value that is not a number");
        }
    }
    return values;
}

}  // namespace

FrameDocument parseFrame(const std::string& text) {
    const json frame = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (frame.is_discarded() || !frame.is_object()) {
        malformed("not a JSON object");
    }
    FrameDocument document;
    document.sequenceNo = integerMember<std::uint64_t>(frame, "sequence_no");
    document.timestampNs = integerMember<std::int64_t>(frame, "timestamp_ns");
    document.sampleCount = integerMember<std::size_t>(frame, "sample_count");
    const auto channelCount = integerMember<std::size_t>(frame, "n_channels");
    const json& samples = member(frame, "samples");
    if (!samples.is_array() || samples.size() != channelCount) {
        malformed("\"samples\" does not hold \"n_channels\" channels");
    }
    document.channels.reserve(channelCount);
    for (std::size_t c = 0; c < channelCount; ++c) {
        document.channels.push_back(channelValues(samples[c], document.sampleCount, c));
    }
    return document;
}

std::string truncatedFrame(std::string_view text, std::uint64_t keep) {
    json frame = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (frame.is_discarded() || !frame.is_object() || !frame.contains("samples") ||
        !frame["samples"].is_array()) {
        malformed("not a JSON object with \"samples\"");
    }
    for (json& channel : frame["samples"]) {
        if (!channel.is_array()) {
            malformed("a channel is not an array");
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

}  // namespace ni_usb_daq::host
