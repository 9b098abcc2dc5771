"""Checks the packages of scripts/dist.sh: each holds the library of every
platform where its ecosystem looks, of that platform's machine type (ELF
e_machine, PE machine), exporting the C interface's three functions.
    python3 check_package.py PACKAGE...   (.jar, .tgz, .nupkg, .whl)"""
import re, struct, sys, tarfile, zipfile

FUNCTIONS = {"kolvex_collect", "kolvex_collect_explained", "kolvex_version"}
# Per platform: machine type, then the library's place in a jar, tarball, NuGet package and wheel.
PLATFORMS = {
    "linux-x64": (62, "linux-x86-64/libkolvex.so", "package/prebuilds/linux-x64/libkolvex.so", "x86_64"),
    "linux-arm64": (183, "linux-aarch64/libkolvex.so", "package/prebuilds/linux-arm64/libkolvex.so", "aarch64"),
    "win-x64": (0x8664, "win32-x86-64/kolvex.dll", "package/prebuilds/win32-x64/kolvex.dll", "win_amd64"),
    "win-x86": (0x14C, "win32-x86/kolvex.dll", "package/prebuilds/win32-ia32/kolvex.dll", "win32"),
}


def elf(data):  # 64-bit little-endian: the machine and the defined global functions
    if data[:6] != b"\x7fELF\x02\x01":
        return None, set()
    shoff, = struct.unpack_from("<Q", data, 0x28)
    size, count = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * size) for i in range(count)]
    names = set()
    for s in (s for s in sections if s[1] == 11):  # SHT_DYNSYM
        strings = sections[s[6]][4]
        for at in range(s[4], s[4] + s[5], 24):
            name, info, _, index = struct.unpack_from("<IBBH", data, at)
            if index and info & 0xF == 2 and info >> 4 in (1, 2):
                names.add(data[strings + name:data.index(b"\0", strings + name)].decode())
    return struct.unpack_from("<H", data, 18)[0], names


def pe(data):  # the machine and the export directory's names
    at, = struct.unpack_from("<I", data, 0x3C) if data[:2] == b"MZ" else (0,)
    if data[at:at + 4] != b"PE\0\0":
        return None, set()
    machine, count, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, at + 4)
    magic, = struct.unpack_from("<H", data, at + 24)
    exports, = struct.unpack_from("<I", data, at + 24 + (96 if magic == 0x10B else 112))
    sections = [struct.unpack_from("<8sIIII", data, at + 24 + optional_size + 40 * i) for i in range(count)]
    offset = lambda rva: next(rva - va + raw for _, vs, va, rs, raw in sections if va <= rva < va + max(vs, rs))
    names = set()
    if exports:
        count, _, table = struct.unpack_from("<III", data, offset(exports) + 24)
        for i in range(count):
            start = offset(struct.unpack_from("<I", data, offset(table) + 4 * i)[0])
            names.add(data[start:data.index(b"\0", start)].decode())
    return machine, names


def check(package):
    if package.endswith(".tgz"):
        with tarfile.open(package) as tar:
            members = {m.name: tar.extractfile(m).read() for m in tar.getmembers() if m.isfile()}
    else:
        with zipfile.ZipFile(package) as z:
            members = {name: z.read(name) for name in z.namelist()}
    if package.endswith(".whl"):
        tag = re.search(r"-py3-none-(?:\w+\.)*(?:(?:many)?linux(?:_2_\d+|2014)?_)?(\w+)\.whl$", package)
        wanted = {p: "kolvex/" + v[1].split("/")[1] for p, v in PLATFORMS.items() if tag and v[3] == tag[1]}
        wheels.update(wanted)
    else:
        column = {".jar": 1, ".tgz": 2, ".nupkg": 1}[package[package.rindex("."):]]
        wanted = {p: v[column] for p, v in PLATFORMS.items()}
        if package.endswith(".nupkg"):
            wanted = {p: "runtimes/%s/native/%s" % (p, name.split("/")[1]) for p, name in wanted.items()}
    faults = [] if wanted else ["%s: no platform of the packages in its tag" % package]
    for platform, name in sorted(wanted.items()):
        machine, exports = (pe if name.endswith(".dll") else elf)(members.get(name, b""))
        if machine != PLATFORMS[platform][0]:
            faults.append("%s: %s is %s, not of %s's machine %d" % (package, name, "missing or no library" if machine is None
                          else "of machine %d" % machine, platform, PLATFORMS[platform][0]))
        elif not FUNCTIONS <= exports:
            faults.append("%s: %s does not export %s" % (package, name, ", ".join(sorted(FUNCTIONS - exports))))
    if not faults:
        print("%s: %s, each of its machine type, exporting the three functions"
              % (package.rsplit("/", 1)[-1], ", ".join(sorted(wanted.values()))))
    return faults


wheels = set()
faults = [fault for package in sys.argv[1:] for fault in check(package)]
if wheels and wheels != set(PLATFORMS):
    faults.append("no wheel for " + ", ".join(sorted(set(PLATFORMS) - wheels)))
for fault in faults:
    print("FAIL: " + fault)
sys.exit(1 if faults or len(sys.argv) < 2 else 0)
