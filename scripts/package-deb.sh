#!/usr/bin/env bash
# Builds the Debian packages libkolvex1, libkolvex-dev and kolvex (and their
# -dbgsym packages) from this source tree, with optimisation and debug
# symbols, installed under /usr.
# Usage: scripts/package-deb.sh [BUILD_DIR [OUTPUT_DIR [CMAKE_ARG...]]]
#   (default build-deb); e.g. the arm64 packages with
#   -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake (docs/arm.md);
#   options and variables: docs/building.md.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build-deb}")
out=$(realpath -m "${2:-$build}")
shift $(($# < 2 ? $# : 2))
jobs=${KOLVEX_JOBS:-2}
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKOLVEX_BUILD_TESTS=OFF -DKOLVEX_BUILD_BENCHMARKS=OFF "$@" >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
ls "$out"/*.deb "$out"/*.ddeb 2>/dev/null
