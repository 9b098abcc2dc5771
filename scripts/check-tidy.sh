#!/usr/bin/env bash
# Static analysis of the product code with the checks in .clang-tidy, on the
# compile commands of a configured build (CMAKE_EXPORT_COMPILE_COMMANDS=ON).
#   scripts/check-tidy.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "check-tidy: no $db (configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2; exit 1; }
# The product sources this build compiles (the Windows-only calls are not
# compiled on Linux; their pure steps are).
mapfile -t files < <(git ls-files 'common/*.cpp' 'linux/*.cpp' 'windows/*.cpp' |
  while read -r f; do grep -qF "\"file\": \"$PWD/$f\"" "$db" && echo "$f"; done)
[ ${#files[@]} -gt 0 ] || { echo "check-tidy: no product source in $db" >&2; exit 1; }
printf '%s\n' "${files[@]}" | xargs -P"$(nproc)" -n4 clang-tidy -p "$build" --quiet 2>/dev/null
echo "check-tidy: ${#files[@]} files clean"
