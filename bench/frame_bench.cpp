// Sample frame serialization: the direct text writer against building the JSON
// document and dumping it, for the block shapes a stream produces. After the
// runs a table gives both rates per shape and their ratio.
//
// Extra arguments are Google Benchmark's own (--benchmark_repetitions=5 makes
// the table use the median of the repetitions).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "stubs/acquisition/SampleFrame.h"

namespace {

using kra::device::stubs::buildFrameJson;
using kra::device::stubs::SampleFrameView;
using kra::device::stubs::writeFrameText;

struct Shape {
    std::uint64_t channels;
    std::int32_t samplesPerChannel;

    std::string label() const {
        return std::to_string(channels) + "x" + std::to_string(samplesPerChannel);
    }
    std::int64_t samples() const { return static_cast<std::int64_t>(channels) * samplesPerChannel; }
};

constexpr Shape kShapes[] = {{1, 100},   {1, 1000}, {1, 10000}, {8, 100},   {8, 1000},
                             {8, 10000}, {32, 100}, {32, 1000}, {32, 10000}};

/// What a voltage channel delivers: a sine of a few volts per channel, each at
/// its own frequency and phase, with a little Gaussian noise, at 100 kS/s.
std::vector<double> waveform(const Shape& shape) {
    std::mt19937_64 random(12345);
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<double> values(static_cast<std::size_t>(shape.samples()));
    const auto perChannel = static_cast<std::size_t>(shape.samplesPerChannel);
    for (std::size_t c = 0; c < shape.channels; ++c) {
        const double amplitude = 1.0 + 0.25 * static_cast<double>(c % 8);
        const double frequencyHz = 50.0 * static_cast<double>(c + 1);
        const double phase = 0.3 * static_cast<double>(c);
        for (std::size_t s = 0; s < perChannel; ++s) {
            const double t = static_cast<double>(s) / 100'000.0;
            values[c * perChannel + s] =
                amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * t + phase) +
                noise(random);
        }
    }
    return values;
}

SampleFrameView frameOf(const Shape& shape, const std::vector<double>& values) {
    SampleFrameView view;
    view.sequenceNo = 1234;
    view.timestampNs = 1'718'000'000'000'000'000;
    view.sampleCount = shape.samplesPerChannel;
    view.channelCount = shape.channels;
    view.samples = values.data();
    view.sampleBufferSize = values.size();
    return view;
}

void fastPath(benchmark::State& state, Shape shape) {
    const std::vector<double> values = waveform(shape);
    const SampleFrameView view = frameOf(shape, values);
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
    const std::vector<double> values = waveform(shape);
    const SampleFrameView view = frameOf(shape, values);
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string text = buildFrameJson(view).dump();
        benchmark::DoNotOptimize(text.data());
        size = text.size();
    }
    state.SetItemsProcessed(state.iterations() * shape.samples());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

/// The console output as usual, plus the samples-per-second rates by
/// benchmark name for the closing table: the median aggregate when the runs
/// were repeated, else the single run.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& run : reports) {
            const auto rate = run.counters.find("items_per_second");
            if (run.error_occurred || rate == run.counters.end()) {
                continue;
            }
            if (run.run_type == Run::RT_Iteration) {
                singleRates_[run.run_name.function_name] = rate->second.value;
            } else if (run.aggregate_name == "median") {
                medianRates_[run.run_name.function_name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    /// 0 when the benchmark did not run (filtered out).
    double rate(const std::string& name) const {
        if (const auto median = medianRates_.find(name); median != medianRates_.end()) {
            return median->second;
        }
        const auto single = singleRates_.find(name);
        return single != singleRates_.end() ? single->second : 0.0;
    }

private:
    std::map<std::string, double> singleRates_;
    std::map<std::string, double> medianRates_;
};

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
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-10s %14s %16s %8s\n", "case", "fast MS/s", "obvious MS/s", "ratio");
    for (const Shape& shape : kShapes) {
        const double fast = reporter.rate("fast/" + shape.label()) / 1e6;
        const double obvious = reporter.rate("obvious/" + shape.label()) / 1e6;
        if (fast == 0.0 && obvious == 0.0) {
            continue;
        }
        std::printf("%-10s %14.1f %16.1f %8.2f\n", shape.label().c_str(), fast, obvious,
                    obvious > 0.0 ? fast / obvious : 0.0);
    }
    return 0;
}
