#include "stubs/acquisition/BinaryBlock.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "device/ByteOrder.h"

namespace kra::device::stubs {

namespace {

static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == sizeof(std::uint64_t),
              "the payload is IEEE-754 binary64");

template <typename Integer>
void appendInteger(std::string& out, Integer value) {
    char digits[24];  // the longest 64-bit integer takes 20
    const char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

/// `"key":`, with the comma before it unless it is the first member.
void appendKey(std::string& out, std::string_view key) {
    if (out.size() > 1) {
        out += ',';
    }
    out += '"';
    out += key;
    out += "\":";
}

/// `"key":"value"`.
void appendText(std::string& out, std::string_view key, std::string_view value) {
    appendKey(out, key);
    out += '"';
    out += value;
    out += '"';
}

}  // namespace

void writeBinaryBlockHeader(const SampleFrameView& frame, std::string& out) {
    const std::vector<bool>* digital = frameDigitalLines(frame);
    // clear() keeps the capacity: after the first block nothing here allocates.
    out.clear();
    out += '{';
    appendText(out, frame::kByteOrder, frame::kLittleEndian);
    if (digital != nullptr) {
        appendKey(out, frame::kDigitalLines);
        out += '[';
        bool first = true;
        for (const bool line : *digital) {
            if (!first) {
                out += ',';
            }
            first = false;
            out += line ? "true" : "false";
        }
        out += ']';
    }
    appendText(out, frame::kDtype, frame::kFloat64);
    appendText(out, frame::kLayout, kFrameLayout);
    appendKey(out, frame::kChannelCount);
    appendInteger(out, frame.channelCount);
    if (digital != nullptr) {
        appendKey(out, frame::kDigitalLineCount);
        appendInteger(out, digital->size());
    }
    appendKey(out, frame::kSampleCount);
    appendInteger(out, frameSampleCount(frame));
    appendKey(out, frame::kSequenceNo);
    appendInteger(out, frame.sequenceNo);
    appendKey(out, frame::kTimestampNs);
    appendInteger(out, frame.timestampNs);
    appendKey(out, frame::kVersion);
    appendInteger(out, kBinaryBlockVersion);
    out += '}';
}

void writeBinaryBlockSamples(const SampleFrameView& frame, std::string& out) {
    const std::size_t values = static_cast<std::size_t>(frameSampleCount(frame)) *
                               static_cast<std::size_t>(frame.channelCount);
    // The driver fills the block with the delivered count as stride, so the
    // payload is the front of the buffer as it stands.
    out.resize(values * sizeof(double));
    if (values == 0) {
        return;
    }
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out.data(), frame.samples, out.size());
    } else {
        char* at = out.data();
        for (std::size_t i = 0; i < values; ++i, at += sizeof(double)) {
            const std::uint64_t bits = swapBytes(std::bit_cast<std::uint64_t>(frame.samples[i]));
            std::memcpy(at, &bits, sizeof bits);
        }
    }
}

}  // namespace kra::device::stubs
