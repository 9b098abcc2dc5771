#!/usr/bin/env bash
# The Python binding (bindings/python) as its users get it: an ordinary user
# (nobody, when run as root) builds the wheel offline from a read-only copy
# of the binding, with pip's build isolation (setuptools and wheel from
# Debian's wheels), and installs it into a fresh venv; then the binding's own
# cases (tests/bindings/python/test_kolvex.py) against the real
# libkolvex.so.1 of BUILD; then this platform's wheel of scripts/dist.sh
# (KOLVEX_DIST_DIR, default dist/) in a venv of its own, and its row on the
# stand-in machine.
#   tests/bindings/python.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
"$src/scripts/install-deps.sh" python3 python3-venv python3-pip python3-setuptools python3-wheel \
  python3-setuptools-whl python3-wheel-whl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# The package's version is the product's.
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
got=$(sed -n 's/^version = "\(.*\)"$/\1/p' "$src/bindings/python/pyproject.toml")
[ "$got" = "$version" ] ||
  { echo "FAIL: bindings/python/pyproject.toml gives version $got, the product is $version"; exit 1; }
grep -qx "_VERSION = \"$version\"" "$src/bindings/python/kolvex/__init__.py" ||
  { echo "FAIL: bindings/python/kolvex/__init__.py does not carry the version $version"; exit 1; }

mkdir -p "$work/src/bindings" "$work/user" "$work/lib" "$work/client"
tar -C "$src/bindings" --exclude=build --exclude='*.egg-info' --exclude=__pycache__ -cf - python |
  tar -C "$work/src/bindings" -xf -
chmod -R a-w,a+rX "$work/src"
cp -L "$build/linux/libkolvex.so.1" "$work/lib/"
# A library that reports an older version than the binding's.
cc -shared -fPIC -o "$work/lib/old.so" "$here/old_library.c"
dist=${KOLVEX_DIST_DIR:-$src/dist}
[ -f "$dist/kolvex-$version.jar" ] || "$src/scripts/dist.sh" "$dist" >/dev/null
wheel=("$dist"/kolvex-"$version"-py3-none-*linux*_"$(uname -m)".whl)
cp "${wheel[0]}" "$work/lib/"
cp "$here/python/test_kolvex.py" "$here/python/machine_client.py" "$src/include/kolvex/kolvex_c.h" \
  "$here/record_bytes.tsv" "$work/client/"
chmod -R a+rX "$work/lib" "$work/client"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown 65534:65534 "$work/user"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work/user" bash -euo pipefail -c '
  cd "$1"
  /usr/bin/python3 -m pip wheel --quiet --no-index --find-links /usr/share/python-wheels --no-deps -w wheels \
    "$2/src/bindings/python"
  /usr/bin/python3 -m venv venv
  venv/bin/pip install --quiet --no-index wheels/kolvex-"$3"-py3-none-any.whl
  got=$(venv/bin/python -c "import importlib.metadata as m; print(m.version(\"kolvex\"))")
  [ "$got" = "$3" ] || { echo "FAIL: importlib.metadata.version(\"kolvex\") is $got in the venv, not $3"; exit 1; }
  venv/bin/python -c "import kolvex, pathlib; assert (pathlib.Path(kolvex.__file__).parent / \"py.typed\").is_file()" ||
    { echo "FAIL: the wheel lacks py.typed"; exit 1; }
  cd "$2/client"
  LD_LIBRARY_PATH="$2/lib" "$1/venv/bin/python" test_kolvex.py "$3" kolvex_c.h "$2/lib/libkolvex.so.1" record_bytes.tsv \
    "$2/lib/old.so" >"$1/test.log" 2>&1 || { cat "$1/test.log"; exit 1; }
  echo "python binding: $(grep "^Ran " "$1/test.log"): $(tail -n 1 "$1/test.log")"
  /usr/bin/python3 -m venv "$1/package"
  "$1/package/bin/pip" install --quiet --no-index "$4"
' python "$work/user" "$work" "$version" "$work/lib/${wheel[0]##*/}"
echo "python: wheel kolvex-$version built from a read-only tree and installed in a venv by $("${as_user[@]}" id -un)"
echo "python: ${wheel[0]##*/} installed in a venv of its own"

status=0
"$here/machine.sh" "$build" "$work/client" python -- "$work/user/package/bin/python" machine_client.py || status=$?
if [ $status -eq 77 ] && [ "$(id -u)" = 0 ]; then
  echo "FAIL: python: the machine row was skipped as root"
  exit 1
fi
[ $status -eq 0 ] || [ $status -eq 77 ] || exit 1
