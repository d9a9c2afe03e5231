// Writing one full step of 4096 values into a day file with the direct
// writer (file already open, as the data server keeps it), against one
// pread and one pwrite of that row in the same run.
// Goal: the direct writer takes at most 3 times the bare row read and write.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_bench.hpp"
#include "qx.h"

namespace {

using namespace archive_bench;

struct Setup {
    ArchiveDir archive;
    VelmoSystem& sys = archive.sys;
    std::vector<int32_t> tags;
    std::vector<double> values;
    double time = 0;
    std::string path;

    Setup() {
        time_velmo tv{2024, 3, 15, 10, 15, 0};
        time = TimeToJul(tv);
        tags.resize(kTags);
        values.resize(kTags);
        for (int i = 0; i < kTags; ++i) {
            tags[size_t(i)] = i + 1;
            values[size_t(i)] = i * 0.25;
        }
        QXDB db{};
        WriteArchivQX2(&db, time, kTags, &sys, tags.data(), values.data());
        path = db.Path;
        QXDBClose2(&db, 0);
    }
};

Setup& Fixture() {
    static Setup setup;
    return setup;
}

double g_bare_ns = 0;
double g_writer_ns = 0;

void BM_PreadPwriteOfTheRow(benchmark::State& state) {
    Setup& s = Fixture();
    const int fd = open(s.path.c_str(), O_RDWR);
    std::vector<char> row(size_t(kTags) * 8);
    const off_t pos = 544 + off_t(41) * kTags * 8;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (pread(fd, row.data(), row.size(), pos) != ssize_t(row.size())) state.SkipWithError("pread");
        row[0] ^= 1;
        if (pwrite(fd, row.data(), row.size(), pos) != ssize_t(row.size())) state.SkipWithError("pwrite");
    }
    g_bare_ns = qx_bench::NanosPerIteration(begin, state);
    close(fd);
}

void BM_WriteArchivQX2FullStep(benchmark::State& state) {
    Setup& s = Fixture();
    QXDB db{};
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        s.values[0] += 1;
        WriteArchivQX2(&db, s.time, kTags, &s.sys, s.tags.data(), s.values.data());
    }
    g_writer_ns = qx_bench::NanosPerIteration(begin, state);
    QXDBClose2(&db, 0);
}

BENCHMARK(BM_PreadPwriteOfTheRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteArchivQX2FullStep)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qx_bench::RunBenchmarks(&argc, argv)) return 1;
    qx_bench::PrintRatio("WriteArchivQX2 full step / pread+pwrite of the row", g_writer_ns, g_bare_ns, 3.0);
    return 0;
}
