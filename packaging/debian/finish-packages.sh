#!/usr/bin/env bash
# Finishes the Debian packages CPack built, where CPack falls short of
# Debian policy, by rebuilding each from its unpacked tree:
# - a package with the ldconfig trigger loses the postinst/postrm scripts
#   that call ldconfig, which CPack adds to every package with a library;
# - a -dbgsym package gets an md5sums file of relative paths (CPack writes
#   build paths) and its doc directory as a link to that of the package it
#   belongs to, which it depends on.
# Usage: finish-packages.sh PACKAGE.deb|PACKAGE.ddeb...
set -euo pipefail
for pkg in "$@"; do
  tree=$(mktemp -d)
  dpkg-deb -R "$pkg" "$tree/root"
  name=$(dpkg-deb -f "$pkg" Package)
  if [ -e "$tree/root/DEBIAN/triggers" ]; then
    rm -f "$tree/root/DEBIAN/postinst" "$tree/root/DEBIAN/postrm"
  fi
  if [[ $name == *-dbgsym ]]; then
    mkdir -p "$tree/root/usr/share/doc"
    ln -sfn "${name%-dbgsym}" "$tree/root/usr/share/doc/$name"
    (cd "$tree/root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum > DEBIAN/md5sums)
  fi
  dpkg-deb --root-owner-group -Zxz -b "$tree/root" "$pkg" >/dev/null
  rm -rf "$tree"
done
