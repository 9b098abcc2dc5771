#!/usr/bin/env bash
# The machine every binding's end-to-end row runs on: a network namespace
# with two veth interfaces of known addresses, a host name of its own and
# stand-in dmidecode and lshw that print recorded output (and a line on
# standard error). The program and then the client run there as user
# nobody, with only libkolvex.so.1 (no development link) on the library path.
#
#   machine.sh BUILD CLIENT_DIR NAME -- COMMAND [ARG...]
#
# CLIENT_DIR is copied to a folder any user can read, and COMMAND runs there.
# Its standard output must be exactly these lines, and its standard error
# empty, so that anything the library prints shows:
#   record=<the record of one collect()>
#   missing=<its flags, decimal>
#   header=<its 8-byte status header, 16 hex digits>
#   threads=<how many of 4 concurrent collections returned the same record
#            as the first, but for the time>
# The record must equal the program's but for the time, the flags the ones
# the program's explanation names. Exit 77 (skip) when not root.
set -euo pipefail
[ $# -ge 5 ] && [ "$4" = -- ] || { echo "usage: $0 BUILD CLIENT_DIR NAME -- COMMAND [ARG...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
client_dir=$(cd "$2" && pwd)
name=$3
shift 4
here=$(cd "$(dirname "$0")" && pwd)
data=$(cd "$here/../data" && pwd)

if [ "$(id -u)" != 0 ] || ! unshare --net --uts true 2>/dev/null; then
  echo "SKIP: $name: the machine's namespaces and user switch need root"
  exit 77
fi

# Everything nobody reads lives here, whatever the modes of the checkout.
work=$(mktemp -d /tmp/kolvex-binding.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir "$work/lib" "$work/tools" "$work/home"
cp "$build/linux/kolvexforlinux" "$work/"
cp -L "$build/linux/libkolvex.so.1" "$work/lib/"
cp -r "$client_dir" "$work/client"
chmod -R a+rX "$work"
chown 65534:65534 "$work/home"
cat >"$work/tools/dmidecode" <<EOF
#!/bin/sh
echo "dmidecode: stand-in" >&2
case "\$2" in 4) cat $work/tools/t4.txt;; *) cat $work/tools/t1.txt;; esac
EOF
printf '#!/bin/sh\necho "lshw: stand-in" >&2\ncat %s\n' "$work/tools/disk.txt" >"$work/tools/lshw"
cp "$data/dmidecode_t4.txt" "$work/tools/t4.txt"
cp "$data/dmidecode_t1.txt" "$work/tools/t1.txt"
cp "$data/lshw_disk_ahci.txt" "$work/tools/disk.txt"
chmod 755 "$work/tools/dmidecode" "$work/tools/lshw"
chmod 644 "$work"/tools/*.txt

# Inside the namespaces: the interfaces and the host name, then both runs.
inside=$(
  cat <<'EOF'
set -e
work=$1; shift
ip link set lo up
ip link add kxb1 address 02:4b:42:00:00:02 type veth peer name kxb0 address 02:4b:42:00:00:01
ip addr add 10.77.0.1/24 dev kxb0
ip addr add 10.77.0.2/24 dev kxb1
ip link set kxb0 up
ip link set kxb1 up
hostname kx-binding
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH="$work/tools:/usr/bin:/bin" HOME="$work/home" LANG=C.UTF-8 \
    LD_LIBRARY_PATH="$work/lib" "$@"
}
as_nobody "$work/kolvexforlinux" --explain >"$work/program.out" 2>/dev/null
cd "$work/client"
as_nobody "$@" >"$work/client.out" 2>"$work/client.err"
EOF
)
status=0
unshare --net --uts --fork bash -c "$inside" inside "$work" "$@" || status=$?

record=$(sed -n 's/^CollectData = \[\(.*\)\]$/\1/p' "$work/program.out")
# The program names the flag of every empty item in its explanation.
missing=0
for flag in $(grep -o 'missing-item flag 0x[0-9a-f]*' "$work/program.out" | awk '{print $3}'); do
  missing=$((missing | flag))
done
echo "program: $record (missing $missing)"
echo "$name: $(sed -n 's/^record=//p' "$work/client.out") ($(grep '^missing=' "$work/client.out" || true))"

failures=0
fail() { echo "FAIL: $name: $*"; failures=$((failures + 1)); }
[ $status -eq 0 ] || fail "the client exited with status $status"
[ -n "$record" ] || fail "the program printed no record"
[ -s "$work/client.err" ] && fail "standard error is not empty: $(head -c 300 "$work/client.err")"
without_time() { cut -d@ -f1,3-; }
got=$(sed -n 's/^record=//p' "$work/client.out")
[ "$(without_time <<<"$got")" = "$(without_time <<<"$record")" ] || fail "record differs from the program's"
[[ $(cut -d@ -f2 <<<"$got") =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] || fail "no collection time"
grep -qx "missing=$missing" "$work/client.out" || fail "flags differ from the program's ($missing)"
status_char=30
[ "$missing" = 0 ] || status_char=33
grep -qE "^header=01${status_char}[0-9a-f]{12}$" "$work/client.out" || fail "status header"
grep -qx 'threads=4' "$work/client.out" || fail "not every concurrent collection returned the same record"
expected_lines=$'record=\nmissing=\nheader=\nthreads='
[ "$(sed 's/=.*/=/' "$work/client.out")" = "$expected_lines" ] ||
  fail "standard output holds more than the client's lines: $(head -c 300 "$work/client.out")"
[ $failures -eq 0 ] || exit 1
echo "$name: agrees with the program on the machine"
