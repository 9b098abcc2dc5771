#!/usr/bin/env bash
# 64-bit ARM stage: cross-builds kolvexforlinux and its tests with
# g++-aarch64-linux-gnu, runs the tests under qemu-aarch64 (user mode), boots
# the emulated ARM machine (qemu-system-aarch64 -M virt, UEFI) and makes the
# arm64 Debian package. Installs what it needs when missing (as root).
#   scripts/stages/arm64.sh [MAIN_BUILD_DIR]   (the argument is not used)
# KOLVEX_ARM64_BUILD_DIR: the build tree (default build-arm64).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${KOLVEX_ARM64_BUILD_DIR:-build-arm64}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=${KOLVEX_JOBS:-$(nproc)}
start=$(date +%s)

scripts/install-deps.sh cmake make python3 googletest dpkg-dev file g++-aarch64-linux-gnu \
  qemu-user qemu-user-binfmt binfmt-support qemu-system-arm qemu-efi-aarch64 zstd lintian kmod \
  python3-venv python3-setuptools python3-wheel

# The target's own packages: the C and C++ runtimes (with the gconv modules
# that the GBK tests convert through) for qemu-aarch64, and the guest of the
# ARM machine (kernel and modules, busybox, the tools and their libraries).
# Downloaded into the build tree and unpacked there, never installed.
arm64_packages=(libc6 libstdc++6 libgcc-s1 busybox-static dmidecode lshw grep libpcre2-8-0)
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
  apt-get update -qq
fi
cache=$build/arm64-debs
root=$build/arm64-root
mkdir -p "$cache"
kernel_pkg=$(apt-cache depends linux-image-arm64:arm64 2>/dev/null |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^:]*\).*/\1/p' | head -n 1)
if [ -z "$kernel_pkg" ]; then
  apt-get update -qq
  kernel_pkg=$(apt-cache depends linux-image-arm64:arm64 |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^:]*\).*/\1/p' | head -n 1)
fi
download() { (cd "$cache" && apt-get download -qq -o APT::Sandbox::User=root "$1:arm64"); }
for pkg in "${arm64_packages[@]}" "$kernel_pkg"; do
  # Package lists older than the mirror name versions it no longer has.
  ls "$cache/${pkg}_"*_arm64.deb >/dev/null 2>&1 || download "$pkg" ||
    { apt-get update -qq && download "$pkg"; }
done
runtime=(libc6 libstdc++6 libgcc-s1)
if [ ! -e "$root/.unpacked" ] || [ -n "$(find "$cache" -newer "$root/.unpacked" -name '*.deb')" ]; then
  rm -rf "$root" "$build/arm64-pkgs"
  for deb in "$cache"/*.deb; do dpkg-deb -x "$deb" "$root"; done
  # The modules' dependency list is made on installation, so make it here.
  for moddir in "$root"/lib/modules/*; do depmod -b "$root" "${moddir##*/}"; done
  # The runtime packages once more with their control files (symbols),
  # one folder each, for dpkg-shlibdeps.
  mkdir -p "$build/arm64-pkgs"
  for pkg in "${runtime[@]}"; do dpkg-deb -R "$cache/${pkg}_"*_arm64.deb "$build/arm64-pkgs/$pkg"; done
  touch "$root/.unpacked"
fi
shlibs_dirs=""
for pkg in "${runtime[@]}"; do
  for d in lib usr/lib; do
    if [ -d "$build/arm64-pkgs/$pkg/$d/aarch64-linux-gnu" ]; then
      shlibs_dirs+="${shlibs_dirs:+;}$build/arm64-pkgs/$pkg/$d/aarch64-linux-gnu"
    fi
  done
done

# Tests that start the built program (an ARM executable) from a shell need
# the kernel to hand ARM executables to qemu-aarch64.
if ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-aarch64 2>/dev/null; then
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  update-binfmts --enable qemu-aarch64
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake" \
  -DKOLVEX_AARCH64_ROOT="$root" -DKOLVEX_DEB_LIBRARY_DIRS="$shlibs_dirs" \
  -DKOLVEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$jobs"

echo "-- unit tests under qemu-aarch64"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" -LE 'e2e|slow'

echo "-- emulated ARM machine"
status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -L e2e -V >"$build/e2e.log" 2>&1 ||
  status=$?
grep -E '^[0-9]+: (machine|kernel|guest ran|  |PASSED|FAILED|SKIP)|tests passed|Failed|Passed' \
  "$build/e2e.log" || true
[ $status -eq 0 ] || { echo "arm64 stage: e2e failed, see $build/e2e.log"; exit $status; }
# Everything the machine needs was installed above: a skip is a failure here.
if grep -q '^[0-9]*: SKIP' "$build/e2e.log"; then
  echo "arm64 stage: the ARM machine was skipped, see $build/e2e.log"
  exit 1
fi

# package.debian and package.lintian above built and checked them.
echo "-- arm64 Debian packages (scripts/package-deb.sh, in $build/deb-packages)"
for deb in "$build"/deb-packages/*.deb; do
  echo "${deb##*/}: $(dpkg-deb -f "$deb" Architecture) Depends: $(dpkg-deb -f "$deb" Depends)"
done
echo "arm64 stage: $(( $(date +%s) - start )) s"
