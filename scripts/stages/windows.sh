#!/bin/bash
# Windows stage: cross-builds kolvexforWindows.exe and its tests with
# mingw-w64, makes the ZIP and runs the tests under wine (run from the
# repository root or anywhere inside it). Installs the toolchain and wine when missing and
# allowed (root). Exits non-zero when anything fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
build=${KOLVEX_WINDOWS_BUILD_DIR:-build-windows}
jobs=${KOLVEX_JOBS:-2}

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine64 wine)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
command -v ip >/dev/null || need+=(iproute2)
command -v iconv >/dev/null || need+=(libc-bin)
command -v cmake >/dev/null || need+=(cmake)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "windows stage: missing ${need[*]} and not root to install them" >&2
    exit 1
  fi
  echo "windows stage: installing ${need[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" make
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
cmake --build "$build" -j "$jobs"
# The ZIP for Windows users: program, README, licence.
(cd "$build" && cpack -G ZIP)

# A headless wine prefix of our own. Its background processes (wineserver,
# services, winedevice) are started here with every standard handle on
# /dev/null: they outlive the tests, and would otherwise hold CTest's output
# pipes open.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/kolvex-wine.XXXXXX)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
# Once written out completely, the prefix is the base of the sandboxes.
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure | tee "$build/ctest.log"
# Root can make every sandbox, and the stage installed the rest: a skip
# here would only hide that the program under wine went untested.
if [ "$(id -u)" = 0 ] && grep -q '(Skipped)$' "$build/ctest.log"; then
  echo "windows stage: tests skipped as root; ctest --test-dir $build -V -R sandbox tells why" >&2
  exit 1
fi
