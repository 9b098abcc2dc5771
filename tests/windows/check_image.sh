#!/bin/bash
# kolvexforWindows.exe as shipped: a console program for the build's machine
# (win64: x64, PE32+; win32: x86, PE32) whose manifest (resource type 24,
# id 1) asks for asInvoker without UI access, whose version resource names
# product, company and version, which imports system DLLs only (runtimes
# linked in), and which is stripped, with a debug link. With a build folder
# and cpack, also the ZIPs made from it: the same program, a README and the
# licence, and the debug ZIP whose NAME.debug files the debug links find.
# With kolvex.dll, also the DLL: a version resource of its own, system DLLs
# only, exactly the three C functions exported, stripped; and in the ZIP the
# DLL, its import libraries for mingw and MSVC, kolvex.def and kolvex_c.h;
# the debug information of kolvex_collect in the debug ZIP. With the client
# that lld-link linked against kolvex.lib, also that client: an image of the
# build's machine importing only KERNEL32 and, from kolvex.dll, names the
# DLL exports (a kolvex.lib with decorated x86 names links, then fails to
# load). Every image loads on Windows 7 SP1: its DLLs and subsystem version.
# None of it starts a program: it holds where wine cannot run them.
# Usage: check_image.sh EXE WINDRES OBJDUMP VERSION SYSTEM [BUILD_DIR CPACK [DLL SOURCE_DIR [LINKED]]]
set -u
exe=$1 windres=$2 objdump=$3 version=$4 system=$5 build=${6:-} cpack=${7:-} dll=${8:-} source=${9:-}
linked=${10:-}
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

case $system in
  win64) magic='^Magic.*20b' format=pei-x86-64 machine="PE32+ (x64)" imp=__imp_ ;;
  win32) magic='^Magic.*10b' format=pei-i386 machine="PE32 (x86)" imp=__imp__ ;;
  *) echo "unknown system $system" >&2; exit 2 ;;
esac
# System DLLs that Windows 7 SP1 has (no api-ms-win-crt-* of the newer
# runtimes), and a subsystem version it loads (6.1 at most).
system_dlls='^(KERNEL32|msvcrt|IPHLPAPI|NETAPI32|ole32|OLEAUT32|ADVAPI32|USER32|WS2_32)\.dll$'
check_imports() {  # IMAGE OBJDUMP_OUTPUT [ALLOWED_DLLS]
  grep -q "$magic" <<<"$2" && grep -q "file format $format\$" <<<"$2" || fail "$1: not a $machine image"
  local subsystem
  subsystem=$(awk '$1 == "MajorSubsystemVersion" { major = $2 } $1 == "MinorSubsystemVersion" { print major "." $2 }' <<<"$2")
  awk -v v="$subsystem" 'BEGIN { split(v, p, "."); exit !(v != "" && (p[1] < 6 || (p[1] == 6 && p[2] <= 1))) }' ||
    fail "$1: subsystem version '$subsystem', newer than Windows 7's 6.1"
  while read -r imported; do
    grep -qiE "${3:-$system_dlls}" <<<"$imported" || fail "$1 imports $imported"
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$2")
}
# Stripped: no debug sections and no symbol table, only a link to
# NAME.debug. Unstripped, a binary is four times the size.
check_stripped() {  # IMAGE
  local name=${1##*/}
  ! "$objdump" -h "$1" | grep -qE '^ +[0-9]+ \.debug_' || fail "$name: debug sections left in"
  "$objdump" -t "$1" | grep -qx 'no symbols' || fail "$name: a symbol table left in"
  "$objdump" --dwarf=links "$1" 2>/dev/null | grep -qxF "  Separate debug info file: $name.debug" ||
    fail "$name: no debug link to $name.debug"
  [ "$(stat -c %s "$1")" -lt 1048576 ] || fail "$name: $(stat -c %s "$1") bytes, 1 MiB or more"
}
headers=$("$objdump" -p "$exe")
check_imports "${exe##*/}" "$headers"
check_stripped "$exe"
grep -q '^Subsystem.*(Windows CUI)' <<<"$headers" || fail "not a console program"

if [ -n "$dll" ]; then
  dll_headers=$("$objdump" -p "$dll")
  check_imports kolvex.dll "$dll_headers"
  check_stripped "$dll"
  grep -qx $'\tDLL' <<<"$dll_headers" || fail "kolvex.dll is not a DLL"
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$dll_headers")
  def_exports=$(sed -n '/^EXPORTS/,$s/^ \+\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p' "$source/windows/kolvex.def" | sort)
  [ "$exports" = $'kolvex_collect\nkolvex_collect_explained\nkolvex_version' ] && [ "$exports" = "$def_exports" ] ||
    fail "kolvex.dll exports: $(tr '\n' ' ' <<<"$exports"), kolvex.def: $(tr '\n' ' ' <<<"$def_exports")"
  dll_resources=$("$windres" -i "$dll" -O rc) || fail "kolvex.dll: no resources readable"
  for line in " FILEVERSION $major, $minor, $patch, 0" ' FILETYPE 0x2' \
    '      VALUE "OriginalFilename", "kolvex.dll"' "      VALUE \"ProductVersion\", \"$version\""; do
    grep -qxF -- "$line" <<<"$dll_resources" || fail "kolvex.dll version resource lacks: $line"
  done
fi

if [ -n "$linked" ]; then
  linked_headers=$("$objdump" -p "$linked")
  check_imports "${linked##*/}" "$linked_headers" '^(KERNEL32|kolvex)\.dll$'
  from_dll=$(sed -n '/^\s*DLL Name: kolvex\.dll$/,/^$/s/^\s*[0-9a-f]\+\s\+[0-9]\+\s\+\([A-Za-z_@0-9]\+\)$/\1/p' <<<"$linked_headers")
  [ -n "$from_dll" ] || fail "${linked##*/} imports nothing from kolvex.dll"
  for name in $from_dll; do
    grep -qxF "$name" <<<"$exports" || fail "${linked##*/} imports $name, which kolvex.dll does not export"
  done
fi

if [ -n "$build" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$build" && "$cpack" -G ZIP -B "$work" >/dev/null) || fail "cpack -G ZIP failed"
  name=kolvexforWindows-$version-$system
  zip=$work/$name.zip
  if [ -f "$zip" ]; then
    (cd "$work" && cmake -E tar xf "$zip")
    top=$work/$name
    echo "$name.zip:"
    (cd "$top" && stat -c '%10s %n' *)
    cmp -s "$top/kolvexforWindows.exe" "$exe" || fail "ZIP lacks the program as built"
    grep -q "kolvexforWindows $version" "$top/README.txt" 2>/dev/null || fail "ZIP lacks the README of version $version"
    grep -q 'Apache License' "$top/LICENSE.txt" 2>/dev/null || fail "ZIP lacks the licence"
    shipped='kolvexforWindows.exe|README.txt|LICENSE.txt'
    if [ -n "$dll" ]; then
      cmp -s "$top/kolvex.dll" "$dll" || fail "ZIP lacks kolvex.dll as built"
      cmp -s "$top/kolvex.def" "$source/windows/kolvex.def" || fail "ZIP lacks kolvex.def"
      cmp -s "$top/kolvex_c.h" "$source/include/kolvex/kolvex_c.h" || fail "ZIP lacks kolvex_c.h"
      "$objdump" -t "$top/libkolvex.dll.a" 2>/dev/null | grep -q " ${imp}kolvex_collect\$" ||
        fail "ZIP lacks the import library libkolvex.dll.a"
      cmp -s "$top/kolvex.lib" "$build/windows/kolvex.lib" || fail "ZIP lacks kolvex.lib as built"
      shipped+='|kolvex.dll|kolvex.def|kolvex_c.h|libkolvex.dll.a|kolvex.lib'
    fi
    extra=$(cd "$top" && ls | grep -vxE "$shipped")
    [ -z "$extra" ] || fail "ZIP holds more: $extra"
    missing=$(tr '|' '\n' <<<"$shipped" | while read -r f; do [ -e "$top/$f" ] || echo "$f"; done)
    [ -z "$missing" ] || fail "ZIP lacks: $missing"
  else
    fail "no ${zip##*/}"
  fi
  # The debug ZIP unpacks into the same folder, beside the binaries: each
  # debug link then finds its file (and its checksum matches), with the
  # code's own symbols in it.
  debug_zip=$work/$name-debug.zip
  if [ -f "$debug_zip" ] && [ -d "$work/$name" ]; then
    debug=$(cd "$work" && cmake -E tar tf "$debug_zip" | sort | tr '\n' ' ')
    expected="$name/kolvexforWindows.exe.debug ${dll:+$name/kolvex.dll.debug }"
    [ "$debug" = "$(tr ' ' '\n' <<<"$expected" | sed '/^$/d' | sort | tr '\n' ' ')" ] ||
      fail "debug ZIP holds $debug"
    (cd "$work" && cmake -E tar xf "$debug_zip")
    echo "$name-debug.zip:"
    (cd "$top" && stat -c '%10s %n' *.debug)
    follow() {  # IMAGE FUNCTION: the DWARF entry of FUNCTION reached through the debug link
      "$objdump" --dwarf=follow-links --dwarf=info "$1" 2>/dev/null |
        grep -qE "DW_AT_name +: $2\$" || fail "${1##*/}: no debug information of $2 through the debug link"
    }
    follow "$top/kolvexforWindows.exe" GetWindowsSystemInfo
    [ -z "$dll" ] || follow "$top/kolvex.dll" kolvex_collect
  else
    fail "no ${debug_zip##*/}"
  fi
fi
[ $failures -eq 0 ] && echo "$system: manifest, version resource, imports, stripped binaries and ZIPs as expected"
[ $failures -eq 0 ]
