// Records synthetic frames to an HDF5 file until it is killed, flushing after
// every frame and then printing "frame N", so that a test knows what a kill
// must leave readable.
//
//   hdf5_writer_child FILE CHANNELS SAMPLES_PER_FRAME
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Hdf5WriterFactory.h"
#include "SyntheticFrames.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: hdf5_writer_child FILE CHANNELS SAMPLES_PER_FRAME\n");
        return 2;
    }
    using namespace ni_usb_daq::host;
    try {
        const std::uint64_t channels = std::strtoull(argv[2], nullptr, 10);
        const std::uint64_t count = std::strtoull(argv[3], nullptr, 10);
        const auto writer =
            makeHdf5Writer(argv[1], {.flushInterval = std::chrono::milliseconds(0)});
        RecordingFacts facts;
        facts.device = "Dev1";
        facts.sampleRateHz = 1000.0;
        for (std::uint64_t c = 0; c < channels; ++c) {
            facts.channels.push_back({"Dev1/ai" + std::to_string(c), -10.0, 10.0, "RSE"});
        }
        writer->begin(facts);
        // Bounded, should the kill never come.
        for (std::uint64_t n = 1; n <= 100'000; ++n) {
            const auto samples = host_tests::syntheticSamples(channels, count, (n - 1) * count);
            writer->frame({.sequenceNo = n,
                           .timestampNs = 0,
                           .firstSample = (n - 1) * count,
                           .sampleCount = count,
                           .channelCount = channels,
                           .samples = samples,
                           .digitalLines = {},
                           .text = {}});
            std::printf("frame %llu\n", static_cast<unsigned long long>(n));
            std::fflush(stdout);
        }
        return 3;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hdf5_writer_child: %s\n", error.what());
        return 1;
    }
}
