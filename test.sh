#!/usr/bin/env bash
# Builds and runs the whole test suite: installs the Debian packages it needs
# when they are missing, builds and runs every test, runs the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs every fuzzer.
#   QX_FUZZ_SECONDS  seconds per fuzzer (default 60; 0 skips fuzzing)
#   QX_JOBS          parallel build and test jobs (default: number of cores)
set -euo pipefail
cd "$(dirname "$0")"

jobs=${QX_JOBS:-$(nproc)}
fuzz_seconds=${QX_FUZZ_SECONDS:-60}

. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
    libbenchmark-dev util-linux tzdata

echo "== build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
echo "== test"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== build with sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON -DQX_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
echo "== test with sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure

if [ "$fuzz_seconds" -gt 0 ]; then
    echo "== build fuzzers"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_FUZZ=ON >/dev/null
    cmake --build build-fuzz -j "$jobs"
    for fuzzer in build-fuzz/fuzz/*_fuzz; do
        [ -x "$fuzzer" ] || continue
        name=$(basename "$fuzzer")
        corpus=$(mktemp -d)
        scratch=$(mktemp -d)  # the fuzzer's own files, gone with it
        [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
        echo "== fuzz $name for ${fuzz_seconds}s"
        if ! TMPDIR=$scratch "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=0 -artifact_prefix="build-fuzz/$name-" \
                "$corpus" >"build-fuzz/$name.log" 2>&1; then
            tail -n 60 "build-fuzz/$name.log"
            echo "fuzzer $name found a fault (input saved as build-fuzz/$name-*)"
            rm -rf "$corpus" "$scratch"
            exit 1
        fi
        rm -rf "$corpus" "$scratch"
        tail -n 2 "build-fuzz/$name.log"
    done
fi
echo "== all tests passed"
