#!/usr/bin/env bash
# Builds one architecture's Linux release in the Debian 11 root
# (scripts/dist.sh runs it there through scripts/release-root.sh): the
# library and the program with the C++ runtime linked in, in TREE, and from
# those same binaries into OUT
#   the Debian packages (libkolvex1, libkolvex-dev, kolvex, python3-kolvex, -dbgsym),
#   the rpm set (kolvex-libs, kolvex-devel, kolvex), under /usr/lib64,
#   kolvexforlinux-VERSION-linux-ARCH.tar.gz: bin/, lib/, include/, share/man/,
#     LICENSE, running where it is unpacked.
# The tree is configured once per layout; the binaries are built once (the
# install step only sets the program's run path).
#   scripts/release-linux.sh x64|arm64 TREE OUT
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
arch=$1 tree=$2 out=$3
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
case $arch in
  x64) triplet=x86_64-linux-gnu machine=x86_64 toolchain=() ;;
  arm64) triplet=aarch64-linux-gnu machine=aarch64
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchains/aarch64-linux-gnu.cmake") ;;
  *) echo "usage: $0 x64|arm64 TREE OUT" >&2; exit 2 ;;
esac
mkdir -p "$out"

layout() {  # PREFIX LIBDIR [CMAKE_ARG...]
  cmake -S "$src" -B "$tree" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOLVEX_BUILD_TESTS=OFF -DKOLVEX_BUILD_BENCHMARKS=OFF -DKOLVEX_WARNINGS_AS_ERRORS=ON \
    -DKOLVEX_RELEASE_LINK=ON -DCMAKE_INSTALL_PREFIX="$1" -DCMAKE_INSTALL_LIBDIR="$2" \
    -DCMAKE_INSTALL_SO_NO_EXE=ON "${@:3}" >/dev/null
}

# Debian: the multiarch folder; the dependencies from dpkg-shlibdeps (this
# root's libc6 and libc6:arm64 symbols files).
layout /usr "lib/$triplet"
cmake --build "$tree" -j"${KOLVEX_JOBS:-2}" >/dev/null
rm -rf "$tree/deb"
# dpkg-shlibdeps finds the program's libkolvex.so.1 on LD_LIBRARY_PATH
# (this root's CMake predates CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS).
(cd "$tree" && LD_LIBRARY_PATH=$tree/linux cpack -G DEB -B "$tree/deb" >/dev/null)
bash "$src/packaging/debian/finish-packages.sh" "$tree"/deb/*.deb "$tree"/deb/*.ddeb
# The Architecture: all package comes with the x64 release.
[ "$arch" = x64 ] || rm -f "$tree"/deb/*_all.deb
cp "$tree"/deb/*.deb "$tree"/deb/*.ddeb "$out/"

# rpm: lib64, the dependencies rpm computes from the binaries (it reads only
# executable files: the library is installed so, as rpm systems do).
layout /usr lib64 -DCMAKE_INSTALL_SO_NO_EXE=OFF
rm -rf "$tree/rpm"
(cd "$tree" && cpack -G RPM -B "$tree/rpm" >/dev/null)
cp "$tree"/rpm/*.rpm "$out/"

# The portable archive: a run path to ../lib, stripped.
layout /opt/kolvex lib
name=kolvexforlinux-$version-linux-$arch
stage=$tree/portable/$name
rm -rf "$tree/portable"
for component in library development program; do
  cmake --install "$tree" --prefix "$stage" --component "$component" --strip >/dev/null
done
rm -rf "$stage/share/doc"
cp "$src/LICENSE" "$stage/"
tar -C "$tree/portable" --owner=0 --group=0 --numeric-owner -czf "$out/$name.tar.gz" "$name"
echo "release-linux: $arch ($machine) into $out"
