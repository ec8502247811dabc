// Arbitrary doubles and counts through the fast frame writer; its text must be
// byte for byte the JSON library's dump of the same frame.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stubs/acquisition/SampleFrame.h"

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

    std::string fast;
    kra::device::stubs::writeFrameText(frame, fast);
    const std::string reference = kra::device::stubs::buildFrameJson(frame).dump();
    if (fast != reference) {
        std::fprintf(stderr, "frame text differs:\n fast: %s\n  ref: %s\n", fast.c_str(),
                     reference.c_str());
        std::abort();
    }
    return 0;
}
