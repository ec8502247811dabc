// The cost of one simulated sample as an unpaced read delivers it: signal,
// noise, clipping, quantization and calibration, against the identifying
// sawtooth without the converter. Reads are large, so the per-call work of
// the driver (lock, bookkeeping) is spread over many samples.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "daqmx/sim/NIDAQmxSimControl.h"

namespace {

void readSamples(benchmark::State& state, uInt32 realism) {
    const auto channels = static_cast<int>(state.range(0));
    constexpr int32 kSamples = 10000;
    DAQmxSim_Reset();
    DAQmxSim_SetTimeScale(0.0);
    DAQmxSim_SetRealism(realism);
    TaskHandle task = nullptr;
    const char* list = channels == 1 ? "Dev1/ai0" : "Dev1/ai0:15";
    if (DAQmxCreateTask("", &task) != 0 ||
        DAQmxCreateAIVoltageChan(task, list, "", DAQmx_Val_RSE, -10, 10, DAQmx_Val_Volts,
                                 nullptr) != 0 ||
        DAQmxCfgSampClkTiming(task, nullptr, 250000.0 / channels, DAQmx_Val_Rising,
                              DAQmx_Val_ContSamps, kSamples) != 0 ||
        DAQmxStartTask(task) != 0) {
        state.SkipWithError("simulated task setup failed");
        return;
    }
    std::vector<float64> block(static_cast<std::size_t>(kSamples) * channels);
    for (auto _ : state) {
        int32 read = 0;
        if (DAQmxReadAnalogF64(task, kSamples, 1.0, DAQmx_Val_GroupByChannel, block.data(),
                               static_cast<uInt32>(block.size()), &read, nullptr) != 0) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * kSamples * channels);
    DAQmxClearTask(task);
}

void BM_RealisticSamples(benchmark::State& state) {
    readSamples(state, DAQMXSIM_REALISM_ALL);
}

void BM_IdentifyingSawtooth(benchmark::State& state) {
    readSamples(state, DAQMXSIM_REALISM_ALL & ~(DAQMXSIM_REALISTIC_SIGNALS | DAQMXSIM_CONVERTER));
}

}  // namespace

BENCHMARK(BM_RealisticSamples)->Arg(1)->Arg(16);
BENCHMARK(BM_IdentifyingSawtooth)->Arg(1)->Arg(16);

BENCHMARK_MAIN();
