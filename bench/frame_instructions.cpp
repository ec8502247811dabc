// Writes one block shape's frame text a number of times by one path, for
// callgrind to count the instructions of: bench/run runs it with
// --toggle-collect on writeFastFrames or writeObviousFrames, so only the
// frame work is counted, not the set-up.
//
//   frame_instructions fast|obvious CHANNELS SAMPLES_PER_CHANNEL REPEATS
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "BenchFrames.h"
#include "tests/support/ReferenceFrameJson.h"

namespace {

using kra::device::stubs::SampleFrameView;

[[gnu::noinline]] std::size_t writeFastFrames(const SampleFrameView& view, int repeats) {
    std::string text;
    std::size_t bytes = 0;
    for (int i = 0; i < repeats; ++i) {
        kra::device::stubs::writeFrameText(view, text);
        bytes += text.size();
    }
    return bytes;
}

[[gnu::noinline]] std::size_t writeObviousFrames(const SampleFrameView& view, int repeats) {
    std::size_t bytes = 0;
    for (int i = 0; i < repeats; ++i) {
        bytes += kra::device::stubs::buildFrameJson(view).dump().size();
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: frame_instructions fast|obvious CHANNELS SAMPLES_PER_CHANNEL "
                     "REPEATS\n");
        return 2;
    }
    const std::string_view path = argv[1];
    const bench::Shape shape{std::strtoull(argv[2], nullptr, 10),
                             static_cast<std::int32_t>(std::strtol(argv[3], nullptr, 10))};
    const int repeats = static_cast<int>(std::strtol(argv[4], nullptr, 10));
    if ((path != "fast" && path != "obvious") || shape.channels == 0 ||
        shape.samplesPerChannel <= 0 || repeats <= 0) {
        std::fprintf(stderr, "frame_instructions: bad arguments\n");
        return 2;
    }
    const std::vector<double> values = bench::waveform(shape);
    const SampleFrameView view = bench::frameOf(shape, values);
    const std::size_t bytes =
        path == "fast" ? writeFastFrames(view, repeats) : writeObviousFrames(view, repeats);
    std::printf("%zu\n", bytes);
    return 0;
}
