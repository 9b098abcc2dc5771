#!/bin/bash
# kolvexforWindows.exe end to end under wine, on a machine that
# wine_sandbox.sh describes: standard input fed through a pipe, standard
# output captured through a pipe (there wine passes the GBK bytes through
# unchanged), every line and every record field checked.
#
#   e2e_wine.sh MODE STANDIN_WMIC DATA_DIR SIDE [SIDE...]
#
# SIDE  PROGRAM,CLIENT,DLL,LINKED,LOADER: what one build (x64 or x86)
#       starts, the program, the console-less client that loads kolvex.dll
#       by name, kolvex.dll, and the console client linked by lld-link
#       against kolvex.lib, and the wine loader that starts them (64-bit for
#       x64, 32-bit for x86). Every side runs on the same machine, one after another,
#       and passes the same checks; every further side must also give the
#       first side's record (the time aside), explanation, flags and header.
#
# MODE  standin         WMI switched off (wbemprox), a stand-in wmic.exe in
#                       the system's wbem folders prints recorded output
#                       (ANSI "\r\r\n", UTF-16 with mark)
#       standin-hung    as standin, but the CPU query answers and never exits:
#                       the run ends by the deadline, every value kept
#       standin-silent  the stand-in prints nothing: the items stay empty
#       wine-wmic       WMI switched off for kolvex's programs alone, wine's
#                       own wmic (UTF-16 with mark into the pipe) answers; a
#                       stand-in beside the program and another in the current
#                       directory are never started
#       wmi             WMI and wine's wmic both there: the values come from
#                       WMI, wmic is not started
#       none            neither wmic nor WMI: the items are empty and flagged
#       standin-error   WMI switched off, the stand-in answers every query
#                       with an error report on its standard error, as wmic
#                       does: no item takes it
# In the wine-wmic and wmi modes every value must be the one wine's wmic
# prints for the same query: the two routes give the same record.
# The stand-ins go into the sandbox's own prefix (system32 for x64 callers,
# syswow64 for x86 ones), after wine's wmic has told the host's CPU ID. The
# standin, wine-wmic, wmi, none and standin-error modes run the program with
# /explain: the same frame, then where each item came from; the others run
# it without options.
#
# In the standin and standin-error modes the console-less client then calls
# kolvex.dll beside the program on the same machine: it must print nothing
# and get the program's record (the time aside), its flags and header, and
# the program's explanation. In the standin mode the linked client does the
# same with kolvex_collect (no explanation).
set -u
export LC_ALL=C
mode=$1 standin=$2 data=$3
shift 3
[ $# -gt 0 ] || { echo "e2e_wine: no side" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)

run=$(mktemp -d /tmp/kolvex-e2e.XXXXXX)
trap 'rm -rf "$run"' EXIT
mkdir "$run/wbem"
plant() {  # folder [disk cpu bios]: a stand-in and what it prints
  cp "$standin" "$1/wmic.exe"
  [ $# -gt 1 ] || return 0
  cp "$data/$2" "$1/diskdrive.out"
  cp "$data/$3" "$1/cpu.out"
  cp "$data/$4" "$1/bios.out"
}
case $mode in
  standin | standin-error) clients=1 ;;
  *) clients= ;;
esac
machine() {  # the machine a PE image is for, from its file header
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  case $(od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' ') in
    8664) echo x64 ;;
    014c) echo x86 ;;
    *) echo unknown ;;
  esac
}
sides=()
for side in "$@"; do
  IFS=, read -r program client dll linked loader <<<"$side"
  folder=$run/$(machine "$program")
  [ ! -e "$folder" ] || folder=$folder-${#sides[@]}
  sides+=("$folder")
  mkdir "$folder" "$folder/cwd"
  printf '%s\n' "${loader:-wine}" >"$folder/loader"
  cp "$program" "$folder/kolvexforWindows.exe"
  if [ -n "$clients" ]; then
    cp "$client" "$folder/kolvex_c_client.exe"
    cp "$dll" "$folder/kolvex.dll"
    [ "$mode" != standin ] || cp "$linked" "$folder/kolvex_linked_client.exe"
  fi
  if [ "$mode" = wine-wmic ]; then
    plant "$folder" ansi-diskdrive.out utf16-cpu.out ansi-bios.out
    plant "$folder/cwd" ansi-diskdrive.out utf16-cpu.out ansi-bios.out
  fi
done
case $mode in
  standin*) export WINEDLLOVERRIDES="mscoree,mshtml=;wbemprox=d" ;;
  wine-wmic) export KOLVEX_E2E_PROGRAMS_WITHOUT_WMI=1 ;;
esac
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
  wine-wmic) rmdir "$run/wbem" ;;
  wmi) ;;
  none) export WINEDLLOVERRIDES="mscoree,mshtml=;wmic.exe=d;wbemprox=d" ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
case $mode in
  standin | wine-wmic | wmi | none | standin-error) option=/explain ;;
  *) option= ;;
esac

# Inside the sandbox: what wine's own wmic says for the three queries
# (asked from elsewhere, before any stand-in is planted, with the first
# side's loader), WMI switched off for kolvex's programs where the mode says
# so (wine's per-program DLL settings), the stand-ins planted, then each
# side's program, started from a folder of its own by its side's loader,
# and its clients.
# The stand-ins note their calls, and beat, in the folder they were started
# from: system32 for an x64 caller, syswow64 for an x86 one.
inner='wbems="$WINEPREFIX/drive_c/windows/system32/wbem $WINEPREFIX/drive_c/windows/syswow64/wbem"
  wine=$(cat "$3/loader")
  cd / && for q in "diskdrive get serialnumber:disk" "CPU get ProcessorID:cpu" "bios get serialnumber:bios"; do
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wmic ${q%:*} </dev/null >"$1/${q##*:}.wmic" 2>/dev/null
  done
  if [ -n "${KOLVEX_E2E_PROGRAMS_WITHOUT_WMI:-}" ]; then
    for exe in kolvexforWindows.exe kolvex_c_client.exe kolvex_linked_client.exe; do
      "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\DllOverrides" /v wbemprox /d "" /f \
        </dev/null >/dev/null 2>&1 || exit 1
    done
  fi
  if [ -e "$1/wbem/wmic.exe" ]; then for w in $wbems; do cp "$1"/wbem/* "$w/"; done; fi
  calls() { for w in $wbems; do cat "$w/wmic-calls.log" 2>/dev/null; rm -f "$w/wmic-calls.log"; done; }
  beat() { cat $(for w in $wbems; do echo "$w/cpu.beat"; done) 2>/dev/null | wc -c; }
  run=$1 option=$2
  shift 2
  for side in "$@"; do
    cd "$side/cwd" || exit 1
    wine=$(cat ../loader)
    start=$(date +%s%N)
    printf "\n" | "$wine" ../kolvexforWindows.exe $option >../out.bin 2>../err.txt; echo $? >../rc
    echo $(( ($(date +%s%N) - start) / 1000000 )) >../took-ms
    if [ -e "$run/wbem/cpu.hang" ]; then
      before=$(beat); sleep 1; echo "$before $(beat)" >../cpu-beats
      for w in $wbems; do rm -f "$w/cpu.beat"; done
    fi
    calls >../wbem-calls.log
    if [ -e ../kolvex_c_client.exe ]; then
      "$wine" ../kolvex_c_client.exe ../client.txt </dev/null >../client-out.bin 2>../client-err.txt
      echo $? >../client-rc
      calls >../client-calls.log
    fi
    if [ -e ../kolvex_linked_client.exe ]; then
      "$wine" ../kolvex_linked_client.exe </dev/null >../linked.txt 2>../linked-err.txt
      echo $? >../linked-rc
      calls >../linked-calls.log
    fi
  done
  true'
"$here/wine_sandbox.sh" --hostname kolvex-e2e-workstation \
  --adapter kv0,02:00:00:00:0a:09,- \
  --adapter kv1,02:00:00:00:0a:01,10.77.0.1/24 \
  --adapter kv2,0a:00:27:00:00:0d,192.168.56.10/24 \
  --serial 0012abcd --disk-size 3g -- bash -c "$inner" inner "$run" "$option" "${sides[@]}"
status=$?
[ $status -eq 77 ] && exit 77
[ $status -eq 0 ] || { echo "sandbox failed ($status)"; exit 1; }

failures=0
fail() { echo "FAIL: $side_name: $*"; failures=$((failures + 1)); }
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }

wine_wmic() {  # item width: the first value wine's wmic printed for the item
  iconv -f UTF-16 -t ASCII "$run/$1.wmic" 2>/dev/null | sed -n 2p | awk -v n="$2" '{print substr($1, 1, n)}'
}
case $mode in
  standin | standin-hung) disk=0025_3886_81B2_4 cpu=178BFBFF00A20F12 bios=VM-42 ;;
  wine-wmic | wmi) disk=$(wine_wmic disk 16) cpu=$(wine_wmic cpu 16) bios=$(wine_wmic bios 10) ;;
  standin-silent | none | standin-error) disk= cpu= bios= ;;
esac
expected_calls=$'wmic diskdrive get serialnumber\nwmic CPU get ProcessorID\nwmic bios get serialnumber'
cpu_wmi="    WMI Win32_Processor.ProcessorId"
timeless() { grep -vE '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}'; }

# The answers of a client (client.txt or linked.txt): the program's record
# (the time aside), the flags its empty items give, the header.
check_answers() {  # file what
  local file=$1 what=$2 answers_record answers_fields header stamp header_time after status
  answer() { sed -n "s/^$1=//p" "$file" 2>/dev/null; }
  answers_record=$(answer record)
  IFS=@ read -r -a answers_fields <<<"$answers_record@"
  [ ${#answers_fields[@]} -eq 12 ] || fail "${#answers_fields[@]} $what record fields: $answers_record"
  [ "${answers_fields[*]:2}" = "${fields[*]:2}" ] && [ "${answers_fields[0]:-}" = "${fields[0]:-}" ] ||
    fail "$what record [$answers_record], program's [$record]"
  [ "$(answer flags)" = "$flags" ] || fail "$what flags $(answer flags), expected $flags"
  [[ $(answer version) =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$what version '$(answer version)'"
  # The header: 1, '0' or '3', then the local time read after the run.
  header=$(answer header)
  status=30 && [ "$flags" = 0 ] || status=33
  [[ $header =~ ^01${status}([0-9a-f]{12})$ ]] || fail "$what header $header"
  stamp=${BASH_REMATCH[1]:-000000000000}
  printf -v header_time '20%02d-%02d-%02d %02d:%02d:%02d' $((16#${stamp:0:2})) $((16#${stamp:2:2})) \
    $((16#${stamp:4:2})) $((16#${stamp:6:2})) $((16#${stamp:8:2})) $((16#${stamp:10:2}))
  after=$(( $(date -d "$header_time" +%s 2>/dev/null || echo 0) - $(date -d "${answers_fields[1]:-}" +%s 2>/dev/null || echo 0) ))
  [ $after -ge 0 ] && [ $after -le 60 ] || fail "$what header time $header_time, record time ${answers_fields[1]:-}"
  echo "$mode: $side_name: $what gave [$answers_record], flags $(answer flags), header $header"
}

# Every check of one side's program and clients. Leaves the program's
# record, its fields, flags and explanation for the comparison of sides.
check_side() {  # folder
  local dir=$1 i line labels messages record_line flags_bit beats_then beats_now planted
  [ "$(cat "$dir/rc")" = 0 ] || fail "exit status $(cat "$dir/rc")"
  case $mode in
    wine-wmic | wmi)
      [[ $cpu =~ ^[0-9A-F]{16}$ ]] && [ -n "$disk" ] && [ -n "$bios" ] ||
        fail "no values from wine's wmic to compare with: '$disk' '$cpu' '$bios'" ;;
  esac

  mapfile -t lines <"$dir/out.bin"
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

  # The missing-item flags of the program's record.
  flags=0 flags_bit=0
  for i in 1 2 4 6 7 8 9 10 11; do
    [ -n "${fields[$i]:-}" ] || flags=$((flags | (2 << flags_bit)))
    flags_bit=$((flags_bit + 1))
  done

  if [ "$mode" = standin-hung ]; then
    # The hung query costs the deadline once, not the test's own time-out.
    [ "$(cat "$dir/took-ms")" -lt 60000 ] || fail "the run took $(cat "$dir/took-ms") ms"
    read -r beats_then beats_now <"$dir/cpu-beats"
    [ "$beats_then" -gt 0 ] || fail "the stand-in wmic.exe never hung"
    [ "$beats_then" = "$beats_now" ] || fail "the hung wmic.exe still runs after the program ended"
  fi
  echo "$mode: $side_name: the program ran $(cat "$dir/took-ms") ms"

  if [[ $mode == standin* ]]; then
    [ "$(cat "$dir/wbem-calls.log" 2>/dev/null)" = "$expected_calls" ] ||
      fail "wmic command lines: $(cat "$dir/wbem-calls.log" 2>/dev/null)"
  fi
  for planted in "$dir" "$dir/cwd"; do
    [ ! -e "$planted/wmic-calls.log" ] || fail "a wmic.exe planted in $planted was started"
  done

  explained() {  # an exact line of the explanation
    printf '%s\n' "${lines[@]:33}" | grep -qxF -- "$1" || fail "explanation lacks: $1"
  }
  case $mode in
    standin)
      [ "${lines[33]}" = "" ] && [[ ${lines[34]} == Explanation:* ]] || fail "no explanation after a blank line"
      explained "$cpu_wmi: failed"
      explained "    wmic CPU get ProcessorID: \"$cpu\" (used)"
      explained "    wmic bios get serialnumber: \"$bios\" (used)"
      printf '%s\n' "${lines[@]:33}" | grep -qE '^    adapter [0-9]+ 10\.77\.0\.1 020000000A01: taken as address 1 \(used\)$' ||
        fail "explanation lacks the first adapter taken" ;;
    wine-wmic)
      explained "$cpu_wmi: failed"
      explained "    wmic CPU get ProcessorID: \"$cpu\" (used)" ;;
    wmi)
      explained "$cpu_wmi: \"$cpu\" (used)"
      explained "    wmic CPU get ProcessorID: not started, WMI answered" ;;
    standin-error)
      explained "$cpu_wmi: failed"
      explained "    wmic CPU get ProcessorID: error report \"Invalid class \"" ;;
    none)
      explained "$cpu_wmi: failed"
      explained "    wmic CPU get ProcessorID: not started"
      explained "  CPU ID: empty (missing-item flag 0x80)"
      explained "    hint: WMI gave no answer and wmic is missing" ;;
  esac

  if [ -e "$dir/kolvex_c_client.exe" ]; then
    [ "$(cat "$dir/client-rc" 2>/dev/null)" = 0 ] || fail "client exit status $(cat "$dir/client-rc" 2>/dev/null)"
    [ ! -s "$dir/client-out.bin" ] ||
      fail "the client printed $(wc -c <"$dir/client-out.bin") bytes: $(head -n 1 "$dir/client-out.bin" | iconv -f GBK -t UTF-8 -c)"
    [ ! -s "$dir/client-err.txt" ] || fail "the client wrote errors: $(head -c 300 "$dir/client-err.txt")"
    check_answers "$dir/client.txt" kolvex.dll
    [ "$(sed -n 's/^explained=//p' "$dir/client.txt")" = "$flags" ] ||
      fail "explained call's flags $(sed -n 's/^explained=//p' "$dir/client.txt"), expected $flags"
    # The explanation as the program gave it, but for the lines with the time.
    diff <(printf '%s\n' "${lines[@]:34}" | timeless) <(sed '1,/^explanation:$/d' "$dir/client.txt" | timeless) >"$dir/explanation.diff" ||
      fail "client explanation differs from the program's: $(head -c 600 "$dir/explanation.diff")"
    # A second thread's collection while the explained one ran: one after
    # the other, each whole, the same record.
    IFS=@ read -r -a answers_fields <<<"$(sed -n 's/^concurrent_record=//p' "$dir/client.txt")@"
    [ "$(sed -n 's/^concurrent=//p' "$dir/client.txt")" = "$flags" ] && [ "${answers_fields[*]:2}" = "${fields[*]:2}" ] ||
      fail "the concurrent collection gave flags $(sed -n 's/^concurrent=//p' "$dir/client.txt"), record [$(sed -n 's/^concurrent_record=//p' "$dir/client.txt")]"
    [ "$(cat "$dir/client-calls.log" 2>/dev/null)" = "$expected_calls"$'\n'"$expected_calls"$'\n'"$expected_calls" ] ||
      fail "client's wmic command lines: $(cat "$dir/client-calls.log" 2>/dev/null)"
  fi
  if [ -e "$dir/kolvex_linked_client.exe" ]; then
    [ "$(cat "$dir/linked-rc" 2>/dev/null)" = 0 ] || fail "linked client exit status $(cat "$dir/linked-rc" 2>/dev/null)"
    [ ! -s "$dir/linked-err.txt" ] || fail "the linked client wrote errors: $(head -c 300 "$dir/linked-err.txt")"
    [ "$(grep -cvE '^(version|flags|header|record|argument)=' "$dir/linked.txt")" = 0 ] ||
      fail "the linked client's output holds more: $(grep -vE '^(version|flags|header|record|argument)=' "$dir/linked.txt" | head -c 300)"
    check_answers "$dir/linked.txt" "kolvex.lib client"
    [ "$(sed -n 's/^argument=//p' "$dir/linked.txt")" = -1 ] ||
      fail "kolvex_collect_explained with no room: '$(sed -n 's/^argument=//p' "$dir/linked.txt")', expected -1"
    [ "$(cat "$dir/linked-calls.log" 2>/dev/null)" = "$expected_calls" ] ||
      fail "linked client's wmic command lines: $(cat "$dir/linked-calls.log" 2>/dev/null)"
  fi
}

reference=
for dir in "${sides[@]}"; do
  side_name=$(basename "$dir")
  side_failures=$failures
  check_side "$dir"
  if [ -z "$reference" ]; then
    reference=$dir ref_record=$record ref_fields=("${fields[@]}") ref_flags=$flags
    printf '%s\n' "${lines[@]:33}" | timeless >"$run/reference-explanation"
  else
    # The same machine, the same answers: the first side's record but for
    # the time, its explanation, flags and header.
    [ "${fields[*]:2}" = "${ref_fields[*]:2}" ] && [ "${fields[0]:-}" = "${ref_fields[0]:-}" ] ||
      fail "record [$record], $(basename "$reference")'s [$ref_record]"
    diff "$run/reference-explanation" <(printf '%s\n' "${lines[@]:33}" | timeless) >"$dir/sides.diff" ||
      fail "explanation differs from $(basename "$reference")'s: $(head -c 600 "$dir/sides.diff")"
    [ "$flags" = "$ref_flags" ] || fail "flags $flags, $(basename "$reference")'s $ref_flags"
    for answers in client.txt linked.txt; do
      [ -e "$reference/$answers" ] || continue
      for key in flags argument; do
        [ "$(sed -n "s/^$key=//p" "$dir/$answers" 2>/dev/null)" = "$(sed -n "s/^$key=//p" "$reference/$answers")" ] ||
          fail "$answers: $key differs from $(basename "$reference")'s"
      done
      [ "$(sed -n 's/^header=\(....\).*/\1/p' "$dir/$answers" 2>/dev/null)" = "$(sed -n 's/^header=\(....\).*/\1/p' "$reference/$answers")" ] ||
        fail "$answers: header differs from $(basename "$reference")'s"
    done
  fi
  if [ $failures -ne $side_failures ]; then
    echo "--- $side_name: output (GBK shown as UTF-8) ---"
    iconv -f GBK -t UTF-8 "$dir/out.bin" | tr -d '\r'
    echo "--- $side_name: standard error ---"
    cat "$dir/err.txt"
  else
    echo "$mode: $side_name: record [$record] as expected"
  fi
done
[ $failures -eq 0 ]
