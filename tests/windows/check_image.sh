#!/bin/bash
# kolvexforWindows.exe as shipped: an x64 console program whose manifest
# (resource type 24, id 1) asks for asInvoker without UI access, whose version
# resource names product, company and version, and which imports system DLLs
# only (runtimes linked in). With a build folder and cpack, also the ZIP made
# from it: the same program, a README and the licence. With kolvex.dll, also
# the DLL: a version resource of its own, system DLLs only, exactly the three
# C functions exported; and in the ZIP the DLL, its import library,
# kolvex.def and kolvex_c.h.
# Usage: check_image.sh EXE WINDRES OBJDUMP VERSION [BUILD_DIR CPACK [DLL SOURCE_DIR]]
set -u
exe=$1 windres=$2 objdump=$3 version=$4 build=${5:-} cpack=${6:-} dll=${7:-} source=${8:-}
IFS=. read -r major minor patch <<<"$version"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

resources=$("$windres" -i "$exe" -O rc) || fail "no resources readable"
grep -q '^1 24 ' <<<"$resources" || fail "no RT_MANIFEST resource with id 1"
grep -q 'level=""asInvoker"" uiAccess=""false""' <<<"$resources" || fail "manifest does not ask for asInvoker, uiAccess false"

# Explorer shows the strings of the block the translation entry names, so
# the two must agree (US English, Unicode).
while IFS='|' read -r what line; do
  grep -qxF -- "$line" <<<"$resources" || fail "version resource: $what"
done <<EOF_VERSION
numeric file version| FILEVERSION $major, $minor, $patch, 0
numeric product version| PRODUCTVERSION $major, $minor, $patch, 0
an application| FILETYPE 0x1
string block for US English, Unicode|    BLOCK "040904B0"
translation naming that block|    VALUE "Translation", 0x409, 1200
product|      VALUE "ProductName", "kolvex"
company|      VALUE "CompanyName", "kolvex developers"
description|      VALUE "FileDescription", "kolvex terminal identity collector"
file version text|      VALUE "FileVersion", "$version"
product version text|      VALUE "ProductVersion", "$version"
original file name|      VALUE "OriginalFilename", "kolvexforWindows.exe"
copyright|      VALUE "LegalCopyright", "Copyright 2026 kolvex developers. Apache License 2.0."
EOF_VERSION

system_dlls='^(KERNEL32|msvcrt|IPHLPAPI|NETAPI32|ole32|OLEAUT32|ADVAPI32|USER32|WS2_32)\.dll$'
check_imports() {  # IMAGE OBJDUMP_OUTPUT
  grep -q '^Magic.*20b' <<<"$2" || fail "$1: not a PE32+ (x64) image"
  while read -r imported; do
    grep -qiE "$system_dlls" <<<"$imported" || fail "$1 imports $imported"
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$2")
}
headers=$("$objdump" -p "$exe")
check_imports "${exe##*/}" "$headers"
grep -q '^Subsystem.*(Windows CUI)' <<<"$headers" || fail "not a console program"

if [ -n "$dll" ]; then
  dll_headers=$("$objdump" -p "$dll")
  check_imports kolvex.dll "$dll_headers"
  grep -qx $'\tDLL' <<<"$dll_headers" || fail "kolvex.dll is not a DLL"
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$dll_headers")
  [ "$exports" = $'kolvex_collect\nkolvex_collect_explained\nkolvex_version' ] ||
    fail "kolvex.dll exports: $(tr '\n' ' ' <<<"$exports")"
  dll_resources=$("$windres" -i "$dll" -O rc) || fail "kolvex.dll: no resources readable"
  for line in " FILEVERSION $major, $minor, $patch, 0" ' FILETYPE 0x2' \
    '      VALUE "OriginalFilename", "kolvex.dll"' "      VALUE \"ProductVersion\", \"$version\""; do
    grep -qxF -- "$line" <<<"$dll_resources" || fail "kolvex.dll version resource lacks: $line"
  done
fi

if [ -n "$build" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$build" && "$cpack" -G ZIP -B "$work" >/dev/null) || fail "cpack -G ZIP failed"
  zip=$work/kolvexforWindows-$version-win64.zip
  if [ -f "$zip" ]; then
    (cd "$work" && cmake -E tar xf "$zip")
    top=$work/kolvexforWindows-$version-win64
    cmp -s "$top/kolvexforWindows.exe" "$exe" || fail "ZIP lacks the program as built"
    grep -q "kolvexforWindows $version" "$top/README.txt" 2>/dev/null || fail "ZIP lacks the README of version $version"
    grep -q 'Apache License' "$top/LICENSE.txt" 2>/dev/null || fail "ZIP lacks the licence"
    shipped='kolvexforWindows.exe|README.txt|LICENSE.txt'
    if [ -n "$dll" ]; then
      cmp -s "$top/kolvex.dll" "$dll" || fail "ZIP lacks kolvex.dll as built"
      cmp -s "$top/kolvex.def" "$source/windows/kolvex.def" || fail "ZIP lacks kolvex.def"
      cmp -s "$top/kolvex_c.h" "$source/include/kolvex/kolvex_c.h" || fail "ZIP lacks kolvex_c.h"
      "$objdump" -t "$top/libkolvex.dll.a" 2>/dev/null | grep -q '__imp_kolvex_collect$' ||
        fail "ZIP lacks the import library libkolvex.dll.a"
      shipped+='|kolvex.dll|kolvex.def|kolvex_c.h|libkolvex.dll.a'
    fi
    extra=$(cd "$top" && ls | grep -vxE "$shipped")
    [ -z "$extra" ] || fail "ZIP holds more: $extra"
  else
    fail "no ${zip##*/}"
  fi
fi
[ $failures -eq 0 ] && echo "manifest, version resource, imports and ZIP as expected"
[ $failures -eq 0 ]
