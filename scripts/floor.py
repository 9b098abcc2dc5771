#!/usr/bin/env python3
"""What a Linux binary needs of the system that loads it, read from its ELF
dynamic section and symbol versions (readelf reads either architecture).

The release floor is Python's manylinux2014: nothing newer than GLIBC_2.17,
no version of the host's C++ runtime (GLIBCXX_, CXXABI_, GCC_: ours is
linked in), and needed libraries only from manylinux2014's list.

    floor.py check PATH...   every Linux binary in each PATH (a binary, or a
                             .jar .whl .nupkg .zip .tgz .tar.gz .deb .rpm;
                             read with readelf, dpkg-deb, rpm2cpio and cpio),
                             one line each: the newest GLIBC version it needs
                             and the symbol that needs it; exit 1 past the floor.

dist.sh tags its wheels with linux_tag() from the same reading.
"""
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile

FLOOR = (2, 17)
# What every manylinux2014 system has (PEP 599), and our own library, which
# the program needs beside it.
SYSTEM_LIBRARIES = {
    "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0", "libgcc_s.so.1",
    "libstdc++.so.6", "libutil.so.1", "libresolv.so.2", "libnsl.so.1",
    "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
}
OURS = {"libkolvex.so.1"}
# The newest C++ runtime versions that manylinux_2_N promises, from its
# oldest distributions' C++ runtimes.
CXX_BASELINES = [
    (17, {"GLIBCXX": (3, 4, 19), "CXXABI": (1, 3, 7), "GCC": (4, 8, 0)}),
    (24, {"GLIBCXX": (3, 4, 22), "CXXABI": (1, 3, 10), "GCC": (4, 8, 0)}),
    (28, {"GLIBCXX": (3, 4, 25), "CXXABI": (1, 3, 11), "GCC": (7, 0, 0)}),
    (34, {"GLIBCXX": (3, 4, 29), "CXXABI": (1, 3, 13), "GCC": (7, 0, 0)}),
]


def requirements(path):
    """(needed libraries, {kind: (version, symbol)}) of the ELF file PATH:
    for GLIBC, GLIBCXX, CXXABI, GCC the newest version one of its undefined
    symbols asks for, and that symbol."""
    dynamic = subprocess.run(["readelf", "-dW", path], capture_output=True, text=True, check=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.*)\]", dynamic))
    symbols = subprocess.run(["readelf", "--dyn-syms", "-W", path], capture_output=True, text=True,
                             check=True).stdout
    newest = {}
    for name, kind, number in re.findall(r"\sUND\s+([^@\s]+)@([A-Z]+)_([0-9.]+)", symbols):
        version = tuple(int(n) for n in number.split("."))
        if kind not in newest or version > newest[kind][0]:
            newest[kind] = (version, name)
    return needed, newest


def linux_tag(library, arch):
    """The wheel platform tag LIBRARY earns: manylinux_2_N (with its legacy
    alias where there is one) as far as its needed libraries and symbol
    versions show; linux_ARCH otherwise."""
    needed, newest = requirements(library)
    glibc = newest.pop("GLIBC", (FLOOR, None))[0]
    cxx = next((minor for minor, limits in CXX_BASELINES
                if all(kind in limits and v <= limits[kind] for kind, (v, _) in newest.items())), None)
    if not needed <= SYSTEM_LIBRARIES or cxx is None or glibc[0] != 2:
        print("dist: %s: needs %s, symbol versions %s: linux_%s" % (library, sorted(needed), newest, arch))
        return "linux_" + arch
    minor = max(FLOOR[1], glibc[1], cxx)
    tag = "manylinux_2_%d_%s" % (minor, arch)
    return tag + ".manylinux2014_" + arch if minor == 17 else tag


def verdict(path):
    """One line on the ELF file PATH, and whether it is within the floor."""
    needed, newest = requirements(path)
    glibc = newest.get("GLIBC")
    line = "%s (%s)" % ("GLIBC_" + ".".join(map(str, glibc[0])), glibc[1]) if glibc else "no GLIBC version"
    faults = []
    if glibc and glibc[0] > FLOOR:
        faults.append("newer than GLIBC_%d.%d" % FLOOR)
    for kind in sorted(set(newest) - {"GLIBC"}):
        version, symbol = newest[kind]
        faults.append("needs %s_%s (%s)" % (kind, ".".join(map(str, version)), symbol))
    foreign = sorted(needed - SYSTEM_LIBRARIES - OURS)
    if foreign:
        faults.append("needs %s" % ", ".join(foreign))
    return line + ("; " + "; ".join(faults) if faults else ""), not faults


def members(path, folder):
    """The regular files of the package PATH, unpacked under FOLDER:
    (name inside the package, path on disk)."""
    name = os.path.basename(path)
    if name.endswith((".jar", ".whl", ".nupkg", ".zip")):
        with zipfile.ZipFile(path) as archive:
            archive.extractall(folder)
    elif name.endswith((".tgz", ".tar.gz")):
        with tarfile.open(path) as archive:
            archive.extractall(folder, members=[m for m in archive.getmembers() if m.isfile()])
    elif name.endswith((".deb", ".ddeb")):
        subprocess.run(["dpkg-deb", "-x", path, folder], check=True)
    elif name.endswith(".rpm"):
        cpio = subprocess.run(["rpm2cpio", path], capture_output=True, check=True).stdout
        subprocess.run(["cpio", "-idm", "--quiet", "-D", folder], input=cpio, check=True)
    else:
        return [(None, path)]
    found = []
    for top, _, files in os.walk(folder):
        for f in files:
            full = os.path.join(top, f)
            if not os.path.islink(full):
                found.append((os.path.relpath(full, folder), full))
    return sorted(found)


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def check(paths):
    bad = 0
    seen = 0
    for path in paths:
        with tempfile.TemporaryDirectory() as folder:
            for inside, full in members(path, folder):
                # Debug files (.debug, usr/lib/debug/) are loaded by no one.
                if not is_elf(full) or inside and ("/debug/" in "/" + inside or inside.endswith(".debug")):
                    continue
                seen += 1
                line, ok = verdict(full)
                bad += not ok
                label = os.path.basename(path) + ("!" + inside if inside else "")
                print("%s %s: %s" % ("ok  " if ok else "FAIL", label, line))
    if not seen:
        print("floor: no Linux binary in %s" % " ".join(paths))
        return 1
    print("floor: %d Linux binaries, %d past GLIBC_%d.%d / the host's C++ runtime" % ((seen, bad) + FLOOR))
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] != "check":
        sys.exit("usage: floor.py check PATH...")
    sys.exit(check(sys.argv[2:]))
