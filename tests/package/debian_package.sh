#!/usr/bin/env bash
# Builds the Debian package of the build tree and checks what it installs.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for dep in dmidecode lshw; do
  grep -qw "$dep" <<<"$depends" || { echo "Depends lacks $dep: $depends"; exit 1; }
done
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/kolvexforlinux usr/include/kolvex/kolvex.h usr/lib/libkolvex.so.1 \
         usr/lib/cmake/kolvex/kolvexConfig.cmake usr/lib/pkgconfig/kolvex.pc; do
  [ -e "$work/root/$f" ] || { echo "package lacks $f"; exit 1; }
done
PATH=/nonexistent "$work/root/usr/bin/kolvexforlinux" 2>/dev/null | grep -q '^CollectData = \[2@'
echo "$(basename "$deb"): Depends: $depends"
