#!/usr/bin/env bash
# The Debian 11 root the Linux release natives are built in, and the old
# system the test command runs them on: glibc 2.31 and g++ 10, whose C++
# runtime links into a library that needs nothing newer than GLIBC_2.17
# (the host's newer g++ pulls in symbols of its own glibc). Made with
# mmdebstrap from Debian's packages under KOLVEX_RELEASE_ROOT (default
# build-dist/debian11) and kept there: a second run reuses it, unless its
# package list changed. Needs root (chroot, mounts) and an x86-64 machine.
#
#   scripts/release-root.sh make          makes the root when missing, prints its path
#   scripts/release-root.sh run CMD...    runs CMD in the root as root, with this
#                                         checkout at its own path and the machine's
#                                         /proc, /sys and /dev (each mount in a mount
#                                         namespace of its own, gone with CMD)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${KOLVEX_RELEASE_ROOT:-$src/build-dist/debian11}")
# Building: the compilers (arm64 by cross g++), dpkg-shlibdeps with arm64's
# libc for the arm64 packages' dependencies, rpmbuild. Running: what a user
# there has to run the program (with the tools it may start), the wheel and
# the jar.
packages=g++,make,cmake,binutils,file,dpkg-dev,rpm,g++-aarch64-linux-gnu,libc6:arm64,
packages+=python3,python3-venv,python3-pip,default-jdk-headless,libjna-java,dmidecode,lshw
suite=bullseye

die() {
  echo "release-root: $*" >&2
  exit 1
}

make_root() {
  [ "$(id -u)" -eq 0 ] || die "needs root (mmdebstrap, chroot, mounts)"
  [ "$(dpkg --print-architecture)" = amd64 ] ||
    die "the release natives are built on x86-64 (this machine is $(dpkg --print-architecture))"
  if [ "$(cat "$root/.kolvex-root" 2>/dev/null)" = "$suite $packages" ]; then
    echo "$root"
    return
  fi
  "$src/scripts/install-deps.sh" mmdebstrap util-linux >&2
  # The machine's own Debian mirror (a proxy it reaches Debian through), the
  # old release's suite.
  local mirror
  mirror=$({ sed -n 's|^URIs: *\([^ ]*/debian\)/*$|\1|p; s|^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*/debian\)/* .*|\2|p' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
    head -n 1)
  mirror=${KOLVEX_DEBIAN_MIRROR:-${mirror:-http://deb.debian.org/debian}}
  echo "release-root: making a Debian 11 ($suite) root in $root from $mirror" >&2
  mkdir -p "$(dirname "$root")"
  local started=$SECONDS
  # Once Debian moves the release to its archive, from there.
  local from
  for from in "$mirror" http://archive.debian.org/debian; do
    rm -rf --one-file-system "$root"
    mmdebstrap --quiet --variant=minbase --architectures=amd64,arm64 --include="$packages" \
      --aptopt='Acquire::Languages "none"' --aptopt='Acquire::Check-Valid-Until "false"' \
      "$suite" "$root" "deb $from $suite main" >&2 && break
    [ "$from" != http://archive.debian.org/debian ] || die "could not make the Debian 11 root from $mirror or $from"
  done
  echo "$suite $packages" >"$root/.kolvex-root"
  echo "release-root: made in $((SECONDS - started)) s" >&2
  echo "$root"
}

case ${1:-} in
  make)
    make_root ;;
  run)
    shift
    [ $# -gt 0 ] || die "usage: scripts/release-root.sh run CMD..."
    make_root >/dev/null
    mkdir -p "$root$src"
    # The command's exit status is the namespace's.
    exec unshare --mount --propagation slave -- /bin/bash -euc '
      root=$1 src=$2
      shift 2
      mount --bind "$src" "$root$src"
      mount -t proc proc "$root/proc"
      mount --rbind /sys "$root/sys"
      mount --rbind /dev "$root/dev"
      exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
    ' release-root "$root" "$src" "$@" ;;
  *)
    echo "usage: scripts/release-root.sh make | run CMD..." >&2
    exit 2 ;;
esac
