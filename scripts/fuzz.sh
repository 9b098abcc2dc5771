#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build for a bounded time, seeded from the
# recorded answers in tests/data. Fails on the first finding.
#   scripts/fuzz.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seed() {  # target, files...
  local dir="$work/$1"
  mkdir -p "$dir"
  shift
  for f in "$@"; do [ -f "$f" ] && cp "$f" "$dir/$(basename "$f")"; done
  # Recorded hex dumps become the raw bytes they describe.
  for f in "$dir"/*.hex; do
    [ -e "$f" ] || continue
    grep -v '^#' "$f" | cut -c7- | xxd -r -p > "${f%.hex}.bin" 2>/dev/null || true
    rm -f "$f"
  done
  return 0
}

shopt -s nullglob
seed fuzz_normalise tests/data/*.txt
seed fuzz_tool_output tests/data/*dmidecode* tests/data/*lshw*
seed fuzz_disk_answers tests/data/*.hex
seed fuzz_interfaces
# Recorded tables as the target takes them: the entry point's length byte,
# the entry point, the table.
seed fuzz_smbios
for tree in tests/data/sysfs_smbios_*; do
  tables=$tree/firmware/dmi/tables
  { printf "\\$(printf %03o "$(stat -c %s "$tables/smbios_entry_point")")"
    cat "$tables/smbios_entry_point" "$tables/DMI"; } > "$work/fuzz_smbios/$(basename "$tree")"
done
seed fuzz_windows_steps tests/data/windows/*.out
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$work/$name"
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=1 \
    -artifact_prefix="$work/" "$work/$name" 2>&1 | grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY|property' || true
  findings=("$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*)
  if [ ${#findings[@]} -gt 0 ]; then
    echo "finding in $name: ${findings[*]}"
    for f in "${findings[@]}"; do xxd "$f" | head -n 20; done
    exit 1
  fi
done
