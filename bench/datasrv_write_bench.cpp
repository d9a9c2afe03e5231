// The data server writing one received full step (4096 values) into its day
// file, the file kept open as the server keeps it, against one pread and one
// pwrite of that row in the same run.  Goal: at most 3 times the bare row
// read and write.  Afterwards 10 000 further steps show whether the server's
// resident memory grows.
//
// The server's database lives in SysV shared memory: the benchmark runs in a
// private IPC namespace (root) and a temporary QX_ROOT, so it never meets a
// real installation.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_goal.hpp"
#include "qx.h"
#include "shm_data.hpp"

namespace {

namespace fs = std::filesystem;
constexpr int kTags = QX_N_TAG;
constexpr int kRows = 96;  // inter 900

struct Setup {
    fs::path root;
    std::vector<uint8_t> body;  // one received message: time, count, tags, values
    std::vector<double> times;  // the day's 96 slot times
    std::string day_file;
    bool ready = false;

    Setup() {
        if (unshare(CLONE_NEWIPC) != 0) {
            std::perror("unshare(CLONE_NEWIPC)");
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "qx-datasrv-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        root = pattern;
        fs::create_directories(root / "home/kwz/log");
        fs::create_directories(root / "archiv");
        setenv("QX_ROOT", root.c_str(), 1);
        const fs::path config = root / "home/kwz/ra_vuvuvizi.ini";
        std::ofstream(config) << "[Init]\nDir_Archiv=" << (root / "archiv").string() << "\nInter=900\n";
        rMsq = sMsq{-1, QX_KEY_LOG_QUEUE};
        openMsg(&rMsq);
        Qx_Init(QX_CONFIG_NAME, config.c_str());

        const double day = TimeToJul(time_velmo{2024, 3, 15, 0, 0, 0});
        for (int r = 0; r < kRows; ++r) times.push_back(day + r * 900.0 / 86400.0);
        body.assign(16 + size_t(kTags) * 12 + 4, 0);
        const int64_t count = kTags;
        std::memcpy(body.data() + 8, &count, 8);
        for (int i = 0; i < kTags; ++i) {
            const int32_t tag = i + 1;
            const double value = i * 0.25;
            std::memcpy(body.data() + 16 + 4 * size_t(i), &tag, 4);
            std::memcpy(body.data() + 16 + 4 * size_t(kTags) + 8 * size_t(i), &value, 8);
        }
        day_file = (root / "archiv" / "20240315.DATA").string();
        ready = true;
    }
    ~Setup() {
        if (!root.empty()) fs::remove_all(root);
    }

    void SetTime(double t) { std::memcpy(body.data(), &t, 8); }
};

Setup& Fixture() {
    static Setup setup;
    return setup;
}

datasrv::ArchivHandles g_handles{};

// The success line of every step goes to the log queue, which no supervisor
// empties here.
void DrainLog() {
    QX_LogMsg message{};
    int32_t length = QX_LOG_RECORD_LEN;
    while (rcvMsg(&rMsq, &message, &length) > 0) length = QX_LOG_RECORD_LEN;
}

int WriteStep(Setup& s, int i) {
    s.SetTime(s.times[size_t(i % kRows)]);
    return datasrv::HandleArchiveMessage(g_handles, QX_ARCHIV_VALUES, s.body);
}

double g_bare_ns = 0;
double g_server_ns = 0;

void BM_PreadPwriteOfTheRow(benchmark::State& state) {
    Setup& s = Fixture();
    if (!s.ready || WriteStep(s, 0) != 0) {
        state.SkipWithError("no database");
        return;
    }
    const int fd = open(s.day_file.c_str(), O_RDWR);
    std::vector<char> row(size_t(kTags) * 8);
    int i = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const off_t pos = QX_ARCHIV_HEADER_SIZE + off_t(i++ % kRows) * kTags * 8;
        if (pread(fd, row.data(), row.size(), pos) != ssize_t(row.size())) state.SkipWithError("pread");
        row[0] ^= 1;
        if (pwrite(fd, row.data(), row.size(), pos) != ssize_t(row.size())) state.SkipWithError("pwrite");
    }
    g_bare_ns = qx_bench::NanosPerIteration(begin, state);
    close(fd);
}

void BM_DataServerFullStep(benchmark::State& state) {
    Setup& s = Fixture();
    if (!s.ready) {
        state.SkipWithError("no database");
        return;
    }
    int i = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (WriteStep(s, i++) != 0) state.SkipWithError("write");
        // The log queue holds 30 lines; empty it now and then, off the clock.
        if (i % 16 == 0) {
            state.PauseTiming();
            DrainLog();
            state.ResumeTiming();
        }
    }
    g_server_ns = qx_bench::NanosPerIteration(begin, state);
    DrainLog();
}

BENCHMARK(BM_PreadPwriteOfTheRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DataServerFullStep)->Unit(benchmark::kMicrosecond);

long ResidentKiB() {
    long pages_total = 0;
    long pages_resident = 0;
    std::ifstream("/proc/self/statm") >> pages_total >> pages_resident;
    return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Resident memory before and after 10 000 further steps, after a warm-up
// that has touched every buffer the path uses.
void MeasureMemoryGrowth() {
    Setup& s = Fixture();
    if (!s.ready) return;
    for (int i = 0; i < 200; ++i) {
        WriteStep(s, i);
        DrainLog();
    }
    const long before = ResidentKiB();
    for (int i = 0; i < 10000; ++i) {
        WriteStep(s, i);
        DrainLog();
    }
    const long after = ResidentKiB();
    std::printf("data server resident memory over 10000 steps: %ld KiB -> %ld KiB (growth %ld KiB)\n", before, after,
                after - before);
}

}  // namespace

int main(int argc, char** argv) {
    if (!qx_bench::RunBenchmarks(&argc, argv)) return 1;
    qx_bench::PrintRatio("data server full step / pread+pwrite of the row", g_server_ns, g_bare_ns, 3.0);
    MeasureMemoryGrowth();
    for (QXDB& handle : g_handles) QXDBClose2(&handle, 0);
    return 0;
}
