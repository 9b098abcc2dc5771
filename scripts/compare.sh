#!/usr/bin/env bash
# Times kolvexforlinux against a shell that starts exactly the tool pipelines
# the run starts on this machine (each through its own sh -c, as the run's
# command runner does), and prints the ratio of the medians last.
#   scripts/compare.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-20}
program=$build/linux/kolvexforlinux
scripts/install-deps.sh hyperfine dmidecode lshw python3
[ -x "$program" ] || { echo "build $program first (cmake --build $build)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Which pipelines does a run start here? lshw only when no disk answered the
# kernel requests. The explanation tells (a root caller's tools are not
# looked for on PATH, so a shim there would see nothing).
"$program" --explain > "$work/explain" 2>/dev/null
pipelines=()
for p in "dmidecode -t 4 | grep ID" "dmidecode -t 1 | grep \"Serial Number\"" "lshw -class disk|grep serial"; do
  grep -F "    $p: " "$work/explain" | grep -qv -e ": not run" -e ": not started" && pipelines+=("$p")
done
bare=$work/bare.sh
{
  echo '#!/bin/sh'
  # The tools as the program finds them: root's from the system folders.
  [ "$(id -u)" = 0 ] && echo 'PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
  for p in "${pipelines[@]}"; do printf 'sh -c %q >/dev/null 2>&1\n' "$p"; done
  echo 'exit 0'
} > "$bare"
chmod +x "$bare"
echo "pipelines a run starts here: ${#pipelines[@]}"
printf '  %s\n' "${pipelines[@]}"

hyperfine -N -i --warmup 3 --runs "$runs" --export-json "$work/times.json" \
  --command-name kolvexforlinux "$program" \
  --command-name bare-pipelines "$bare" >/dev/null
python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ours, bare = results["kolvexforlinux"]["median"], results["bare-pipelines"]["median"]
print(f"kolvexforlinux median {ours * 1000:.2f} ms, bare pipelines median {bare * 1000:.2f} ms")
print(f"ratio {ours / bare:.3f}")
PY
