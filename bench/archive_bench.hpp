// Shared pieces of the archive benchmarks: a temporary archive directory
// with its system record.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench_goal.hpp"
#include "qx.h"

namespace archive_bench {

inline constexpr int kTags = 4096;

struct ArchiveDir {
    std::filesystem::path dir;
    VelmoSystem sys{};

    ArchiveDir() {
        char pattern[] = "/tmp/qx-archive-bench-XXXXXX";
        dir = mkdtemp(pattern);
        sys.inter = 900;
        sys.stoer_takt = 60;
        std::snprintf(sys.dir_archiv, sizeof sys.dir_archiv, "%s", dir.c_str());
    }
    ~ArchiveDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

}  // namespace archive_bench
