#!/usr/bin/env bash
# Builds kolvexforlinux in build-run/ and runs one collection (GBK output;
# see README); its arguments go to the program, e.g. scripts/run.sh --explain.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build-essential cmake dmidecode lshw
cmake -S . -B build-run -DKOLVEX_BUILD_TESTS=OFF -DKOLVEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-run -j"$(nproc)" --target kolvexforlinux >/dev/null
exec build-run/linux/kolvexforlinux "$@"
