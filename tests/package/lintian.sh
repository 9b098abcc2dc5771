#!/usr/bin/env bash
# lintian on the Debian packages of scripts/package-deb.sh (built in
# BUILD/deb-packages): any error or warning fails. Overrides, if ever
# needed, ship in the package with a one-line reason each.
set -euo pipefail
build=$1
out=$build/deb-packages
command -v lintian >/dev/null || { echo "SKIP: lintian is not installed (scripts/test.sh installs it)"; exit 77; }
. "$(dirname "$0")/build_client.sh"
cross_build_args "$build"
"$(dirname "$0")/../../scripts/package-deb.sh" "$out" "$out" "${KOLVEX_CROSS_ARGS[@]}" >/dev/null 2>&1 ||
  { echo "building the packages failed"; exit 1; }
version=$(dpkg-deb -f "$out"/kolvex_*.deb Version)
lintian --version
# lintian warns on stderr that it runs as root; only its findings matter.
lintian --fail-on error,warning "$out"/*_"$version"_*.deb "$out"/*_"$version"_*.ddeb 2>/dev/null
echo "lintian: no error, no warning"
