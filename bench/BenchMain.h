#pragma once

#include <benchmark/benchmark.h>

namespace bench {

/// What BENCHMARK_MAIN does, for programs that register benchmarks of their
/// own at run time before they run.
inline int runRegistered(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
