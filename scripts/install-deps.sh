#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing.
# Only as root; otherwise it says what is missing and carries on.
set -euo pipefail
missing=()
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "kolvex: missing packages (run as root to install): ${missing[*]}" >&2
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
# apt's and dpkg's chatter goes to a log, shown only when the install fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "kolvex: installing ${missing[*]}"
if ! { apt-get update -qq && apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
  --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "kolvex: installing ${missing[*]} failed" >&2
  exit 1
fi
