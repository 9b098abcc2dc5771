#!/usr/bin/env bash
# Runs every fenced block of README.md and docs/*.md marked runnable (a line
# "<!-- runs -->" right before the fence), in order, each with bash -euo
# pipefail, in a copy of the source tree without build folders, so the
# commands meet what a newcomer's fresh clone meets. Fails when one fails.
#   scripts/check-docs.sh [FILE.md...]   (default: README.md docs/*.md)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"
files=("$@")
[ ${#files[@]} -gt 0 ] || files=(README.md docs/*.md)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/blocks"
tar -C "$src" --exclude='./build*' --exclude=./.git --exclude=./Testing -cf - . | tar -C "$work/src" -xf -

# One script per block, named by its order; its first line says where it is.
count=0
for f in "${files[@]}"; do
  awk -v file="$f" -v dir="$work/blocks" -v first="$count" '
    function fail(msg) { print file ":" NR ": " msg > "/dev/stderr"; bad = 1; exit 1 }
    marked && !inside { if ($0 !~ /^```/) fail("<!-- runs --> is not followed by a fence"); inside = 1; marked = 0
                        n++; out = sprintf("%s/%04d.sh", dir, first + n); print "# " file ":" NR > out; next }
    inside && /^```/ { inside = 0; close(out); next }
    inside { print > out; next }
    /^<!-- runs -->$/ { marked = 1 }
    END { if (!bad && (marked || inside)) fail("runnable block not closed") }' "$f"
  count=$(find "$work/blocks" -name '*.sh' | wc -l)
done
[ "$count" -gt 0 ] || { echo "no runnable block in ${files[*]}"; exit 1; }

failed=0
for block in "$work"/blocks/*.sh; do
  where=$(head -n1 "$block" | cut -c3-)
  if (cd "$work/src" && bash -euo pipefail "$block") >"$work/out" 2>&1; then
    echo "ok   $where"
  else
    echo "FAIL $where"; sed 's/^/     /' "$work/out" | tail -n 20
    failed=$((failed + 1))
  fi
done
[ $failed -eq 0 ] || { echo "$failed of $count runnable blocks failed"; exit 1; }
echo "all $count runnable blocks ran"
