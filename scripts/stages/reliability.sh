#!/usr/bin/env bash
# Reliability gates: the suite under ASan+UBSan, the concurrent callers under
# TSan, memcheck and soak, and a bounded run of every fuzzer.
# KOLVEX_FUZZ_SECONDS sets the time per fuzzer (default 30).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh clang libclang-rt-14-dev valgrind xxd
jobs=$(nproc)
main_build=${1:-build}

echo "-- ASan+UBSan: whole suite"
cmake -S . -B build-asan -DKOLVEX_SANITIZE="address;undefined" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'e2e|package'

echo "-- TSan: concurrent callers"
cmake -S . -B build-tsan -DKOLVEX_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target kolvex_linux_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/linux/kolvex_linux_tests \
  --gtest_filter='ConcurrentCallers.*:EntryPoints*:CollectionRun.*'

echo "-- memcheck and soak"
ctest --test-dir "$main_build" --output-on-failure -L slow -V | grep -E 'soak:|FILE DESCRIPTORS|ERROR SUMMARY|tests passed|Failed'
ctest --test-dir "$main_build" -L slow >/dev/null

echo "-- fuzzers"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKOLVEX_BUILD_FUZZERS=ON -DKOLVEX_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
scripts/fuzz.sh build-fuzz "${KOLVEX_FUZZ_SECONDS:-30}"
