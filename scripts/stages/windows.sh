#!/bin/bash
# Windows stage: cross-builds the Windows side, kolvexforWindows.exe,
# kolvex.dll and their tests, with mingw-w64 for x64 and for x86, makes the
# ZIPs (release and debug, win64 and win32) and runs the tests under wine:
# the x64 build's under the 64-bit loader, whose end-to-end runs start the x86
# program and clients on the same machines too, then the x86 build's own
# under the 32-bit loader (run from the repository root or anywhere inside
# it). Where the kernel executes no 32-bit x86 program (some hypervisors give
# their guests no 32-bit mode), the x86 side is built, packed and checked
# without being run, and the stage says so in one line. Installs the
# toolchains, wine (64 and 32 bit: the i386 architecture) and the LLVM tools
# when missing and allowed (root). Exits non-zero when anything fails.
#   KOLVEX_WINDOWS_BUILD_DIR, KOLVEX_WINDOWS_X86_BUILD_DIR: the build trees
#   (default build-windows and build-windows-x86).
#   KOLVEX_WINDOWS_X86_RUN=no: take the path of a kernel without 32-bit
#   programs on any machine (default auto: ask the kernel).
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
# The 32-bit and the 64-bit loader (packages wine32, wine64), and the
# 64-bit wineserver. Each is started by its own path: Debian's wine command
# takes the 32-bit loader whenever wine32 is installed.
wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
for loader in "$wine32" "$wine64" "$WINESERVER"; do
  [ -x "$loader" ] || { echo "windows stage: $loader missing" >&2; exit 1; }
done

# Does this kernel execute 32-bit x86 programs? The 32-bit loader answers
# --version where it does; the shell reports "Exec format error" (126) where
# it does not. Any other answer is a fault of the installation.
x86_run=yes
case ${KOLVEX_WINDOWS_X86_RUN:-auto} in
  no) x86_run="no: KOLVEX_WINDOWS_X86_RUN=no" ;;
  auto)
    if ! probe=$(bash -c '"$0" --version' "$wine32" 2>&1 </dev/null); then
      case $probe in
        *"Exec format error"*) x86_run="no: this kernel cannot execute 32-bit x86 programs" ;;
        *) echo "windows stage: $wine32 --version failed: $probe" >&2; exit 1 ;;
      esac
    fi ;;
  *) echo "windows stage: KOLVEX_WINDOWS_X86_RUN is auto or no, not '$KOLVEX_WINDOWS_X86_RUN'" >&2; exit 2 ;;
esac

# x86 first: the x64 build's end-to-end tests take its program and clients
# where x86 programs run here. It is a Release build, as packagers configure
# one, the x64 build the default type: the image check holds for both.
cmake -S . -B "$build_x86" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release
cmake --build "$build_x86" -j "$jobs"
x86_sides=
[ "$x86_run" != yes ] || x86_sides=$(cd "$build_x86" && pwd)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
  -DKOLVEX_WINDOWS_X86_DIR="$x86_sides"
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
wineserver() { "$WINESERVER" "$@"; }
wineserver -p </dev/null >/dev/null 2>&1
"$wine64" wineboot </dev/null >/dev/null 2>&1
# Once written out completely, the prefix is the base of the sandboxes.
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
"$wine64" wineboot </dev/null >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure | tee "$build/ctest.log"
trees=("$build")
if [ "$x86_run" = yes ]; then
  # The x86 build's own tests; its end-to-end runs were part of the x64 ones.
  ctest --test-dir "$build_x86" --output-on-failure -E '^windows\.e2e\.' | tee "$build_x86/ctest.log"
  trees+=("$build_x86")
else
  # Not run, but checked as shipped: PE32 images for i386 that import only
  # system DLLs, kolvex.dll exporting exactly kolvex.def's names, stripped
  # with debug links that find their debug information, the ZIPs, and the
  # client linked by lld-link against the x86 kolvex.lib.
  ctest --test-dir "$build_x86" --output-on-failure --no-tests=error -R '^windows\.program_image$' |
    tee "$build_x86/ctest.log"
  echo "windows stage: x86 programs not run: ${x86_run#no: } (the x86 images, ZIPs and linked client checked without running them)"
fi
# Root can make every sandbox, and the stage installed the rest: a skip
# here would only hide that the program under wine went untested.
for tree in "${trees[@]}"; do
  if [ "$(id -u)" = 0 ] && grep -q '(Skipped)$' "$tree/ctest.log"; then
    echo "windows stage: tests skipped as root; ctest --test-dir $tree -V -R sandbox tells why" >&2
    exit 1
  fi
done
echo "windows stage: done in $(($(date +%s) - start)) s"
