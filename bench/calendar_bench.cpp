// UTCToLocalTime with a daylight rule; goal: at least 5 million conversions
// per second.  The operating system's own conversion (localtime_r in
// Europe/Berlin) runs beside it as the reference.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "qx.h"
#include "../tests/lib/calendar_example_zone.hpp"

namespace {

using qx_test::ExampleZone;

constexpr double kGoalPerSecond = 5e6;
constexpr size_t kSamples = 4096;  // a power of two

// UTC instants spread over 2000..2037, so every year's rule is worked out.
std::vector<time_t> SampleEpochs() {
    std::vector<time_t> epochs(kSamples);
    const time_t first = 946684800;
    const time_t span = 2145916800 - first;
    for (size_t i = 0; i < kSamples; ++i) epochs[i] = first + static_cast<time_t>(i * 2654435761u % span);
    return epochs;
}

void BM_UTCToLocalTime(benchmark::State& state) {
    const KWZ_TimeZoneRecord zone = ExampleZone();
    std::vector<double> times;
    for (time_t e : SampleEpochs()) times.push_back(25569.0 + static_cast<double>(e) / 86400.0);
    size_t i = 0;
    for (auto _ : state) {
        int dst;
        double local = UTCToLocalTime(zone, &dst, times[i++ & (kSamples - 1)]);
        benchmark::DoNotOptimize(local);
        benchmark::DoNotOptimize(dst);
    }
    state.counters["conversions/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_UTCToLocalTime);

void BM_localtime_r_reference(benchmark::State& state) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const std::vector<time_t> epochs = SampleEpochs();
    size_t i = 0;
    for (auto _ : state) {
        struct tm local;
        localtime_r(&epochs[i++ & (kSamples - 1)], &local);
        benchmark::DoNotOptimize(local);
    }
    state.counters["conversions/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_localtime_r_reference);

// Keeps the rates so that the goal can be stated after the table.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("conversions/s");
            if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.rates["BM_UTCToLocalTime"];
    const double reference = reporter.rates["BM_localtime_r_reference"];
    if (ours > 0) {
        std::printf("UTCToLocalTime: %.2f million conversions/s (goal %.0f million: %s)",
                    ours / 1e6, kGoalPerSecond / 1e6, ours >= kGoalPerSecond ? "met" : "MISSED");
        if (reference > 0) std::printf(", %.2f x localtime_r (%.2f million/s)", ours / reference, reference / 1e6);
        std::printf("\n");
    }
    benchmark::Shutdown();
    return 0;
}
