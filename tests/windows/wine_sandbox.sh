#!/bin/bash
# Runs one command under wine on a machine we describe: its own network,
# host name and C: drive, so that what wine answers is known in advance.
#
#   wine_sandbox.sh [--hostname NAME] [--adapter NAME,MAC,IPV4/LEN|-]...
#                   [--serial HEX] [--disk-size SIZE] -- COMMAND [ARG...]
#
# Adapters are bridges in a fresh network namespace, made in the order
# given ("-" for no address); only loopback is there besides them. The
# computer name wine reports is NAME upper-cased and cut to 15 characters.
# C: is an overlay of the prefix in $WINEPREFIX (made here when missing)
# whose writable layer is a tmpfs of SIZE, so its total size is SIZE; its
# volume serial comes from drive_c/.windows-serial.
#
# Needs root for the namespaces; exits 77 (a skip for CTest) without.
set -u

hostname_=kolvex-sandbox
serial=
disk_size=2g
adapters=()
while [ $# -gt 0 ]; do
  case "$1" in
    --hostname) hostname_=$2; shift 2 ;;
    --adapter) adapters+=("$2"); shift 2 ;;
    --serial) serial=$2; shift 2 ;;
    --disk-size) disk_size=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "wine_sandbox: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "wine_sandbox: no command" >&2; exit 2; }

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}

# The prefix is made by the 64-bit loader and served by its wineserver,
# never through Debian's wine and wineserver commands, which take the 32-bit
# ones where wine32 is installed: a kernel without 32-bit x86 programs starts
# neither. The command starts its programs with the loader of their kind.
first_found() { for f in "$@"; do command -v "$f" && return; done; echo "$1"; }
wine64=${KOLVEX_WINE64:-$(first_found /usr/lib/wine/wine64 wine64 wine)}
export WINESERVER=${WINESERVER:-$(first_found /usr/lib/wine/wineserver64 wineserver)}
wineserver() { "$WINESERVER" "$@"; }

if [ -z "${KOLVEX_SANDBOX_INSIDE:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! unshare --mount --net --uts --fork true 2>/dev/null; then
    echo "SKIP: network, mount and UTS namespaces need root (unshare not permitted here)"
    exit 77
  fi
  if ! command -v ip >/dev/null; then
    echo "SKIP: ip (iproute2) is not installed"
    exit 77
  fi
  base=${WINEPREFIX:-}
  made_base=
  if [ -z "$base" ] || [ ! -f "$base/system.reg" ]; then
    base=$(mktemp -d /tmp/kolvex-wine-base.XXXXXX)
    made_base=$base
    WINEPREFIX=$base wineserver -p </dev/null >/dev/null 2>&1
    WINEPREFIX=$base "$wine64" wineboot </dev/null >/dev/null 2>&1
    WINEPREFIX=$base wineserver -k </dev/null >/dev/null 2>&1
    WINEPREFIX=$base wineserver -w </dev/null >/dev/null 2>&1
  fi
  scratch=$(mktemp -d /tmp/kolvex-sandbox.XXXXXX)
  args=(--hostname "$hostname_" --disk-size "$disk_size")
  [ -n "$serial" ] && args+=(--serial "$serial")
  for a in ${adapters[@]+"${adapters[@]}"}; do args+=(--adapter "$a"); done
  KOLVEX_SANDBOX_INSIDE=1 KOLVEX_SANDBOX_BASE=$base KOLVEX_SANDBOX_SCRATCH=$scratch \
    unshare --mount --net --uts --fork --propagation private "$0" "${args[@]}" -- "$@"
  status=$?
  rm -rf "$scratch"
  [ -n "$made_base" ] && rm -rf "$made_base"
  exit $status
fi

# --- inside the namespaces ---------------------------------------------
set -e
hostname "$hostname_"
ip link set lo up
for a in ${adapters[@]+"${adapters[@]}"}; do
  IFS=, read -r name mac addr <<<"$a"
  ip link add "$name" type bridge
  ip link set "$name" address "$mac"
  [ "$addr" != - ] && ip addr add "$addr" dev "$name"
  ip link set "$name" up
done

root=$KOLVEX_SANDBOX_SCRATCH
mount -t tmpfs -o "size=$disk_size" kolvex-c "$root"
mkdir "$root/upper" "$root/work" "$root/prefix"
mount -t overlay overlay \
  -o "lowerdir=$KOLVEX_SANDBOX_BASE,upperdir=$root/upper,workdir=$root/work" "$root/prefix"
export WINEPREFIX=$root/prefix
if [ -n "$serial" ]; then
  printf '%s\n' "$serial" >"$WINEPREFIX/drive_c/.windows-serial"
fi

# A wineserver of our own (the prefix is a new directory) started with no
# handles of the caller, so nothing it leaves behind holds the test's pipes.
# A wineboot that fails (seldom, and then at once) is said, and given one
# more try: it only prepares the prefix, nothing under test.
wineserver -p </dev/null >/dev/null 2>&1
if ! "$wine64" wineboot </dev/null >"$root/wineboot.log" 2>&1; then
  echo "wine_sandbox: wineboot failed ($(tail -n 3 "$root/wineboot.log" | tr '\n' ' ')); once more" >&2
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1
  "$wine64" wineboot </dev/null >"$root/wineboot.log" 2>&1 ||
    { echo "wine_sandbox: wineboot failed twice: $(tail -n 3 "$root/wineboot.log")" >&2; exit 1; }
fi
trap 'wineserver -k </dev/null >/dev/null 2>&1; wineserver -w </dev/null >/dev/null 2>&1 || true' EXIT
set +e
"$@"
