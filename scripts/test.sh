#!/usr/bin/env bash
# Builds and runs the whole test suite: the Linux build, the sanitizer build,
# and every further stage under scripts/stages/ (64-bit ARM under QEMU,
# Windows under wine, the emulated machines, the reliability gates).
# KOLVEX_STAGES="NAME ...": the packages and the main build, then only those
# stages (no unit tests), e.g. to try one stage on a fresh machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build-essential cmake pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev \
  dmidecode lshw iproute2 file lintian man-db clang-format clang-tidy libc-l10n \
  python3 python3-venv python3-setuptools python3-wheel

# Fails early on code that is not laid out as .clang-format says.
scripts/check-format.sh

# Every build of the test command, stages included, treats warnings as errors.
export KOLVEX_WARNINGS_AS_ERRORS=ON
jobs=$(nproc)
cmake -S . -B build -DKOLVEX_BUILD_TESTS=ON -DKOLVEX_BUILD_BENCHMARKS=ON \
  -DKOLVEX_WARNINGS_AS_ERRORS=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build build -j"$jobs"
stages=()
if [ -n "${KOLVEX_STAGES:-}" ]; then
  for name in $KOLVEX_STAGES; do stages+=("scripts/stages/$name.sh"); done
else
  ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs" -LE 'e2e|slow'
  # The library's exports must not depend on the build type: the symbol test
  # once more on a Debug build of the library alone.
  cmake -S . -B build-debug -DCMAKE_BUILD_TYPE=Debug -DKOLVEX_BUILD_TESTS=ON \
    -DKOLVEX_BUILD_BENCHMARKS=OFF -DKOLVEX_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build build-debug --target kolvex -j"$jobs"
  ctest --test-dir build-debug --output-on-failure --no-tests=error -R '^package\.exported_symbols$'
  # The bindings stage packs the libraries the arm64 and windows stages
  # build: it runs last.
  stages=()
  for stage in scripts/stages/*.sh; do
    [ "$stage" = scripts/stages/bindings.sh ] || stages+=("$stage")
  done
  stages+=(scripts/stages/bindings.sh)
fi

for stage in "${stages[@]}"; do
  [ -e "$stage" ] || { echo "test: no stage $stage" >&2; exit 2; }
  echo "== ${stage##*/}"
  bash "$stage" build
done
