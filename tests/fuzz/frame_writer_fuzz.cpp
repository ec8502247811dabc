// Arbitrary doubles and counts through the fast frame writer, with and without
// a number text cache; its text must be byte for byte the JSON library's dump
// of the same frame. Half the inputs are converter-shaped instead: small codes
// times a code width plus an offset, so values repeat and the cache hits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "stubs/acquisition/SampleFrame.h"
#include "tests/support/ReferenceFrameJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 24) {
        return 0;
    }
    std::uint64_t sequence = 0;
    std::int64_t timestamp = 0;
    std::uint32_t counts = 0;
    std::uint32_t digital = 0;
    std::memcpy(&sequence, data, 8);
    std::memcpy(&timestamp, data + 8, 8);
    std::memcpy(&counts, data + 16, 4);
    std::memcpy(&digital, data + 20, 4);
    data += 24;
    size -= 24;

    std::vector<double> samples(size / sizeof(double));
    if (!samples.empty()) {
        std::memcpy(samples.data(), data, samples.size() * sizeof(double));
    }
    if ((sequence >> 63) != 0) {
        // Widths of 16-bit and 12-bit converters on +-10 V and +-0.2 V, one
        // calibrated, and decimal steps; offsets the ranges' low ends.
        constexpr double kWidths[] = {
            20.0 / 65536.0, 20.0 / 4096.0, 0.4 / 65536.0, 20.0 / 65536.0 * 1.000173,
            0.001,          0.1,           1e-7,          3.0};
        constexpr double kOffsets[] = {-10.0, -0.2, 0.0, -10.000031};
        const double width = kWidths[(sequence >> 8) % std::size(kWidths)];
        const double offset = kOffsets[(sequence >> 16) % std::size(kOffsets)];
        for (double& value : samples) {
            std::int16_t code = 0;
            std::memcpy(&code, &value, sizeof code);  // few distinct codes: repeats
            value = offset + code * width;
        }
    }
    std::vector<bool> lines;
    for (std::uint32_t i = 0; i < (digital & 0x3f); ++i) {
        lines.push_back(((digital >> (i % 26 + 6)) & 1u) != 0);
    }

    kra::device::stubs::SampleFrameView frame;
    frame.sequenceNo = sequence;
    frame.timestampNs = timestamp;
    frame.channelCount = counts & 0x3f;
    // Reported counts may exceed what the buffer holds; the writer must cope.
    frame.sampleCount = static_cast<std::int32_t>(counts >> 6) - 64;
    frame.samples = samples.data();
    frame.sampleBufferSize = samples.size();
    frame.digitalLines = &lines;

    const std::string reference = kra::device::stubs::buildFrameJson(frame).dump();
    const auto check = [&reference](const char* path, const std::string& text) {
        if (text != reference) {
            std::fprintf(stderr, "frame text differs (%s):\n fast: %s\n  ref: %s\n", path,
                         text.c_str(), reference.c_str());
            std::abort();
        }
    };
    std::string fast;
    kra::device::stubs::writeFrameText(frame, fast);
    check("uncached", fast);
    // Twice through the cache: the first pass fills it, the second copies.
    // Like a stream's, the cache lives on from input to input (a fresh one
    // per input would cost more than the input itself), so a replayed input
    // meets it empty but still checks both passes.
    static kra::device::stubs::NumberTextCache numbers;
    for (const char* pass : {"cache filling", "cache warm"}) {
        kra::device::stubs::writeFrameText(frame, fast, numbers);
        check(pass, fast);
    }
    return 0;
}
