#!/usr/bin/env bash
# Builds the Debian packages (scripts/package-deb.sh, in BUILD/deb-packages)
# and checks how they are split, their control data and their binaries; as
# root it then installs the four packages, runs the installed program,
# builds the clients against libkolvex-dev, compares the C and Python
# clients with the program on a machine of stand-in tools and removes the
# packages again.
# Usage: debian_package.sh BUILD
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/build_client.sh"
work=$(mktemp -d)
packages=(libkolvex1 libkolvex-dev kolvex python3-kolvex)
installed=0
cleanup() {
  if [ $installed = 1 ]; then
    apt-get -qq -o DPkg::Lock::Timeout=600 purge -y "${packages[@]}" >/dev/null 2>&1 ||
      echo "could not remove ${packages[*]}"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

out=$build/deb-packages
# A cross-built tree: the packages of its target, built the same way.
cross_build_args "$build"
"$here/../../scripts/package-deb.sh" "$out" "$out" "${KOLVEX_CROSS_ARGS[@]}" >/dev/null 2>&1 ||
  { echo "building the packages failed"; exit 1; }
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
arch=${KOLVEX_DEB_ARCH:-$(dpkg --print-architecture)}
multiarch=${KOLVEX_MULTIARCH:-$(dpkg-architecture -qDEB_HOST_MULTIARCH)}
deb() { local a=$arch; [[ $1 == python3-* ]] && a=all; echo "$out/$1_${version}_$a.$2"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for p in "${packages[@]}" kolvex-dbgsym libkolvex1-dbgsym; do
  ext=deb; [[ $p == *-dbgsym ]] && ext=ddeb
  f=$(deb "$p" $ext)
  [ -f "$f" ] || { echo "not built: ${f##*/}"; exit 1; }
  dpkg-deb -x "$f" "$work/$p"
done

# Where each file belongs: "+" it is in the package, "-" it must not be.
L=usr/lib/$multiarch
while read -r pkg sign path reason; do
  [ -z "$pkg" ] && continue
  if [ "$sign" = + ]; then [ -e "$work/$pkg/$path" ] || [ -L "$work/$pkg/$path" ] || fail "$pkg lacks $path"
  elif [ -e "$work/$pkg/$path" ] || [ -L "$work/$pkg/$path" ]; then fail "$pkg holds $path ($reason)"
  fi
done <<EOF_FILES
libkolvex1    + $L/libkolvex.so.1
libkolvex1    + $L/libkolvex.so.$version
libkolvex1    - $L/libkolvex.so           the development link belongs to -dev
libkolvex1    - usr/include/kolvex/kolvex.h  clients at run time need no header
libkolvex1    + usr/share/doc/libkolvex1/copyright
libkolvex1    + usr/share/doc/libkolvex1/changelog.gz
libkolvex-dev + usr/include/kolvex/kolvex.h
libkolvex-dev + usr/include/kolvex/kolvex_c.h
libkolvex-dev + $L/libkolvex.so
libkolvex-dev - $L/libkolvex.so.1         one package owns the library
libkolvex-dev + $L/cmake/kolvex/kolvexConfig.cmake
libkolvex-dev + $L/pkgconfig/kolvex.pc
libkolvex-dev + usr/share/doc/libkolvex-dev/copyright
kolvex        + usr/bin/kolvexforlinux
kolvex        + usr/share/man/man1/kolvexforlinux.1.gz
kolvex        - $L/libkolvex.so.1         the program uses the library package
kolvex        - usr/include/kolvex/kolvex.h  the program needs no header
kolvex        + usr/share/doc/kolvex/copyright
python3-kolvex + usr/lib/python3/dist-packages/kolvex/__init__.py
python3-kolvex + usr/lib/python3/dist-packages/kolvex/py.typed
python3-kolvex + usr/lib/python3/dist-packages/kolvex-$version.dist-info/METADATA
python3-kolvex + usr/lib/python3/dist-packages/kolvex-$version.dist-info/top_level.txt
python3-kolvex + usr/lib/python3/dist-packages/kolvex-$version.dist-info/RECORD
python3-kolvex - $L/libkolvex.so.1       the module loads the library package's
EOF_FILES

# Control data: dependencies, shlibs and the ldconfig trigger instead of
# maintainer scripts that call ldconfig.
lib=$(deb libkolvex1 deb)
for want in "kolvex|Depends|libkolvex1 (= $version)" "kolvex|Depends|dmidecode" "kolvex|Recommends|lshw" \
            "libkolvex-dev|Depends|libkolvex1 (= $version)" "libkolvex1|Depends|libstdc++6" \
            "python3-kolvex|Depends|libkolvex1 (>= $version)"; do
  IFS='|' read -r pkg field item <<<"$want"
  value=$(dpkg-deb -f "$(deb "$pkg" deb)" "$field")
  grep -qF "$item" <<<"$value" || fail "$pkg $field lacks $item: $value"
done
[ "$(dpkg-deb -f "$(deb python3-kolvex deb)" Architecture)" = all ] || fail "python3-kolvex is not Architecture: all"
[ "$(dpkg-deb -I "$lib" shlibs 2>/dev/null)" = "libkolvex 1 libkolvex1 (>= $version)" ] || fail "libkolvex1 shlibs"
[ "$(dpkg-deb -I "$lib" triggers 2>/dev/null)" = "activate-noawait ldconfig" ] || fail "libkolvex1 lacks the ldconfig trigger"
for script in postinst postrm; do
  dpkg-deb -I "$lib" $script >/dev/null 2>&1 && fail "libkolvex1 has a $script"
done

# Binaries stripped, their debug data in the -dbgsym package by build id.
for pair in kolvex:usr/bin/kolvexforlinux libkolvex1:$L/libkolvex.so.$version; do
  bin=$work/${pair%%:*}/${pair#*:}
  [ -n "$(readelf -S "$bin" | grep -F .debug_info)" ] && fail "${pair#*:} keeps debug data"
  readelf -S "$bin" | grep -qF .symtab && fail "${pair#*:} keeps its symbol table"
  id=$(readelf -n "$bin" | sed -n 's/.*Build ID: //p')
  [ -f "$work/${pair%%:*}-dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" ] ||
    fail "${pair%%:*}-dbgsym lacks the debug data of build id $id"
done
[ $failures -eq 0 ] || exit 1
echo "packages split, described and stripped as expected"
if [ -n "$KOLVEX_DEB_ARCH" ]; then
  echo "the $arch packages are not installed on this $(dpkg --print-architecture) machine"
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "SKIP installing the packages: needs root"
  exit 77
fi
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "$p is installed already; not replacing it"
    exit 1
  fi
done
installed=1
apt-get -qq -o DPkg::Lock::Timeout=600 install -y --no-install-recommends \
  "$(deb libkolvex1 deb)" "$(deb libkolvex-dev deb)" "$(deb kolvex deb)" "$(deb python3-kolvex deb)" \
  >/dev/null 2>&1 ||
  { echo "installing the packages failed"; exit 1; }
# The trigger ran ldconfig: the loader finds the library without a run path.
# (grep reads the whole list: with -q it may leave early, and ldconfig's
# SIGPIPE would fail the pipeline.)
ldconfig -p | grep "libkolvex.so.1 .*=> .*/$multiarch/libkolvex.so.1$" >/dev/null || { echo "libkolvex.so.1 not in the loader cache"; exit 1; }
env -u LD_LIBRARY_PATH PATH=/nonexistent /usr/bin/kolvexforlinux 2>/dev/null | grep -q '^CollectData = \[2@' ||
  { echo "installed kolvexforlinux gave no record"; exit 1; }
# Slim container images tell dpkg to leave manual pages out.
if grep -qsE '^path-exclude[= ]+/usr/share/man' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/*; then
  echo "man kolvexforlinux not checked: dpkg here excludes manual pages"
else
  man -P cat kolvexforlinux 2>/dev/null | grep -q 'kolvexforlinux - collect' ||
    { echo "man kolvexforlinux shows no page"; exit 1; }
fi
build_client "$work"

# Stand-in tools that answer from recorded output and complain on standard
# error: the clients and the program see the same machine.
mkdir "$work/tools"
data=$(cd "$here/../data" && pwd)
printf '#!/bin/sh\necho "dmidecode: stand-in" >&2\ncase "$2" in 4) cat %s;; *) cat %s;; esac\n' \
  "$data/dmidecode_t4.txt" "$data/dmidecode_t1.txt" >"$work/tools/dmidecode"
printf '#!/bin/sh\necho "lshw: stand-in" >&2\ncat %s\n' "$data/lshw_disk_ahci.txt" >"$work/tools/lshw"
chmod +x "$work/tools/dmidecode" "$work/tools/lshw"
tools=(env -u LD_LIBRARY_PATH PATH="$work/tools:/usr/bin:/bin")
record=$("${tools[@]}" /usr/bin/kolvexforlinux 2>/dev/null | sed -n 's/^CollectData = \[\(.*\)\]$/\1/p')
echo "program:  $record"
# shellcheck disable=SC2046  # pkg-config prints several words
cc -std=c99 -Wall -Wextra -pedantic -Werror -o "$work/c_client" "$here/client/c_client.c" \
  $(pkg-config --cflags --libs kolvex) || { echo "the C client does not build with pkg-config's flags"; exit 1; }
"${tools[@]}" "$work/c_client" "$record" || { echo "C client failed"; exit 1; }
"${tools[@]}" /usr/bin/python3 "$here/python_client.py" "$record" "$version" || { echo "Python client failed"; exit 1; }
echo "installed, run, clients built against libkolvex-dev, C and Python clients agree with the program"
