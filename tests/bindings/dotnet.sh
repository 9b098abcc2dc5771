#!/usr/bin/env bash
# The C# binding (bindings/dotnet/): its sources built on their own as a
# library with Debian's mcs, its tests under mono against the build's
# libkolvex.so.1 (errors, parse, Tasks, failed loads), then its row on the
# stand-in machine. Not as root the machine row is skipped (said); as root a
# skip fails.
#   tests/bindings/dotnet.sh BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
"$src/scripts/install-deps.sh" mono-mcs mono-runtime
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/client
mkdir "$out"

mapfile -t sources < <(find "$src/bindings/dotnet" -name '*.cs' -not -path '*/tests/*' -not -path '*/samples/*' | sort)
mcs -target:library -warnaserror -out:"$out/Kolvex.dll" "${sources[@]}"
mcs -warnaserror -r:"$out/Kolvex.dll" -out:"$out/KolvexTests.exe" "$here/dotnet/KolvexTests.cs"

version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
grep -q "<Version>$version</Version>" "$src/bindings/dotnet/Kolvex.csproj" ||
  { echo "FAIL: dotnet: Kolvex.csproj does not carry the version $version"; exit 1; }
# A KOLVEX_LIBRARY set but empty is as if unset: the library search finds it.
(cd "$out" && KOLVEX_LIBRARY= LD_LIBRARY_PATH="$build/linux" mono KolvexTests.exe test "$version" \
  "$src/include/kolvex/kolvex_c.h" "$here/record_bytes.tsv")
for library in "$work/none/libkolvex.so.1" libc.so.6; do
  (cd "$out" && KOLVEX_LIBRARY=$library mono KolvexTests.exe unloadable)
done

status=0
bash "$here/machine.sh" "$build" "$out" dotnet -- mono KolvexTests.exe machine || status=$?
if [ $status -eq 77 ] && [ "$(id -u)" != 0 ]; then
  exit 0
fi
[ $status -eq 0 ] || { echo "FAIL: dotnet: the machine row (status $status)"; exit 1; }
