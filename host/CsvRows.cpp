#include "CsvRows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "HostError.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::size_t kIndexRoom = 24;
constexpr std::size_t kTimeRoom = 48;
/// A comma and the longest shortest text of a double, "-2.2250738585072014e-308".
constexpr std::size_t kValueRoom = 1 + 24;

char* writeTime(char* out, double seconds) {
    // Fixed notation reads best; a value it cannot fit goes in the shortest
    // form instead.
    auto time = std::to_chars(out, out + kTimeRoom, seconds, std::chars_format::fixed);
    if (time.ec != std::errc()) {
        time = std::to_chars(out, out + kTimeRoom, seconds);
    }
    return time.ptr;
}

char* writeValue(char* out, double value) {
    *out++ = ',';
    if (!std::isfinite(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    return std::to_chars(out, out + kValueRoom, value).ptr;
}

}  // namespace

CsvRowWriter::CsvRowWriter(CsvColumns columns) : columns_(columns) {
    if (columns_.time && !(columns_.sampleRateHz > 0)) {
        throw HostError("no time column: the configured acquisition reports no sample rate");
    }
}

char* CsvRowWriter::reserve(std::size_t room) {
    if (room > bufferSize_) {
        buffer_ = std::make_unique_for_overwrite<char[]>(room);
        bufferSize_ = room;
    }
    return buffer_.get();
}

std::string_view CsvRowWriter::rows(const FrameRecord& frame) {
    const std::uint64_t count = frame.sampleCount;
    const std::size_t lines = columns_.digitalLines;
    digitalComplete_ = lines == 0 || frame.digitalLines.size() == lines;
    const std::size_t rowRoom = kIndexRoom + (columns_.time ? kTimeRoom : 0) +
                                frame.channelCount * kValueRoom + 2 * lines + 1;
    char* const begin = reserve(static_cast<std::size_t>(count) * rowRoom);
    char* out = begin;
    const double* const samples = frame.samples.data();
    for (std::uint64_t s = 0; s < count; ++s) {
        const std::uint64_t index = frame.firstSample + s;
        out = std::to_chars(out, out + kIndexRoom, index).ptr;
        if (columns_.time) {
            *out++ = ',';
            out = writeTime(out, static_cast<double>(index) / columns_.sampleRateHz);
        }
        for (std::uint64_t c = 0; c < frame.channelCount; ++c) {
            out = writeValue(out, samples[c * count + s]);
        }
        if (digitalComplete_) {
            for (std::size_t line = 0; line < lines; ++line) {
                *out++ = ',';
                *out++ = frame.digitalLines[line] != 0 ? '1' : '0';
            }
        } else {
            out = std::fill_n(out, lines, ',');
        }
        *out++ = '\n';
    }
    return {begin, static_cast<std::size_t>(out - begin)};
}

}  // namespace ni_usb_daq::host
