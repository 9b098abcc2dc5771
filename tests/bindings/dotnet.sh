#!/usr/bin/env bash
# The C# binding (bindings/dotnet/): its sources built on their own as a
# library with Debian's mcs, its tests under mono against the build's
# libkolvex.so.1 (errors, parse, Tasks, failed loads, an older library),
# then its row on the stand-in machine from the package of scripts/dist.sh
# (KOLVEX_DIST_DIR, default dist/), installed from a local feed by nobody. Not as root the machine row is skipped (said); as root a
# skip fails.
#   tests/bindings/dotnet.sh BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
"$src/scripts/install-deps.sh" mono-mcs mono-runtime nuget
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
# A library that reports an older version than the binding's is refused.
cc -shared -fPIC -o "$work/old.so" "$here/old_library.c"
grep -qF "internal const string BindingVersion = \"$version\";" "$src/bindings/dotnet/Native.cs" ||
  { echo "FAIL: dotnet: bindings/dotnet/Native.cs does not carry the version $version"; exit 1; }
for library in "$work/none/libkolvex.so.1" libc.so.6 "$work/old.so"; do
  (cd "$out" && KOLVEX_LIBRARY=$library mono KolvexTests.exe unloadable) | tee -a "$work/load.out"
done
grep -qF "$work/old.so is kolvex 1.0.0, older than this binding ($version)" "$work/load.out" ||
  { echo "FAIL: dotnet: a library older than the binding"; exit 1; }

dist=${KOLVEX_DIST_DIR:-$src/dist}
[ -f "$dist/Kolvex.$version.nupkg" ] || "$src/scripts/dist.sh" "$dist" >/dev/null
chmod 755 "$work"
mkdir "$work/app" "$work/feed" "$work/nuget"
cp "$dist/Kolvex.$version.nupkg" "$work/feed/"
cp "$out/KolvexTests.exe" "$work/app/"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown -R 65534:65534 "$work/app" "$work/nuget"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work/nuget" TMPDIR="$work/nuget" bash -euc 'cd "$1"
  nuget install Kolvex -Version "$2" -Source "$3" -OutputDirectory "$HOME/packages" -NonInteractive >/dev/null
  cp "$HOME/packages/Kolvex.$2/lib/netstandard2.0/Kolvex.dll" . && cp -r "$HOME/packages/Kolvex.$2/runtimes" .
' dotnet "$work/app" "$version" "$work/feed"
echo "dotnet: Kolvex.$version.nupkg installed from a local feed by $("${as_user[@]}" id -un)"
status=0
bash "$here/machine.sh" "$build" "$work/app" dotnet -- mono KolvexTests.exe machine || status=$?
if [ $status -eq 77 ] && [ "$(id -u)" != 0 ]; then
  exit 0
fi
[ $status -eq 0 ] || { echo "FAIL: dotnet: the machine row (status $status)"; exit 1; }
