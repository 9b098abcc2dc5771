#!/bin/bash
# kolvexforWindows.exe end to end under wine, on a machine that
# wine_sandbox.sh describes: standard input fed through a pipe, standard
# output captured through a pipe (there wine passes the GBK bytes through
# unchanged), every line and every record field checked.
#
#   e2e_wine.sh MODE PROGRAM STANDIN_WMIC DATA_DIR
#
# MODE  standin         a stand-in wmic.exe in the system's wbem folder prints
#                       recorded output (ANSI "\r\r\n", UTF-16 with mark)
#       standin-hung    as standin, but the CPU query answers and never exits:
#                       the run ends by the deadline, every value kept
#       standin-silent  the stand-in prints nothing: the items stay empty,
#                       WMI is not asked
#       wine-wmic       wine's own wmic (UTF-16 with mark into the pipe); a
#                       stand-in beside the program and another in the current
#                       directory are never started
#       wmi             wmic switched off: the values come from WMI
#       none            neither wmic nor WMI: the items are empty and flagged
#       standin-error   the stand-in answers every query with an error report
#                       on its standard error, as wmic does:
#                       no item takes it, WMI answers instead
# The stand-ins go into the sandbox's own prefix, after wine's wmic has told
# the host's CPU ID. The standin, wmi and none modes run the program with
# /explain: the same frame, then where each item came from; the others run
# it without options.
#
# With CLIENT and DLL (e2e_wine.sh MODE PROGRAM STANDIN_WMIC DATA_DIR CLIENT
# DLL), the console-less client application then calls kolvex.dll beside
# the program on the same machine: it must print nothing and get the
# program's record (the time aside), its flags and header, and the
# program's explanation.
set -u
export LC_ALL=C
mode=$1 program=$2 standin=$3 data=$4 client=${5:-} dll=${6:-}
here=$(cd "$(dirname "$0")" && pwd)

run=$(mktemp -d /tmp/kolvex-e2e.XXXXXX)
trap 'rm -rf "$run"' EXIT
cp "$program" "$run/kolvexforWindows.exe"
mkdir "$run/wbem" "$run/cwd"
plant() {  # folder [disk cpu bios]: a stand-in and what it prints
  cp "$standin" "$1/wmic.exe"
  [ $# -gt 1 ] || return 0
  cp "$data/$2" "$1/diskdrive.out"
  cp "$data/$3" "$1/cpu.out"
  cp "$data/$4" "$1/bios.out"
}
if [ -n "$client" ]; then
  cp "$client" "$run/kolvex_c_client.exe"
  cp "$dll" "$run/kolvex.dll"
fi
case $mode in
  standin) plant "$run/wbem" ansi-diskdrive.out utf16-cpu.out ansi-bios.out ;;
  standin-hung)
    plant "$run/wbem" ansi-diskdrive.out utf16-cpu.out ansi-bios.out
    touch "$run/wbem/cpu.hang"
    export KOLVEX_COMMAND_TIMEOUT_MS=10000 ;;  # wine takes seconds to start a child
  standin-silent) plant "$run/wbem" ;;
  standin-error)
    plant "$run/wbem"
    for class in diskdrive cpu bios; do cp "$data/ansi-error.out" "$run/wbem/$class.err"; done ;;
  wine-wmic)
    rmdir "$run/wbem"
    plant "$run" ansi-diskdrive.out utf16-cpu.out ansi-bios.out
    plant "$run/cwd" ansi-diskdrive.out utf16-cpu.out ansi-bios.out ;;
  wmi) export WINEDLLOVERRIDES="mscoree,mshtml=;wmic.exe=d" ;;
  none) export WINEDLLOVERRIDES="mscoree,mshtml=;wmic.exe=d;wbemprox=d" ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
case $mode in
  standin | wmi | none | standin-error) option=/explain ;;
  *) option= ;;
esac

# Inside the sandbox: what wine's own wmic says for the CPU (asked from
# elsewhere, before any stand-in is planted), the stand-ins planted, then
# the program, started from a folder of its own.
inner='wbem=$WINEPREFIX/drive_c/windows/system32/wbem
  cd / && WINEDLLOVERRIDES="mscoree,mshtml=" wine wmic CPU get ProcessorID </dev/null >"$1/cpu.wmic" 2>/dev/null
  if [ -e "$1/wbem/wmic.exe" ]; then cp "$1"/wbem/* "$wbem/"; fi
  cd "$1/cwd" &&
  start=$(date +%s%N)
  printf "\n" | wine ../kolvexforWindows.exe $2 >../out.bin 2>../err.txt; echo $? >../rc
  echo $(( ($(date +%s%N) - start) / 1000000 )) >../took-ms
  beat() { stat -c %s "$wbem/cpu.beat" 2>/dev/null || echo 0; }
  if [ -e "$wbem/cpu.hang" ]; then before=$(beat); sleep 1; echo "$before $(beat)" >../cpu-beats; fi
  if [ -e "$wbem/wmic-calls.log" ]; then mv "$wbem/wmic-calls.log" ../wbem-calls.log; fi
  if [ -e ../kolvex_c_client.exe ]; then
    wine ../kolvex_c_client.exe ../client.txt </dev/null >../client-out.bin 2>../client-err.txt
    echo $? >../client-rc
    if [ -e "$wbem/wmic-calls.log" ]; then mv "$wbem/wmic-calls.log" ../client-calls.log; fi
  fi
  true'
"$here/wine_sandbox.sh" --hostname kolvex-e2e-workstation \
  --adapter kv0,02:00:00:00:0a:09,- \
  --adapter kv1,02:00:00:00:0a:01,10.77.0.1/24 \
  --adapter kv2,0a:00:27:00:00:0d,192.168.56.10/24 \
  --serial 0012abcd --disk-size 3g -- bash -c "$inner" inner "$run" "$option"
status=$?
[ $status -eq 77 ] && exit 77
[ $status -eq 0 ] || { echo "sandbox failed ($status)"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }

[ "$(cat "$run/rc")" = 0 ] || fail "exit status $(cat "$run/rc")"
host_cpu=$(iconv -f UTF-16 -t ASCII "$run/cpu.wmic" 2>/dev/null | sed -n 2p | awk '{print substr($1, 1, 16)}')

case $mode in
  standin | standin-hung) disk=0025_3886_81B2_4 cpu=178BFBFF00A20F12 bios=VM-42 ;;
  wine-wmic | wmi | standin-error) disk=WINEHDISK cpu=$host_cpu bios=0
    [[ $cpu =~ ^[0-9A-F]{16}$ ]] || fail "no CPU ID from wine's wmic to compare with: '$cpu'" ;;
  standin-silent | none) disk= cpu= bios= ;;
esac

mapfile -t lines <"$run/out.bin"
if [ -z "$option" ]; then
  [ ${#lines[@]} -eq 33 ] || fail "${#lines[@]} lines instead of 33"
else
  [ ${#lines[@]} -gt 40 ] || fail "${#lines[@]} lines: no explanation after the record"
fi
for i in "${!lines[@]}"; do
  [[ ${lines[$i]} == *$'\r' ]] || fail "line $((i + 1)) does not end with CR LF"
  lines[$i]=${lines[$i]%$'\r'}
done

[ "${lines[0]}" = "kolvex_1.0.2 for Windows version 1.0_20220124_1468" ] || fail "banner: ${lines[0]}"

messages=(开始获取终端各种信息 开始获取终端类型 获取终端类型完成 开始获取采集时间 获取采集时间完成
  开始获取IP和MAC 获取IP和MAC完成 开始获取设备名和系统版本 获取设备名和系统版本完成
  开始获取硬盘序列号 获取硬盘序列号完成 开始获取CPU序列号 获取CPU序列号完成
  开始获取BIOS序列号 获取BIOS序列号完成 开始获取系统盘信息 获取系统盘信息完成)
for i in "${!messages[@]}"; do
  line=${lines[$((i + 1))]}
  [[ $line =~ ^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}\ -\ (.*)$ ]] || { fail "progress line $((i + 1)): $line"; continue; }
  [ "${BASH_REMATCH[1]}" = "$(gbk "${messages[$i]}")" ] || fail "progress line $((i + 1)) message"
done

[ -z "${lines[18]}" ] && [ -z "${lines[31]}" ] || fail "blank lines around the summary"

record_line=${lines[32]}
[[ $record_line =~ ^CollectData\ =\ \[(.*)\]$ ]] || fail "record line: $record_line"
record=${BASH_REMATCH[1]:-}
IFS=@ read -r -a fields <<<"$record@"
[ ${#fields[@]} -eq 12 ] || fail "${#fields[@]} record fields: $record"

labels=(终端类型 信息采集时间 私网IP1 私网IP2 网卡MAC地址1 网卡MAC地址2 设备名 操作系统版本
  硬盘序列号 CPU序列号 BIOS序列号 系统盘分区信息)
for i in "${!labels[@]}"; do
  [ "${lines[$((19 + i))]}" = "$(gbk "${labels[$i]}"): ${fields[$i]:-}" ] ||
    fail "summary line $((i + 1)) differs from record field: ${lines[$((19 + i))]}"
done

expect_field() {  # index name expected
  [ "${fields[$1]:-}" = "$3" ] || fail "$2 is '${fields[$1]:-}', expected '$3'"
}
expect_field 0 "terminal type" 1
[[ ${fields[1]:-} =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] || fail "time ${fields[1]:-}"
expect_field 2 "IP 1" 10.77.0.1
expect_field 3 "IP 2" 192.168.56.10
expect_field 4 "MAC 1" 020000000A01
expect_field 5 "MAC 2" 0A002700000D
expect_field 6 "device name" KOLVEX-E2
[[ ${fields[7]:-} =~ ^[0-9]+\.[0-9]+$ && ${#fields[7]} -le 5 ]] || fail "OS version ${fields[7]:-}"
expect_field 8 "disk serial" "$disk"
expect_field 9 "CPU ID" "$cpu"
expect_field 10 "BIOS serial" "$bios"
expect_field 11 "system disk" "C,12ABCD,NTFS,3"

if [ "$mode" = standin-hung ]; then
  # The hung query costs the deadline once, not the test's own time-out.
  [ "$(cat "$run/took-ms")" -lt 60000 ] || fail "the run took $(cat "$run/took-ms") ms"
  read -r beats_then beats_now <"$run/cpu-beats"
  [ "$beats_then" -gt 0 ] || fail "the stand-in wmic.exe never hung"
  [ "$beats_then" = "$beats_now" ] || fail "the hung wmic.exe still runs after the program ended"
fi
echo "$mode: the program ran $(cat "$run/took-ms") ms"

if [[ $mode == standin* ]]; then
  expected_calls=$'wmic diskdrive get serialnumber\nwmic CPU get ProcessorID\nwmic bios get serialnumber'
  [ "$(cat "$run/wbem-calls.log" 2>/dev/null)" = "$expected_calls" ] ||
    fail "wmic command lines: $(cat "$run/wbem-calls.log" 2>/dev/null)"
fi
for planted in "$run" "$run/cwd"; do
  [ ! -e "$planted/wmic-calls.log" ] || fail "a wmic.exe planted in $planted was started"
done

explained() {  # an exact line of the explanation
  printf '%s\n' "${lines[@]:33}" | grep -qxF -- "$1" || fail "explanation lacks: $1"
}
cpu_wmi="    WMI SELECT ProcessorId FROM Win32_Processor"
case $mode in
  standin)
    [ "${lines[33]}" = "" ] && [[ ${lines[34]} == Explanation:* ]] || fail "no explanation after a blank line"
    explained "    wmic CPU get ProcessorID: \"$cpu\" (used)"
    explained "    wmic bios get serialnumber: \"$bios\" (used)"
    printf '%s\n' "${lines[@]:33}" | grep -qE '^    adapter [0-9]+ 10\.77\.0\.1 020000000A01: taken as address 1 \(used\)$' ||
      fail "explanation lacks the first adapter taken" ;;
  wmi)
    explained "    wmic CPU get ProcessorID: not started"
    explained "$cpu_wmi: \"$cpu\" (used)" ;;
  standin-error)
    explained "    wmic CPU get ProcessorID: error report \"Invalid class \""
    explained "$cpu_wmi: \"$cpu\" (used)" ;;
  none)
    explained "    wmic CPU get ProcessorID: not started"
    explained "$cpu_wmi: no value"
    explained "  CPU ID: empty (missing-item flag 0x80)"
    explained "    hint: wmic missing: read from WMI" ;;
esac

if [ -n "$client" ]; then
  [ "$(cat "$run/client-rc" 2>/dev/null)" = 0 ] || fail "client exit status $(cat "$run/client-rc" 2>/dev/null)"
  [ ! -s "$run/client-out.bin" ] ||
    fail "the client printed $(wc -c <"$run/client-out.bin") bytes: $(head -n 1 "$run/client-out.bin" | iconv -f GBK -t UTF-8 -c)"
  [ ! -s "$run/client-err.txt" ] || fail "the client wrote errors: $(head -c 300 "$run/client-err.txt")"
  answer() { sed -n "s/^$1=//p" "$run/client.txt" 2>/dev/null; }
  client_record=$(answer record)
  IFS=@ read -r -a client_fields <<<"$client_record@"
  [ ${#client_fields[@]} -eq 12 ] || fail "${#client_fields[@]} client record fields: $client_record"
  [ "${client_fields[*]:2}" = "${fields[*]:2}" ] && [ "${client_fields[0]:-}" = "${fields[0]:-}" ] ||
    fail "client record [$client_record], program's [$record]"
  # The missing-item flags of the program's record.
  flags=0 bit=0
  for i in 1 2 4 6 7 8 9 10 11; do
    [ -n "${fields[$i]:-}" ] || flags=$((flags | (2 << bit)))
    bit=$((bit + 1))
  done
  [ "$(answer flags)" = "$flags" ] || fail "client flags $(answer flags), expected $flags"
  [ "$(answer explained)" = "$flags" ] || fail "explained call's flags $(answer explained), expected $flags"
  [[ $(answer version) =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version '$(answer version)'"
  # The header: 1, '0' or '3', then the local time read after the run.
  header=$(answer header)
  status=30 && [ "$flags" = 0 ] || status=33
  [[ $header =~ ^01${status}([0-9a-f]{12})$ ]] || fail "header $header"
  stamp=${BASH_REMATCH[1]:-000000000000}
  printf -v header_time '20%02d-%02d-%02d %02d:%02d:%02d' $((16#${stamp:0:2})) $((16#${stamp:2:2})) \
    $((16#${stamp:4:2})) $((16#${stamp:6:2})) $((16#${stamp:8:2})) $((16#${stamp:10:2}))
  after=$(( $(date -d "$header_time" +%s 2>/dev/null || echo 0) - $(date -d "${client_fields[1]:-}" +%s 2>/dev/null || echo 0) ))
  [ $after -ge 0 ] && [ $after -le 60 ] || fail "header time $header_time, record time ${client_fields[1]:-}"
  # The explanation as the program gave it, but for the lines with the time.
  timeless() { grep -vE '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}'; }
  diff <(printf '%s\n' "${lines[@]:34}" | timeless) <(sed '1,/^explanation:$/d' "$run/client.txt" | timeless) >"$run/explanation.diff" ||
    fail "client explanation differs from the program's: $(head -c 600 "$run/explanation.diff")"
  [ "$(cat "$run/client-calls.log" 2>/dev/null)" = "$expected_calls"$'\n'"$expected_calls" ] ||
    fail "client's wmic command lines: $(cat "$run/client-calls.log" 2>/dev/null)"
  echo "$mode: kolvex.dll gave [$client_record], flags $(answer flags), header $header"
fi

if [ $failures -ne 0 ]; then
  echo "--- output (GBK shown as UTF-8) ---"
  iconv -f GBK -t UTF-8 "$run/out.bin" | tr -d '\r'
  echo "--- standard error ---"
  cat "$run/err.txt"
  exit 1
fi
echo "$mode: record [$record] as expected"
