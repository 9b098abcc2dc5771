#!/usr/bin/env bash
# The Java binding (bindings/java/): its sources built on their own into
# kolvex.jar with javac and jar over Debian's JNA, its tests against the
# build's libkolvex.so.1 (errors, parse, threads, a failed load), then its row
# on the stand-in machine. Not as root the machine row is skipped (said); as
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
(cd "$out" && KOLVEX_LIBRARY="$build/linux/libkolvex.so.1" java -cp "$classpath" kolvex.KolvexTest test "$version")
(cd "$out" && KOLVEX_LIBRARY="$work/none/libkolvex.so.1" java -cp "$classpath" kolvex.KolvexTest unloadable)

status=0
bash "$here/machine.sh" "$build" "$out" java -- java -cp "$classpath" kolvex.KolvexTest machine || status=$?
if [ $status -eq 77 ] && [ "$(id -u)" != 0 ]; then
  exit 0
fi
[ $status -eq 0 ] || { echo "FAIL: java: the machine row (status $status)"; exit 1; }
