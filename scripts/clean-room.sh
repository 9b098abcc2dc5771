#!/usr/bin/env bash
# Runs the README's two set-up commands as a new user's fresh machine would:
# in a minimal Debian root made for the purpose, as root, with a clean
# environment, from a copy of this checkout (HEAD and uncommitted changes,
# no build folders). What the commands need they must install themselves.
#
#   scripts/clean-room.sh                 scripts/run.sh, then scripts/test.sh
#   scripts/clean-room.sh --stage NAME    the test command's base (packages and
#                                         the main build), then scripts/stages/NAME.sh alone
#   scripts/clean-room.sh --keep          keep the root afterwards (its path is printed)
#
# The root comes from the machine's own apt sources and settings; downloaded
# package files are read from the machine's cache (/var/cache/apt/archives)
# and never written back; nothing else of the machine enters it. Every mount lives in a mount
# namespace of its own, so nothing reaches the machine's mounts, and all of it
# is removed on every exit. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/clean-room.sh [--stage NAME] [--keep] [--suite SUITE]" >&2
  exit 2
}
arguments=("$@")
stage="" keep=0 suite=bookworm
while [ $# -gt 0 ]; do
  case "$1" in
    --stage) [ $# -ge 2 ] || usage; stage=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --suite) [ $# -ge 2 ] || usage; suite=$2; shift 2 ;;
    *) usage ;;
  esac
done
if [ -n "$stage" ] && [ ! -f "scripts/stages/$stage.sh" ]; then
  echo "clean-room: no stage '$stage' (scripts/stages/*.sh)" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "clean-room: needs root (mmdebstrap, chroot, mounts)" >&2
  exit 1
fi

# Everything below runs in a mount namespace of its own: a mount made here
# can neither reach the machine nor outlive the run.
if [ -z "${KOLVEX_CLEAN_ROOM_NS:-}" ]; then
  scripts/install-deps.sh mmdebstrap git util-linux
  KOLVEX_CLEAN_ROOM_NS=1 exec unshare --mount --propagation slave -- "$0" "${arguments[@]}"
fi

work=$(mktemp -d /var/tmp/kolvex-clean-room.XXXXXX)
root=$work/root
# Where a root newcomer clones: root's home, which only root may enter, so
# every run as an ordinary user must work from copies it can read.
src=/root/kolvex

# Ends whatever still runs inside the root (wineserver, a guest), unmounts,
# then removes the root; never removes through a mount that stayed.
cleanup() {
  local status=$?
  set +e
  local pid
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  sleep 0.2
  findmnt -rn -o TARGET | grep -E "^$root(/|$)" | sort -r | while read -r target; do
    umount "$target" 2>/dev/null || umount -l "$target"
  done
  if [ "$keep" -eq 1 ]; then
    echo "clean-room: kept $root"
  elif findmnt -rn -o TARGET | grep -qE "^$root(/|$)"; then
    echo "clean-room: mounts remain under $root; not removed" >&2
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The machine's own Debian sources and archive settings (no mirror named here).
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || { echo "clean-room: no apt sources on this machine" >&2; exit 1; }
grep -hE '^[[:space:]]*Acquire::' /etc/apt/apt.conf /etc/apt/apt.conf.d/* 2>/dev/null >"$work/apt.conf" || true

# git, as a new user has it to clone with; certificates only where a source needs them.
include=git
grep -qs 'https://' "${sources[@]}" && include+=,ca-certificates
# The machine's own certificate authorities (a network that reaches the
# registries through a proxy of its own signs with them) go in as its apt
# settings do, with npm's settings file.
local_cas=(/usr/local/share/ca-certificates/*.crt)
[ -e "${local_cas[0]}" ] || local_cas=()
[ ${#local_cas[@]} -gt 0 ] && [[ $include != *ca-certificates* ]] && include+=,ca-certificates

echo "== clean room: making a minimal $suite root"
t0=$(date +%s)
mmdebstrap --quiet --variant=minbase --include="$include" --aptopt="$work/apt.conf" \
  "$suite" "$root" "${sources[@]}"
echo "   made in $(($(date +%s) - t0)) s"

if [ ${#local_cas[@]} -gt 0 ]; then
  cp "${local_cas[@]}" "$root/usr/local/share/ca-certificates/"
  chroot "$root" update-ca-certificates >/dev/null
fi
for f in /etc/npmrc /usr/etc/npmrc; do
  [ -f "$f" ] && mkdir -p "$root${f%/*}" && cp "$f" "$root$f"
done

# A chroot starts no services.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

# The checkout: tracked and untracked-but-not-ignored files as they are now;
# git knows them all (new files staged), as in a fresh clone of a commit.
chmod 700 "$root/root"
mkdir -p "$root$src"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf - | tar -xf - -C "$root$src"
git init -q "$root$src"
git -C "$root$src" -c user.name=clean-room -c user.email=clean-room@kolvex.invalid \
  add -A
git -C "$root$src" -c user.name=clean-room -c user.email=clean-room@kolvex.invalid \
  commit -q -m "checkout as copied"

# The root is a mount point of its own, as on a machine: a tool that makes
# its own mount namespace (unshare, ip netns) changes the propagation of /,
# which the kernel refuses for a directory that is no mount point.
mount --bind "$root" "$root"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
mount -t tmpfs -o mode=755 tmpfs "$root/run"
if [ -d /proc/sys/fs/binfmt_misc ] && [ -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc" 2>/dev/null || true
fi
# The machine's downloaded package files, read through an overlay: the root
# takes what is there and downloads the rest into its own layer, so neither
# side writes to (or locks) the other's cache.
mkdir -p "$work/cache-upper" "$work/cache-work"
mount -t overlay overlay -o "lowerdir=/var/cache/apt/archives,upperdir=$work/cache-upper,workdir=$work/cache-work" \
  "$root/var/cache/apt/archives" 2>/dev/null || echo "clean-room: no package cache (overlay refused); downloading all"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
cp /etc/hosts "$root/etc/hosts" 2>/dev/null || true

inside() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd $src && $1"
}

# Runs one command inside, prints its exit status and time; the first that
# fails ends the run with its status.
step() {
  local command=$1 started status
  echo "== clean room: $command"
  started=$(date +%s)
  set +e
  inside "$command"
  status=$?
  set -e
  echo "== clean room: '$command' exited $status after $(($(date +%s) - started)) s"
  [ "$status" -eq 0 ] || exit "$status"
}

if [ -n "$stage" ]; then
  step "KOLVEX_STAGES=$stage scripts/test.sh"
else
  step "scripts/run.sh"
  step "scripts/test.sh"
fi
