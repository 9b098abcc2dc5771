#!/usr/bin/env bash
# The whole release, written into OUTPUT_DIR (default dist/): one package
# per language, each holding the library for Linux x86-64 and arm64 and
# Windows x64 and x86 in its ecosystem's own layout, and the packages of the
# systems themselves:
#   kolvex-VERSION.jar            classes (Java 8) and linux-x86-64/, linux-aarch64/,
#                                 win32-x86-64/, win32-x86/ (JNA's resource layout)
#   kolvex-VERSION.tgz            npm pack: prebuilds/{linux-x64,linux-arm64,win32-x64,win32-ia32}/
#   kolvex-VERSION-py3-none-PLATFORM.whl   one wheel per platform, the library beside the module
#   Kolvex.VERSION.nupkg          lib/netstandard2.0/Kolvex.dll, runtimes/<rid>/native/
#   *_VERSION_{amd64,arm64,all}.deb, .ddeb   the Debian packages
#   kolvex*-VERSION-1.{x86_64,aarch64}.rpm   the rpm set
#   kolvexforlinux-VERSION-linux-{x64,arm64}.tar.gz   runs where it is unpacked
#   kolvexforWindows-VERSION-{win64,win32}[-debug].zip
#   scripts/dist.sh [OUTPUT_DIR]
# The Linux binaries are built in a Debian 11 root (scripts/release-root.sh,
# scripts/release-linux.sh) in KOLVEX_RELEASE_DIR (default
# build-dist/release, inside this checkout)/linux-{x64,arm64}, so that they
# load on glibc 2.17 and later without the host's C++ runtime: needs root.
# The Windows libraries come from the Windows stage's build trees when they
# hold one (rebuilt there first, so they are of the sources at hand):
# KOLVEX_WINDOWS_BUILD_DIR (default build-windows), KOLVEX_WINDOWS_X86_BUILD_DIR
# (build-windows-x86); a missing one is built here in build-dist/PLATFORM.
# Installs what it needs when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
mkdir -p "${1:-dist}"
out=$(cd "${1:-dist}" && pwd)
version=$(sed -n 's/^project(kolvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
jobs=${KOLVEX_JOBS:-2}

scripts/install-deps.sh cmake make g++ binutils g++-aarch64-linux-gnu binutils-aarch64-linux-gnu \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix default-jdk-headless libjna-java mono-mcs \
  python3 python3-pip python3-setuptools python3-wheel mmdebstrap util-linux
command -v node >/dev/null && command -v npm >/dev/null || scripts/install-deps.sh nodejs npm
jna=/usr/share/java/jna.jar

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check_native PLATFORM FILE: fails loudly unless FILE is a library of this
# release that a host may load: the platform's machine type, this version's
# text inside, and no sanitizer runtime needed (an instrumented library
# aborts the host that loads it).
check_native() {
  local platform=$1 file=$2 machine
  fail() {
    echo "dist: $file: $1; not shipped" >&2
    exit 1
  }
  case $platform in
    linux-*)
      machine=$(readelf -hW "$file" 2>/dev/null | sed -n 's/^ *Machine: *//p')
      [ "$machine" = "$(case $platform in linux-x64) echo "Advanced Micro Devices X86-64" ;;
        *) echo AArch64 ;; esac)" ] || fail "not a $platform library (machine '$machine')"
      if grep -Eq '\[lib(a|hwa|t|ub|l)san[.]so|__(a|hwa|t|ub)san_|__sanitizer_' \
        <<<"$(readelf -dW --dyn-syms "$file")"; then
        fail "an instrumented (sanitizer) build"
      fi ;;
    win-*)
      machine=$(x86_64-w64-mingw32-objdump -f "$file" 2>/dev/null | sed -n 's/.*file format //p')
      [ "$machine" = "$(case $platform in win-x64) echo pei-x86-64 ;; *) echo pei-i386 ;; esac)" ] ||
        fail "not a $platform library (format '$machine')" ;;
  esac
  # The version text kolvex_version() returns, at the end of a string (the
  # byte before it may be any other constant's).
  grep -Eq "(^|[^0-9.])${version//./[.]}\$" <<<"$(strings -a "$file")" ||
    fail "not kolvex $version (a stale build?)"
}

# native PLATFORM TREE FILE TOOLCHAIN: the library of a build tree, brought
# up to date with the sources there, or of build-dist/PLATFORM, built here
# with the toolchain file when missing; checked either way.
native() {
  local tree=$2 target
  target=$(case $3 in *.dll) echo kolvex_dll ;; *) echo kolvex ;; esac)
  if [ -f "$tree/$3" ] && [ -f "$tree/CMakeCache.txt" ]; then
    cmake --build "$tree" --target "$target" -j"$jobs" >/dev/null ||
      { echo "dist: $tree: the library does not build" >&2; exit 1; }
  elif [ ! -f "$tree/$3" ]; then
    tree=build-dist/$1
    local toolchain=()
    [ -z "$4" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchains/$4")
    echo "dist: building the library for $1 in $tree" >&2
    cmake -S . -B "$tree" "${toolchain[@]}" -DKOLVEX_BUILD_TESTS=OFF -DKOLVEX_BUILD_BENCHMARKS=OFF \
      -DKOLVEX_WARNINGS_AS_ERRORS=ON >/dev/null
    cmake --build "$tree" --target "$target" -j"$jobs" >/dev/null
  fi
  check_native "$1" "$tree/$3"
  echo "$(cd "$tree" && pwd)/$3"
}

# The Linux release of ARCH, built in the Debian 11 root unless its tree
# holds a library already and no build configuration (a library given as
# it is); checked either way. Its packages land in TREE/packages.
release=$(realpath -m "${KOLVEX_RELEASE_DIR:-build-dist/release}")
linux_release() {
  local tree=$release/linux-$1
  if [ -f "$tree/CMakeCache.txt" ] || [ ! -f "$tree/linux/libkolvex.so.1" ]; then
    case $tree/ in "$src"/*) ;; *) echo "dist: $tree: the release trees must lie inside $src" >&2; exit 1 ;; esac
    echo "dist: building the Linux $1 release in the Debian 11 root, in $tree" >&2
    rm -rf "$tree/packages"
    scripts/release-root.sh run "$src/scripts/release-linux.sh" "$1" "$tree" "$tree/packages" >&2 ||
      { echo "dist: the Linux $1 release does not build" >&2; exit 1; }
  fi
  check_native "linux-$1" "$tree/linux/libkolvex.so.1"
  echo "$tree/linux/libkolvex.so.1"
}

# The four libraries under their platforms' names, the Linux ones stripped
# (the Windows build strips its DLL itself).
linux_x64=$(linux_release x64)
linux_arm64=$(linux_release arm64)
win_x64=$(native win-x64 "${KOLVEX_WINDOWS_BUILD_DIR:-build-windows}" windows/kolvex.dll mingw-w64-x86_64.cmake)
win_x86=$(native win-x86 "${KOLVEX_WINDOWS_X86_BUILD_DIR:-build-windows-x86}" windows/kolvex.dll mingw-w64-i686.cmake)
mkdir -p "$work/natives"/{linux-x64,linux-arm64,win-x64,win-x86}
strip --strip-unneeded -o "$work/natives/linux-x64/libkolvex.so" "$linux_x64"
aarch64-linux-gnu-strip --strip-unneeded -o "$work/natives/linux-arm64/libkolvex.so" "$linux_arm64"
cp "$win_x64" "$work/natives/win-x64/"
cp "$win_x86" "$work/natives/win-x86/"
# natives_as DIR A B C D: the four libraries under DIR/A ... DIR/D, in the
# order linux-x64, linux-arm64, win-x64, win-x86.
natives_as() {
  local dir=$1 platform
  shift
  for platform in linux-x64 linux-arm64 win-x64 win-x86; do
    mkdir -p "$dir/$1"
    cp "$work/natives/$platform"/* "$dir/$1/"
    shift
  done
}
rm -f "$out"/kolvex-"$version".jar "$out"/kolvex-"$version".tgz "$out"/kolvex-"$version"-*.whl \
  "$out"/Kolvex."$version".nupkg "$out"/*_"$version"_*.deb "$out"/*_"$version"_*.ddeb \
  "$out"/kolvex*-"$version"-*.rpm "$out"/kolvexforlinux-"$version"-linux-*.tar.gz \
  "$out"/kolvexforWindows-"$version"-*.zip

# The systems' own packages: the Linux releases' and the Windows ZIPs, made
# from the trees whose DLLs the language packages carry.
cp "${linux_x64%/linux/*}"/packages/* "${linux_arm64%/linux/*}"/packages/* "$out/"
for dll in "$win_x64" "$win_x86"; do
  (cd "${dll%/windows/*}" && cpack -G ZIP -B "$work/zip" >/dev/null) ||
    { echo "dist: ${dll%/windows/*}: no Windows ZIPs" >&2; exit 1; }
done
cp "$work"/zip/kolvexforWindows-"$version"-*.zip "$out/"

# Java: the classes for Java 8 and later, the natives where JNA looks for
# them on the class path.
mkdir -p "$work/java"
javac -Xlint:all -Werror --release 8 -cp "$jna" -d "$work/java" bindings/java/kolvex/*.java
natives_as "$work/java" linux-x86-64 linux-aarch64 win32-x86-64 win32-x86
printf 'Automatic-Module-Name: kolvex\nImplementation-Title: kolvex\nImplementation-Version: %s\n' "$version" \
  >"$work/manifest"
cp LICENSE "$work/java/"
jar --create --file "$out/kolvex-$version.jar" --manifest "$work/manifest" -C "$work/java" .

# Node: npm pack of a copy with the natives under prebuilds/.
tar -C bindings --exclude=node_modules --exclude=prebuilds -cf - node | tar -C "$work" -xf -
natives_as "$work/node/prebuilds" linux-x64 linux-arm64 win32-x64 win32-ia32
(cd "$work/node" && npm pack --pack-destination "$out" --no-audit --no-fund --loglevel=error >/dev/null)

# C#: the assembly, built with mono's mcs, and the natives by runtime
# identifier, in a package as NuGet writes one (a zip with the .nuspec, the
# part types and the relationship to the manifest).
mkdir -p "$work/nupkg/lib/netstandard2.0"
mcs -target:library -warnaserror -out:"$work/nupkg/lib/netstandard2.0/Kolvex.dll" bindings/dotnet/*.cs
natives_as "$work/nupkg/runtimes" linux-x64/native linux-arm64/native win-x64/native win-x86/native
cp LICENSE "$work/nupkg/"

# Python: the pure wheel, then one wheel per platform with its native beside
# the module.
/usr/bin/python3 -m pip wheel --quiet --no-build-isolation --no-index --no-deps -w "$work/wheel" ./bindings/python
/usr/bin/python3 - "$work" "$out" "$version" <<'EOF'
import base64, hashlib, os, re, sys, zipfile

work, out, version = sys.argv[1:4]


def add(archive, name, data):
    info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
    info.external_attr = 0o644 << 16
    archive.writestr(info, data, zipfile.ZIP_DEFLATED)


# NuGet's layout: the manifest, the part types, the relationship to it.
nuspec = """<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>Kolvex</id>
    <version>%s</version>
    <authors>kolvex developers</authors>
    <license type="expression">Apache-2.0</license>
    <description>The kolvex terminal identity collector, with its library for Linux x64 and arm64 and Windows x64 and x86</description>
    <dependencies>
      <group targetFramework=".NETStandard2.0" />
    </dependencies>
  </metadata>
</package>
""" % version
types = """<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="so" ContentType="application/octet" />
  <Default Extension="txt" ContentType="application/octet" />
  <Override PartName="/LICENSE" ContentType="application/octet" />
</Types>
"""
rels = """<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/Kolvex.nuspec" Id="R1" />
</Relationships>
"""
with zipfile.ZipFile(os.path.join(out, "Kolvex.%s.nupkg" % version), "w") as nupkg:
    add(nupkg, "_rels/.rels", rels)
    add(nupkg, "Kolvex.nuspec", nuspec)
    add(nupkg, "[Content_Types].xml", types)
    root = os.path.join(work, "nupkg")
    for folder, _, files in sorted(os.walk(root)):
        for f in sorted(files):
            path = os.path.join(folder, f)
            with open(path, "rb") as data:
                add(nupkg, os.path.relpath(path, root), data.read())

sys.path.insert(0, os.path.abspath("scripts"))  # dist.sh runs in the checkout
from floor import linux_tag


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d\n" % (name, digest, len(data))


pure = os.path.join(work, "wheel", "kolvex-%s-py3-none-any.whl" % version)
natives = os.path.join(work, "natives")
for platform, native in [("linux-x64", "libkolvex.so"), ("linux-arm64", "libkolvex.so"),
                         ("win-x64", "kolvex.dll"), ("win-x86", "kolvex.dll")]:
    library = os.path.join(natives, platform, native)
    tag = {"win-x64": "win_amd64", "win-x86": "win32"}.get(platform) or linux_tag(
        library, {"linux-x64": "x86_64", "linux-arm64": "aarch64"}[platform])
    info = "kolvex-%s.dist-info/" % version
    records = []
    with zipfile.ZipFile(pure) as source, \
            zipfile.ZipFile(os.path.join(out, "kolvex-%s-py3-none-%s.whl" % (version, tag)), "w") as wheel:
        with open(library, "rb") as f:
            members = [("kolvex/" + native, f.read())]
        for name in source.namelist():
            data = source.read(name)
            if name == info + "WHEEL":
                data = re.sub(rb"Root-Is-Purelib: true", b"Root-Is-Purelib: false", data)
                # A compressed tag set (manylinux_2_17_x86_64.manylinux2014_x86_64)
                # is one Tag line each.
                data = data.replace(b"Tag: py3-none-any\n", b"".join(
                    b"Tag: py3-none-" + t.encode() + b"\n" for t in tag.split(".")))
            if name != info + "RECORD":
                members.append((name, data))
        for name, data in members:
            add(wheel, name, data)
            records.append(record_line(name, data))
        add(wheel, info + "RECORD", "".join(records) + info + "RECORD,,\n")
EOF
echo "dist: kolvex $version in $out"
(cd "$out" && ls -l kolvex-"$version".jar kolvex-"$version".tgz kolvex-"$version"-*.whl Kolvex."$version".nupkg \
  ./*_"$version"_*.deb ./*_"$version"_*.ddeb kolvex*-"$version"-*.rpm kolvexforlinux-"$version"-linux-*.tar.gz \
  kolvexforWindows-"$version"-*.zip | awk '{sub("^./", "", $NF); print $5, $NF}')
