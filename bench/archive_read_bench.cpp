// Reading a whole day of 4096 tags (inter 900, 96 rows) with ReadArchivUTC,
// against reading the same day file with one read() in the same run.
// Goal: the archive read takes at most 3 times the bare read.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_bench.hpp"
#include "qx.h"

namespace {

using namespace archive_bench;

struct DayFile {
    ArchiveDir archive;
    VelmoSystem& sys = archive.sys;
    std::vector<int32_t> tags;
    double day = 0;
    std::string path;

    DayFile() {
        time_velmo tv{2024, 3, 15, 0, 0, 0};
        day = TimeToJul(tv);
        tags.resize(kTags);
        std::vector<double> values(kTags);
        for (int i = 0; i < kTags; ++i) tags[size_t(i)] = i + 1;
        QXDB db{};
        for (int row = 0; row < 96; ++row) {
            for (int i = 0; i < kTags; ++i) values[size_t(i)] = row * 10000.0 + i;
            WriteArchivQX2(&db, day + row * 900 / 86400.0, kTags, &sys, tags.data(), values.data());
        }
        path = db.Path;
        QXDBClose2(&db, 0);
    }
};

DayFile& Fixture() {
    static DayFile file;
    return file;
}

// Monitor lines of the reader go to /dev/null while a benchmark runs.
struct QuietStdout {
    int saved;
    QuietStdout() {
        std::fflush(stdout);
        saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

double g_read_ns = 0;
double g_archive_ns = 0;

void BM_OneReadOfTheDayFile(benchmark::State& state) {
    DayFile& f = Fixture();
    const auto size = std::filesystem::file_size(f.path);
    std::vector<char> buffer(size);
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const int fd = open(f.path.c_str(), O_RDONLY);
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        close(fd);
        if (got != ssize_t(size)) state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.data());
    }
    g_read_ns = qx_bench::NanosPerIteration(begin, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_ReadArchivUTCWholeDay(benchmark::State& state) {
    DayFile& f = Fixture();
    double* table = nullptr;
    int32_t rows = 0;
    QuietStdout quiet;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ReadArchivUTC(f.day, f.day + 95 * 900 / 86400.0, &f.sys, nullptr, kTags, f.tags.data(), &rows, &table);
        if (rows != 96 || table[95 * kTags + 17] != 950017.0) state.SkipWithError("wrong result");
        benchmark::DoNotOptimize(table);
    }
    g_archive_ns = qx_bench::NanosPerIteration(begin, state);
    std::free(table);
}

BENCHMARK(BM_OneReadOfTheDayFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadArchivUTCWholeDay)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qx_bench::RunBenchmarks(&argc, argv)) return 1;
    qx_bench::PrintRatio("ReadArchivUTC whole day / one read()", g_archive_ns, g_read_ns, 3.0);
    return 0;
}
