#!/usr/bin/env bash
# kolvexforlinux under valgrind: no leak, no invalid access, and nothing but
# the three standard descriptors open at exit.
set -euo pipefail
program=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Start from the three standard descriptors alone, whatever the caller left open.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null || true
done
valgrind --error-exitcode=3 --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=definite,indirect,possible --track-fds=yes \
  "$program" >/dev/null 2>"$log" || { cat "$log"; exit 1; }
grep -E 'FILE DESCRIPTORS|ERROR SUMMARY|in use at exit' "$log"
grep -q 'FILE DESCRIPTORS: 3 open (3 std) at exit' "$log" || { cat "$log"; exit 1; }
grep -q 'ERROR SUMMARY: 0 errors' "$log" || { cat "$log"; exit 1; }
