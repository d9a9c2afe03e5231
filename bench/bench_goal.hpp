// Pieces every goal benchmark shares: the mean wall time per iteration of a
// timed loop, the run of the registered benchmarks, and the printed ratio of
// a measurement to the reference measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace qx_bench {

// Nanoseconds per iteration of the loop over state that began at begin.
inline double NanosPerIteration(std::chrono::steady_clock::time_point begin, const benchmark::State& state) {
    const auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count();
    return state.iterations() ? ns / double(state.iterations()) : 0;
}

// Runs the registered benchmarks as Google Benchmark's own main does; false
// when the command line holds arguments it does not know.
inline bool RunBenchmarks(int* argc, char** argv) {
    benchmark::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return true;
}

// Prints "<what>: <ours / reference> (goal <= <goal>)" once both were measured.
inline void PrintRatio(const char* what, double ours, double reference, double goal) {
    if (ours > 0 && reference > 0) std::printf("%s: %.2f (goal <= %.2f)\n", what, ours / reference, goal);
}

}  // namespace qx_bench
