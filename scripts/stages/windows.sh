#!/bin/bash
# Windows stage: cross-builds the Windows side, kolvexforWindows.exe,
# kolvex.dll and their tests, with mingw-w64 for x64 and for x86, makes the
# ZIPs (release and debug, win64 and win32) and runs the tests under wine:
# the x64 build's, whose end-to-end runs start the x86 program and clients on
# the same machines too, then the x86 build's own (run from the repository
# root or anywhere inside it). Installs the toolchains, wine (64 and 32 bit:
# the i386 architecture) and the LLVM tools when missing and allowed (root).
# Exits non-zero when anything fails.
#   KOLVEX_WINDOWS_BUILD_DIR, KOLVEX_WINDOWS_X86_BUILD_DIR: the build trees
#   (default build-windows and build-windows-x86).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
build=${KOLVEX_WINDOWS_BUILD_DIR:-build-windows}
build_x86=${KOLVEX_WINDOWS_X86_BUILD_DIR:-build-windows-x86}
jobs=${KOLVEX_JOBS:-2}
start=$(date +%s)

# wine32 is an i386 package. clang, lld and llvm: the MSVC-style client and
# kolvex.lib (llvm-dlltool).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if [ "$(id -u)" != 0 ]; then
    echo "windows stage: the i386 architecture (for wine32) is missing and not root to add it" >&2
    exit 1
  fi
  dpkg --add-architecture i386
fi
scripts/install-deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386 \
  googletest iproute2 libc-bin cmake make clang lld llvm
for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix wine clang lld-link \
  llvm-dlltool ip iconv cmake; do
  command -v "$tool" >/dev/null || { echo "windows stage: $tool missing" >&2; exit 1; }
done
# The 32-bit and the 64-bit loader (packages wine32, wine64).
for loader in wine wine64; do
  [ -x /usr/lib/wine/$loader ] || { echo "windows stage: /usr/lib/wine/$loader missing" >&2; exit 1; }
done

# x86 first: the x64 build's end-to-end tests take its program and clients.
cmake -S . -B "$build_x86" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
cmake --build "$build_x86" -j "$jobs"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
  -DKOLVEX_WINDOWS_X86_DIR="$(cd "$build_x86" && pwd)"
cmake --build "$build" -j "$jobs"
# The ZIPs for Windows users: release and debug, win64 and win32.
(cd "$build" && cpack -G ZIP)
(cd "$build_x86" && cpack -G ZIP)
echo "windows stage: built in $(($(date +%s) - start)) s"

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
# The x86 build's own tests; its end-to-end runs were part of the x64 ones.
ctest --test-dir "$build_x86" --output-on-failure -E '^windows\.e2e\.' | tee "$build_x86/ctest.log"
# Root can make every sandbox, and the stage installed the rest: a skip
# here would only hide that the program under wine went untested.
for tree in "$build" "$build_x86"; do
  if [ "$(id -u)" = 0 ] && grep -q '(Skipped)$' "$tree/ctest.log"; then
    echo "windows stage: tests skipped as root; ctest --test-dir $tree -V -R sandbox tells why" >&2
    exit 1
  fi
done
echo "windows stage: done in $(($(date +%s) - start)) s"
