// Sample frame serialization: the direct text writer against building the JSON
// document and dumping it, for the block shapes a stream produces. bench/run
// puts both rates per shape and their ratio in its table.
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFrames.h"

namespace {

using bench::Shape;
using kra::device::stubs::buildFrameJson;
using kra::device::stubs::SampleFrameView;
using kra::device::stubs::writeFrameText;

constexpr Shape kShapes[] = {{1, 100},   {1, 1000}, {1, 10000}, {8, 100},   {8, 1000},
                             {8, 10000}, {32, 100}, {32, 1000}, {32, 10000}};

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

}  // namespace

int main(int argc, char** argv) {
    // Fast and obvious of one shape run back to back, so that both see the same
    // machine load.
    for (const Shape& shape : kShapes) {
        benchmark::RegisterBenchmark(("fast/" + shape.label()).c_str(), fastPath, shape);
        benchmark::RegisterBenchmark(("obvious/" + shape.label()).c_str(), obviousPath, shape);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
