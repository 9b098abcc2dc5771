#!/usr/bin/env bash
# Bindings stage: the release of scripts/dist.sh, made into
# build-dist/packages (the Linux binaries in its Debian 11 root, the Windows
# ones from the windows stage's trees, which the test command builds before
# this one): the language packages checked (tests/bindings/check_package.py),
# every Linux binary against the glibc 2.17 floor (scripts/floor.py), the
# systems' packages by lintian and rpmlint, the release on an old system
# (tests/bindings/old_system.sh); then each language binding over the C
# interface is built with its own ecosystem's tools, runs its own tests
# against the real libkolvex.so.1 of the main build, and its end-to-end row
# on the stand-in machine (tests/bindings/machine.sh) from its package. Each
# tests/bindings/LANG.sh installs what it needs (as root).
#   scripts/stages/bindings.sh [MAIN_BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
export KOLVEX_DIST_DIR=$PWD/build-dist/packages
# The release ships only libraries it checked: a tree holding an
# instrumented one makes it fail, naming why.
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/linux-x64/linux"
cc -shared -fPIC -fsanitize=address -o "$fake/linux-x64/linux/libkolvex.so.1" tests/bindings/old_library.c
if KOLVEX_RELEASE_DIR=$fake scripts/dist.sh "$fake/out" >/dev/null 2>"$fake/err" ||
  ! grep -q "an instrumented (sanitizer) build; not shipped" "$fake/err"; then
  cat "$fake/err"
  echo "bindings stage: scripts/dist.sh shipped an instrumented library"
  exit 1
fi
scripts/dist.sh "$KOLVEX_DIST_DIR"
/usr/bin/python3 tests/bindings/check_package.py "$KOLVEX_DIST_DIR"/kolvex-*.{jar,tgz,whl} \
  "$KOLVEX_DIST_DIR"/Kolvex.*.nupkg
# Every Linux binary of the release, alone or inside a package, within the
# floor (glibc 2.17, no host C++ runtime); the systems' packages as their
# own tools judge them; then the release on an old system.
scripts/install-deps.sh binutils dpkg rpm2cpio cpio  # what the floor check unpacks and reads with
/usr/bin/python3 scripts/floor.py check "$KOLVEX_DIST_DIR"/*
bash tests/package/check_release.sh "$KOLVEX_DIST_DIR"
bash tests/bindings/old_system.sh "$build"
failed=()
for lang in dotnet java node python; do
  script=tests/bindings/$lang.sh
  [ -e "$script" ] || continue
  echo "-- $lang"
  start=$(date +%s)
  bash "$script" "$build" || failed+=("$lang")
  echo "-- $lang: $(($(date +%s) - start)) s"
done
[ ${#failed[@]} -eq 0 ] || { echo "bindings stage: failed: ${failed[*]}"; exit 1; }
