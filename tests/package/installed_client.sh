#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, builds the client project
# against it (CMake package, then pkg-config) and runs it; installs the
# Python module with pip, offline, as a user would.
set -euo pipefail
build=$1
. "$(dirname "$0")/build_client.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/kolvexforlinux include/kolvex/kolvex.h include/kolvex/kolvex_c.h lib/libkolvex.so lib/libkolvex.so.1 \
         lib/cmake/kolvex/kolvexConfig.cmake lib/pkgconfig/kolvex.pc share/man/man1/kolvexforlinux.1.gz; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
# The installed program finds its library without help.
env -u LD_LIBRARY_PATH PATH=/nonexistent "$work/prefix/bin/kolvexforlinux" 2>/dev/null | grep -q '^CollectData = \[2@'

cross_build_args "$build"
build_client "$work" "$work/prefix"

# The distribution's setuptools builds it (no build isolation, so no index
# is needed), in a scratch copy of its own: the tree stays as it was.
src=$(cd "$(dirname "$0")/../.." && pwd)
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-index --no-build-isolation --quiet "$src/bindings/python"
"$work/venv/bin/python" -c 'import kolvex; assert kolvex.parse("2@t@i@@m@@h@v@d@c@").missing == kolvex.Missing.BIOS_SERIAL'
echo "pip install --no-build-isolation ./bindings/python: ok"
