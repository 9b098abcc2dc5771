#!/usr/bin/env bash
# The systems' own packages of the release in DIST (scripts/dist.sh) as
# their tools judge them: lintian on the Debian packages of both
# architectures (no error, no warning, no overrides) and rpmlint on the rpm
# set (no error; packaging/rpm/rpmlint.toml says what it leaves out, and
# why). Installs both tools when missing (as root).
#   tests/package/check_release.sh DIST
set -euo pipefail
dist=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
"$src/scripts/install-deps.sh" lintian rpmlint rpm
debs=("$dist"/*.deb "$dist"/*.ddeb)
rpms=("$dist"/*.rpm)
[ -e "${debs[0]}" ] && [ -e "${rpms[0]}" ] || { echo "FAIL: no .deb or no .rpm in $dist"; exit 1; }
# lintian warns on stderr that it runs as root; only its findings matter.
lintian --fail-on error,warning "${debs[@]}" 2>/dev/null ||
  { echo "FAIL: lintian on the release's Debian packages"; exit 1; }
echo "lintian: ${#debs[@]} Debian packages, no error, no warning"
report=$(rpmlint -c "$src/packaging/rpm/rpmlint.toml" "${rpms[@]}" 2>&1) || true
summary=$(grep -E '^ *[0-9]+ packages and [0-9]+ specfiles checked' <<<"$report") ||
  { echo "$report"; echo "FAIL: rpmlint gave no summary"; exit 1; }
grep -q ' 0 errors,' <<<"$summary" || { grep -E ': E: ' <<<"$report"; echo "FAIL: rpmlint: $summary"; exit 1; }
echo "rpmlint: ${#rpms[@]} rpm packages, $summary"
