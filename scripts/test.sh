#!/usr/bin/env bash
# Builds and runs the whole test suite: the Linux build, the sanitizer build,
# and every further stage under scripts/stages/ (64-bit ARM under QEMU,
# Windows under wine, the emulated machines, the reliability gates).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build-essential cmake pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev \
  dmidecode lshw iproute2 file lintian man-db clang-format clang-tidy \
  python3 python3-venv python3-setuptools python3-wheel

# Fails early on code that is not laid out as .clang-format says.
scripts/check-format.sh

# Every build of the test command, stages included, treats warnings as errors.
export KOLVEX_WARNINGS_AS_ERRORS=ON
jobs=$(nproc)
cmake -S . -B build -DKOLVEX_BUILD_TESTS=ON -DKOLVEX_BUILD_BENCHMARKS=ON \
  -DKOLVEX_WARNINGS_AS_ERRORS=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs" -LE 'e2e|slow'

for stage in scripts/stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "== ${stage##*/}"
  bash "$stage" build
done
