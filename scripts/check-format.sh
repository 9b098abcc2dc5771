#!/usr/bin/env bash
# Checks that the C and C++ sources are laid out as .clang-format says.
#   scripts/check-format.sh          list what differs, fail if anything does
#   scripts/check-format.sh --fix    lay the files out in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror --style=file "${files[@]}"; then
  echo "check-format: the files above are not formatted; run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
