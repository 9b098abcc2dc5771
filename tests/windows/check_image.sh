#!/bin/bash
# kolvexforWindows.exe as shipped: an x64 console program whose manifest
# (resource type 24, id 1) asks for asInvoker without UI access, and which
# imports system DLLs only (runtimes linked in).
set -u
exe=$1 windres=$2 objdump=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

resources=$("$windres" -i "$exe" -O rc) || fail "no resources readable"
grep -q '^1 24 ' <<<"$resources" || fail "no RT_MANIFEST resource with id 1"
grep -q 'level=""asInvoker"" uiAccess=""false""' <<<"$resources" || fail "manifest does not ask for asInvoker, uiAccess false"

headers=$("$objdump" -p "$exe")
grep -q '^Magic.*20b' <<<"$headers" || fail "not a PE32+ (x64) image"
grep -q '^Subsystem.*(Windows CUI)' <<<"$headers" || fail "not a console program"
system_dlls='^(KERNEL32|msvcrt|IPHLPAPI|NETAPI32|ole32|OLEAUT32|ADVAPI32|USER32|WS2_32)\.dll$'
while read -r dll; do
  grep -qiE "$system_dlls" <<<"$dll" || fail "imports $dll"
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
[ $failures -eq 0 ] && echo "manifest and imports as expected"
[ $failures -eq 0 ]
