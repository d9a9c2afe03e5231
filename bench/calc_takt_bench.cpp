// One cycle of the computing core over a fully configured tag database,
// against one plain pass that reads every tag record once (a copy of the
// tag table).  Goal: at most 2x that pass, and no heap allocation during a
// cycle (counted through replaced allocation functions; any allocation fails
// the benchmark).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core_io.hpp"
#include "bench_goal.hpp"
#include "kern.hpp"
#include "qx/records.h"
#include "values.hpp"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void Count() {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t size) {
    Count();
    return __libc_realloc(p, size);
}
extern "C" void free(void* p) { __libc_free(p); }

void* operator new(size_t size) {
    Count();
    if (void* p = __libc_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }

namespace {

using calc::kNan;

// A plant-like mix: raw copies and scalings, counters, arithmetic, limits and
// alarms, integrators, statistics, expressions, formula tags, external values
// and unused tags.
struct Database {
    VelmoSystem sys{};
    std::vector<Tags> tags = std::vector<Tags>(QX_TAG_RECORDS);
    std::vector<Rohwerte> roh = std::vector<Rohwerte>(QX_ROH_RECORDS);
    std::vector<int32_t> alarms = std::vector<int32_t>(QX_N_TAG);
    int32_t alarm_count = 0;

    Database() {
        sys.takt = 5;
        sys.inter = 180;
        sys.n_tag = QX_N_TAG;
        sys.n_roh = QX_N_ROH;
        sys.roh_skal = 1.0;
        std::memset(tags.data(), 0xFF, tags.size() * sizeof(Tags));
        for (int r = 0; r <= QX_N_ROH; ++r) {
            Rohwerte& raw = roh[static_cast<size_t>(r)];
            std::memset(&raw, 0, sizeof raw);
            raw.Ist = r * 0.5;
            raw.ValidUntil = r % 3 == 0 ? QX_VALID_FOREVER : 4000000000u;
        }
        static constexpr int kMix[20] = {3, 3, 3, 3, 4, 4, 7, 10, 11, 12, 13, 14, 35, 45, 50, 47, 61, 60, 1, 0};
        for (int i = 0; i <= QX_N_TAG; ++i) Configure(i, kMix[i % 20]);
    }

    void Configure(int i, int fkt) {
        Tags& t = tags[static_cast<size_t>(i)];
        t.Fkt = fkt;
        t.Status = 0;
        t.Ist = i;
        t.Anz = 0;
        t.Summe = kNan;
        t.Mittel = 0;
        std::memset(t.Arch, 0, sizeof t.Arch);
        std::memset(t.HByte, 1, sizeof t.HByte);
        std::memset(t.Hint, 0, sizeof t.Hint);
        std::memset(t.HLog, 1, sizeof t.HLog);
        for (int k = 0; k < 10; ++k) t.Hdouble[k] = k + 1.0;
        for (int k = 0; k < 5; ++k) t.Zeiger[k] = i > 20 ? i - 1 - 3 * k : 0;
        t.Hint[0] = i % QX_N_ROH + 1;
        t.Hint[9] = fkt == 60 ? 1 : 60;
        if (fkt == 61) {
            t.HLog[0] = '+';
            t.HLog[1] = '*';
            t.HLog[2] = '-';
            t.HLog[3] = '/';
        }
    }

    void Cycle(int32_t sec) {
        VelmoTakt(sec, &sys, tags.data(), roh.data(), &alarm_count, alarms.data(), calc_test_day + sec / 86400.0);
    }
    static constexpr double calc_test_day = 45292.0;
};

Database& Db() {
    static Database db;
    return db;
}

double g_cycle_ns = 0;
double g_copy_ns = 0;

void BM_CopyTagTable(benchmark::State& state) {
    Database& db = Db();
    std::vector<Tags> copy(db.tags.size());
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::memcpy(copy.data(), db.tags.data(), db.tags.size() * sizeof(Tags));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    g_copy_ns = qx_bench::NanosPerIteration(begin, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(db.tags.size() * sizeof(Tags)));
}

void BM_VelmoTakt(benchmark::State& state) {
    Database& db = Db();
    int32_t sec = 0;
    g_counting = true;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        db.Cycle(sec);
        sec = (sec + 5) % 86400;
        benchmark::ClobberMemory();
    }
    g_cycle_ns = qx_bench::NanosPerIteration(begin, state);
    g_counting = false;
    if (g_allocations.load() != 0) state.SkipWithError("heap allocation during the cycle");
    state.counters["allocations"] = static_cast<double>(g_allocations.load());
}

BENCHMARK(BM_CopyTagTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VelmoTakt)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qx_bench::RunBenchmarks(&argc, argv)) return 1;
    if (g_copy_ns > 0 && g_cycle_ns > 0)
        std::printf("VelmoTakt over 4097 tags / copy of the tag table: %.2f (goal <= 2.00); heap allocations in the cycle: %ld\n",
                    g_cycle_ns / g_copy_ns, g_allocations.load());
    return g_allocations.load() == 0 ? 0 : 1;
}
