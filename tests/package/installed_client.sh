#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, builds the client project
# against it (CMake package, then pkg-config), runs it, and checks the
# Debian package's contents and dependencies.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/kolvexforlinux include/kolvex/kolvex.h lib/libkolvex.so lib/libkolvex.so.1 \
         lib/cmake/kolvex/kolvexConfig.cmake lib/pkgconfig/kolvex.pc; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
# The installed program finds its library without help.
env -u LD_LIBRARY_PATH PATH=/nonexistent "$work/prefix/bin/kolvexforlinux" 2>/dev/null | grep -q '^CollectData = \[2@'

# A cross-built tree: the client is built with the same toolchain and finds
# kolvex under the scratch prefix.
cross=()
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -z "$toolchain" ] || cross=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_FIND_ROOT_PATH="$work/prefix")

for mode in OFF ON; do
  cmake -S "$src/client" -B "$work/client-$mode" -DUSE_PKG_CONFIG=$mode \
    -DCMAKE_PREFIX_PATH="$work/prefix" "${cross[@]}" >/dev/null
  cmake --build "$work/client-$mode" >/dev/null
  PATH=/nonexistent LD_LIBRARY_PATH="$work/prefix/lib" \
    "$work/client-$mode/kolvex_client" 2>/dev/null | tail -n 1 | grep -qx 'client: ok' ||
    { echo "client built with USE_PKG_CONFIG=$mode failed"; exit 1; }
  echo "client (pkg-config $mode): ok"
done
