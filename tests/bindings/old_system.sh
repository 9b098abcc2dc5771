#!/usr/bin/env bash
# The release on an old system, the Debian 11 root of scripts/release-root.sh
# (glibc 2.31) on this machine: the portable archive's program, the x86-64
# wheel in a venv of that system's pip, the jar with its JDK and JNA, and
# the Debian packages installed with its dpkg must each give the host
# program's record but for the time. The packages: KOLVEX_DIST_DIR (default
# dist/). Where the root cannot be made, says so in one line and passes.
#   tests/bindings/old_system.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
dist=${KOLVEX_DIST_DIR:-$src/dist}
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
reason=$(mktemp)
if ! root=$("$src/scripts/release-root.sh" make 2>"$reason"); then
  echo "old system: not run: $(tail -n 1 "$reason")"
  exit 0
fi
inside() { "$src/scripts/release-root.sh" run "$@"; }

# Everything the rows use, where the root sees it; the root's packages as
# they were afterwards.
work=/tmp/kolvex-old-system
rm -rf "$root$work"
mkdir -p "$root$work/client"
trap 'inside dpkg --purge kolvex libkolvex1 >/dev/null 2>&1 || true; rm -rf "$root$work" "$reason"' EXIT
tar -C "$root$work" -xzf "$dist/kolvexforlinux-$version-linux-x64.tar.gz"
cp "$dist"/kolvex-"$version"-py3-none-manylinux*_x86_64.whl "$dist/kolvex-$version.jar" \
  "$dist/libkolvex1_${version}_amd64.deb" "$dist/kolvex_${version}_amd64.deb" "$root$work/"
cp "$here/python/machine_client.py" "$here/java/kolvex/KolvexTest.java" "$root$work/client/"

record() {  # the record of a program's output, or of a client's record= line, but for the time
  sed -n 's/^CollectData = \[\(.*\)\]$/\1/p; s/^record=//p' | awk -F@ -v OFS=@ 'NF { $2 = ""; print; exit }'
}
want=$(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$build/linux/kolvexforlinux" 2>/dev/null | record)
[ -n "$want" ] || { echo "FAIL: old system: the host's program printed no record"; exit 1; }
failed=0
errors=$root$work/errors
row() {  # NAME OUTPUT (what the command wrote on standard error is in $errors)
  local got
  got=$(record <<<"$2")
  if [ "$got" = "$want" ]; then
    echo "old system: $1: $got"
  else
    echo "FAIL: old system: $1 gives '$got', the host's program '$want'"
    tail -n 5 "$errors"
    failed=1
  fi
}

echo "old system: $(inside sh -c '. /etc/os-release; echo "$PRETTY_NAME"'), $(inside ldd --version | head -n 1)"
row "the portable archive's program" \
  "$(inside "$work/kolvexforlinux-$version-linux-x64/bin/kolvexforlinux" 2>"$errors")"
row "the wheel in a venv (pip $(inside python3 -m pip --version | cut -d' ' -f2))" "$(inside sh -ec "
  python3 -m venv $work/venv
  $work/venv/bin/pip install --quiet --no-index $work/kolvex-$version-py3-none-*.whl
  cd $work/client && $work/venv/bin/python machine_client.py" 2>"$errors")"
row "the jar ($(inside java -version 2>&1 | head -n 1), JNA $(inside sh -c 'readlink -f /usr/share/java/jna.jar' | sed 's/.*jna-//; s/\.jar$//'))" \
  "$(inside sh -ec "
  cd $work/client
  javac -nowarn -cp ../kolvex-$version.jar:/usr/share/java/jna.jar -d . KolvexTest.java
  java -cp ../kolvex-$version.jar:.:/usr/share/java/jna.jar kolvex.KolvexTest machine" 2>"$errors")"
inside dpkg -i "$work/libkolvex1_${version}_amd64.deb" "$work/kolvex_${version}_amd64.deb" >/dev/null
row "the Debian packages' program" "$(inside kolvexforlinux 2>"$errors")"
exit $failed
