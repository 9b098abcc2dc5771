"""Checks the packages of scripts/dist.sh: each holds the library of every
platform it is for, where its ecosystem looks, of that platform's machine
type (ELF e_machine, PE machine) and exporting the C interface's three
functions.
    python3 check_package.py PACKAGE...   (.jar, .tgz, .nupkg, .whl)"""
import re
import struct
import sys
import tarfile
import zipfile

FUNCTIONS = {"kolvex_collect", "kolvex_collect_explained", "kolvex_version"}
MACHINES = {"linux-x64": 62, "linux-arm64": 183, "win-x64": 0x8664, "win-x86": 0x14C}
FILES = {"linux-x64": "libkolvex.so", "linux-arm64": "libkolvex.so", "win-x64": "kolvex.dll", "win-x86": "kolvex.dll"}
# Each package's folder for each platform's library.
FOLDERS = {
    ".jar": {"linux-x64": "linux-x86-64", "linux-arm64": "linux-aarch64", "win-x64": "win32-x86-64", "win-x86": "win32-x86"},
    ".tgz": {p: "package/prebuilds/" + d for p, d in
             [("linux-x64", "linux-x64"), ("linux-arm64", "linux-arm64"), ("win-x64", "win32-x64"), ("win-x86", "win32-ia32")]},
    ".nupkg": {p: "runtimes/%s/native" % p for p in MACHINES},
}
WHEEL_TAGS = {"x86_64": "linux-x64", "aarch64": "linux-arm64", "win_amd64": "win-x64", "win32": "win-x86"}


def elf(data):
    # A 64-bit little-endian ELF: its machine and the functions its dynamic
    # symbol table defines.
    if data[:6] != b"\x7fELF\x02\x01":
        return None, set()
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]
    names = set()
    for s in sections:
        if s[1] != 11:  # SHT_DYNSYM
            continue
        strtab = sections[s[6]][4]
        for at in range(s[4], s[4] + s[5], 24):
            name, info, _, shndx = struct.unpack_from("<IBBH", data, at)
            if shndx != 0 and info & 0xF == 2 and info >> 4 in (1, 2):  # defined global function
                names.add(data[strtab + name:data.index(b"\0", strtab + name)].decode())
    return struct.unpack_from("<H", data, 18)[0], names


def pe(data):
    # A PE image: its machine and the names of its export directory.
    if data[:2] != b"MZ":
        return None, set()
    at, = struct.unpack_from("<I", data, 0x3C)
    if data[at:at + 4] != b"PE\0\0":
        return None, set()
    machine, count = struct.unpack_from("<HH", data, at + 4)
    optional_size, = struct.unpack_from("<H", data, at + 20)
    optional = at + 24
    magic, = struct.unpack_from("<H", data, optional)
    export_rva, = struct.unpack_from("<I", data, optional + (96 if magic == 0x10B else 112))
    sections = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i) for i in range(count)]

    def offset(rva):
        for _, size, address, raw_size, raw in sections:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise ValueError("RVA 0x%x outside every section" % rva)

    if export_rva == 0:
        return machine, set()
    count, _, names_rva = struct.unpack_from("<III", data, offset(export_rva) + 24)
    names = set()
    for i in range(count):
        start = offset(struct.unpack_from("<I", data, offset(names_rva) + 4 * i)[0])
        names.add(data[start:data.index(b"\0", start)].decode())
    return machine, names


def check(package):
    if package.endswith(".tgz"):
        with tarfile.open(package) as tar:
            members = {m.name: tar.extractfile(m).read() for m in tar.getmembers() if m.isfile()}
    else:
        with zipfile.ZipFile(package) as z:
            members = {name: z.read(name) for name in z.namelist()}
    kind = package[package.rindex("."):]
    if kind == ".whl":
        tag = re.search(r"-py3-none-(?:many)?(?:linux_(?:2_\d+_)?)?(\w+)\.whl$", package)
        platform = WHEEL_TAGS.get(tag.group(1) if tag else "")
        if platform is None:
            return ["%s: no platform of the packages in the wheel's tag" % package]
        wanted = {platform: "kolvex/" + FILES[platform]}
        wheels.add(platform)
    else:
        wanted = {p: "%s/%s" % (folder, FILES[p]) for p, folder in FOLDERS[kind].items()}
    faults = []
    for platform, name in sorted(wanted.items()):
        if name not in members:
            faults.append("%s: no %s" % (package, name))
            continue
        machine, exports = (pe if name.endswith(".dll") else elf)(members[name])
        if machine != MACHINES[platform]:
            faults.append("%s: %s is of machine %s, not %s's %d" % (package, name, machine, platform, MACHINES[platform]))
        if not FUNCTIONS <= exports:
            faults.append("%s: %s does not export %s" % (package, name, ", ".join(sorted(FUNCTIONS - exports))))
    if not faults:
        print("%s: %s, each of its machine type, exporting the three functions"
              % (package.rsplit("/", 1)[-1], ", ".join(sorted(wanted.values()))))
    return faults


wheels = set()
faults = [fault for package in sys.argv[1:] for fault in check(package)]
if wheels and wheels != set(MACHINES):
    faults.append("no wheel for %s" % ", ".join(sorted(set(MACHINES) - wheels)))
for fault in faults:
    print("FAIL: " + fault)
sys.exit(1 if faults or len(sys.argv) < 2 else 0)
