// The cost of one simulated sample as an unpaced read delivers it: signal,
// noise, clipping, quantization and calibration, against the identifying
// sawtooth without the converter. Long reads spread the per-call work of the
// driver (lock, bookkeeping, setting up each channel's signal) over many
// samples; short ones show it. Every kind of signal a rig can describe is
// measured on a channel of its own.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "daqmx/sim/NIDAQmxSimControl.h"

namespace {

constexpr int32 kLongRead = 10000;

// Reads `samples` per call from `channels` (`count` of them) at an aggregate
// 250 kS/s, unpaced.
void readSamples(benchmark::State& state, const char* channels, int count, int32 samples) {
    DAQmxSim_SetTimeScale(0.0);
    TaskHandle task = nullptr;
    if (DAQmxCreateTask("", &task) != 0 ||
        DAQmxCreateAIVoltageChan(task, channels, "", DAQmx_Val_RSE, -10, 10, DAQmx_Val_Volts,
                                 nullptr) != 0 ||
        DAQmxCfgSampClkTiming(task, nullptr, 250000.0 / count, DAQmx_Val_Rising,
                              DAQmx_Val_ContSamps, kLongRead) != 0 ||
        DAQmxStartTask(task) != 0) {
        state.SkipWithError("simulated task setup failed");
        DAQmxClearTask(task);
        return;
    }
    std::vector<float64> block(static_cast<std::size_t>(samples) * count);
    for (auto _ : state) {
        int32 read = 0;
        if (DAQmxReadAnalogF64(task, samples, 1.0, DAQmx_Val_GroupByChannel, block.data(),
                               static_cast<uInt32>(block.size()), &read, nullptr) != 0) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * samples * count);
    DAQmxClearTask(task);
}

// Arguments: channels (1 or 16), samples per read.
void realisticOrNot(benchmark::State& state, uInt32 realism) {
    DAQmxSim_Reset();
    DAQmxSim_SetRealism(realism);
    const auto channels = static_cast<int>(state.range(0));
    readSamples(state, channels == 1 ? "Dev1/ai0" : "Dev1/ai0:15", channels,
                static_cast<int32>(state.range(1)));
}

void BM_RealisticSamples(benchmark::State& state) {
    realisticOrNot(state, DAQMXSIM_REALISM_ALL);
}

void BM_IdentifyingSawtooth(benchmark::State& state) {
    realisticOrNot(state,
                   DAQMXSIM_REALISM_ALL & ~(DAQMXSIM_REALISTIC_SIGNALS | DAQMXSIM_CONVERTER));
}

// One channel per kind of signal, in this order, with a little noise on the
// periodic ones as a rig would describe a real source.
constexpr std::array<const char*, 6> kKinds{"sine",     "square", "triangle",
                                            "sawtooth", "noise",  "constant"};

std::string rigWithEveryKind() {
    std::string signals;
    for (std::size_t k = 0; k < kKinds.size(); ++k) {
        const std::string kind = kKinds[k];
        const bool periodic = kind != "noise" && kind != "constant";
        signals += (k == 0 ? "" : ", ") + std::string("\"ai") + std::to_string(k) +
                   "\": {\"kind\": \"" + kind + "\", \"amplitude\": 2, \"offset\": 0.5" +
                   (periodic ? ", \"frequency_hz\": 50, \"noise_rms\": 0.002" : "") + "}";
    }
    return R"({"devices": [{"name": "Rig1", "product_type": "USB-6211", "ai_channels": 6,
        "ai_max_single_chan_rate_hz": 250000, "ai_max_multi_chan_rate_hz": 250000,
        "ai_voltage_ranges": [[-10, 10]], "ai_signals": {)" +
           signals + "}}]}";
}

// Argument: the kind's index in kKinds.
void BM_RigSignal(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "sim_signals_bench_rig.json";
    std::ofstream(path) << rigWithEveryKind();
    DAQmxSim_Reset();
    const bool loaded = DAQmxSim_LoadDevices(path.string().c_str()) == 0;
    std::filesystem::remove(path);
    if (!loaded) {
        state.SkipWithError("rig not loaded");
        return;
    }
    const auto kind = static_cast<std::size_t>(state.range(0));
    state.SetLabel(kKinds[kind]);
    const std::string channel = "Rig1/ai" + std::to_string(kind);
    readSamples(state, channel.c_str(), 1, kLongRead);
}

}  // namespace

BENCHMARK(BM_RealisticSamples)->Args({1, kLongRead})->Args({16, kLongRead})->Args({16, 100});
BENCHMARK(BM_IdentifyingSawtooth)->Args({1, kLongRead})->Args({16, kLongRead})->Args({16, 100});
BENCHMARK(BM_RigSignal)->DenseRange(0, static_cast<int>(kKinds.size()) - 1);

BENCHMARK_MAIN();
