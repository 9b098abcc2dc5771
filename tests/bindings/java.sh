#!/usr/bin/env bash
# The Java binding (bindings/java/): its sources built on their own into
# kolvex.jar with javac and jar over Debian's JNA, its tests against the
# build's libkolvex.so.1 (errors, parse, threads, failed loads, an older
# library), then its row on the stand-in machine with the jar of
# scripts/dist.sh (KOLVEX_DIST_DIR, default dist/) on the class path. Not as root the machine row is skipped (said); as
# root a skip fails.
#   tests/bindings/java.sh BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
"$src/scripts/install-deps.sh" default-jdk-headless libjna-java
jna=/usr/share/java/jna.jar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/client
mkdir "$out" "$work/classes" "$out/tests"

mapfile -t sources < <(find "$src/bindings/java" -name '*.java' | sort)
# Class files for Java 8 and later, as older terminals run.
javac -Xlint:all -Werror --release 8 -cp "$jna" -d "$work/classes" "${sources[@]}"
printf 'Automatic-Module-Name: kolvex\n' >"$work/manifest"
jar --create --file "$out/kolvex.jar" --manifest "$work/manifest" -C "$work/classes" .
javac -Xlint:all -Werror -cp "$out/kolvex.jar:$jna" -d "$out/tests" "$here/java/kolvex/KolvexTest.java"

classpath="kolvex.jar:tests:$jna"
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
# A KOLVEX_LIBRARY set but empty is as if unset: the library search finds it.
(cd "$out" && KOLVEX_LIBRARY= LD_LIBRARY_PATH="$build/linux" java -cp "$classpath" kolvex.KolvexTest test "$version" \
  "$src/include/kolvex/kolvex_c.h" "$here/record_bytes.tsv")
# A library that reports an older version than the binding's is refused.
cc -shared -fPIC -o "$work/old.so" "$here/old_library.c"
# A library of the binding's name in another class path folder is not the
# jar's own: the system's is loaded, not this older one.
cp "$work/old.so" "$out/tests/libkolvex.so"
(cd "$out" && KOLVEX_LIBRARY= LD_LIBRARY_PATH="$build/linux" java -cp "$classpath" kolvex.KolvexTest test "$version" \
  "$src/include/kolvex/kolvex_c.h" "$here/record_bytes.tsv" >/dev/null) ||
  { echo "FAIL: java: a libkolvex.so in a class path folder was loaded"; exit 1; }
rm "$out/tests/libkolvex.so"
grep -qF "static final String VERSION = \"$version\";" "$src/bindings/java/kolvex/Kolvex.java" ||
  { echo "FAIL: java: bindings/java/kolvex/Kolvex.java does not carry the version $version"; exit 1; }
for library in "$work/none/libkolvex.so.1" libc.so.6 "$work/old.so"; do
  (cd "$out" && KOLVEX_LIBRARY=$library java -cp "$classpath" kolvex.KolvexTest unloadable) | tee -a "$work/load.out"
done
grep -qF "$work/old.so is kolvex 1.0.0, older than this binding ($version)" "$work/load.out" ||
  { echo "FAIL: java: a library older than the binding"; exit 1; }

dist=${KOLVEX_DIST_DIR:-$src/dist}
[ -f "$dist/kolvex-$version.jar" ] || "$src/scripts/dist.sh" "$dist" >/dev/null
cp "$dist/kolvex-$version.jar" "$out/"
status=0
bash "$here/machine.sh" "$build" "$out" java -- java -cp "kolvex-$version.jar:tests:$jna" kolvex.KolvexTest machine ||
  status=$?
if [ $status -eq 77 ] && [ "$(id -u)" != 0 ]; then
  exit 0
fi
[ $status -eq 0 ] || { echo "FAIL: java: the machine row (status $status)"; exit 1; }
