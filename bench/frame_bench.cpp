// Sample frame serialization for the block shapes a stream produces: the
// direct text writer against building the JSON document and dumping it; and
// for a stream of 8 x 10 000 blocks the writer with and without the stream's
// number text cache. bench/run puts the rates and their ratios in its table.
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFrames.h"
#include "tests/support/ReferenceFrameJson.h"

namespace {

using bench::Converters;
using bench::Shape;
using kra::device::stubs::buildFrameJson;
using kra::device::stubs::NumberTextCache;
using kra::device::stubs::SampleFrameView;
using kra::device::stubs::writeFrameText;

constexpr Shape kShapes[] = {{1, 100},   {1, 1000}, {1, 10000}, {8, 100},   {8, 1000},
                             {8, 10000}, {32, 100}, {32, 1000}, {32, 10000}};

/// The stream the cache is measured on: consecutive blocks, written in turn,
/// so a value recurs only as far as the signal brings its code back.
constexpr Shape kStreamShape{8, 10000};
constexpr int kStreamBlocks = 4;

void fastPath(benchmark::State& state, Shape shape) {
    const std::vector<double> values = bench::waveform(shape);
    const SampleFrameView view = bench::frameOf(shape, values);
    std::string text;
    for (auto _ : state) {
        writeFrameText(view, text);
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * shape.samples());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void obviousPath(benchmark::State& state, Shape shape) {
    const std::vector<double> values = bench::waveform(shape);
    const SampleFrameView view = bench::frameOf(shape, values);
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string text = buildFrameJson(view).dump();
        benchmark::DoNotOptimize(text.data());
        size = text.size();
    }
    state.SetItemsProcessed(state.iterations() * shape.samples());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

/// The stream's frames as the plug-in writes them, one cache for the whole
/// run; or, as the baseline, without one.
void streamPath(benchmark::State& state, Converters converters, bool cached) {
    const Shape shape = kStreamShape;
    const auto blocks = bench::stream(shape, kStreamBlocks, converters);
    NumberTextCache numbers;
    std::string text;
    std::size_t next = 0;
    for (auto _ : state) {
        const SampleFrameView view = bench::frameOf(shape, blocks[next]);
        if (cached) {
            writeFrameText(view, text, numbers);
        } else {
            writeFrameText(view, text);
        }
        next = (next + 1) % blocks.size();
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * shape.samples());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

}  // namespace

int main(int argc, char** argv) {
    // The paths of one shape run back to back, so that they see the same
    // machine load.
    for (const Shape& shape : kShapes) {
        benchmark::RegisterBenchmark(("fast/" + shape.label()).c_str(), fastPath, shape);
        benchmark::RegisterBenchmark(("obvious/" + shape.label()).c_str(), obviousPath, shape);
    }
    const std::pair<const char*, Converters> streams[] = {{"multiplexed", Converters::Multiplexed},
                                                          {"per-channel", Converters::PerChannel}};
    for (const auto& [name, converters] : streams) {
        const std::string suffix = std::string(name) + "/" + kStreamShape.label();
        benchmark::RegisterBenchmark(("cached/" + suffix).c_str(), streamPath, converters, true);
        benchmark::RegisterBenchmark(("uncached/" + suffix).c_str(), streamPath, converters, false);
    }
    return bench::runRegistered(argc, argv);
}
