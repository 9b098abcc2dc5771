#!/usr/bin/env bash
# Bindings stage: each language binding over the C interface is built with
# its own ecosystem's tools, runs its own tests against the real
# libkolvex.so.1 of the main build, and its end-to-end row on the stand-in
# machine (tests/bindings/machine.sh). Each tests/bindings/LANG.sh installs
# what it needs (as root).
#   scripts/stages/bindings.sh [MAIN_BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
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
