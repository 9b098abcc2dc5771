#!/usr/bin/env python3
"""The checker must reject wrong collector output, not only accept right output;
the harness must put the right files into the guest.

Fixtures are real outputs of the sata_ahci machine (tests/e2e/fixtures); each
case damages one thing a faulty collector could get wrong and expects the
checker to name it.
"""

import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import check  # noqa: E402
import run_vm  # noqa: E402

# Guest clock around the recorded runs.
PROGRAM_T0, PROGRAM_T1 = 1796640309, 1796640310
CLIENT_T0, CLIENT_T1 = 1796640310, 1796640310

SATA = check.Expect(ip1="192.168.100.23", mac1="525400abcd01", name="terminal-", os="6.1.0",
                    disk="SATA 0123456789A", cpu="EFCDAB8967452301", bios="VMSER-0123",
                    flags=0)
# Recorded later, on the machine without a processor-id of its own: an
# ordinary user gets the disk serial from sysfs and the CPU ID from CPUID,
# only the BIOS serial stays empty.
UID1000_T0, UID1000_T1 = 1796650897, 1796650898
SATA_UID1000 = check.Expect(ip1="192.168.100.23", mac1="525400abcd01", name="terminal-",
                            os="6.1.0", disk="SATA 0123456789A", cpu="B10F0600FDFB8B07",
                            flags=0x100)


def fixture(name):
    with open(os.path.join(HERE, "fixtures", name), "rb") as f:
        return f.read()


def result(stdout, t0, t1, rc="0"):
    return check.RunResult(stdout=stdout, stderr=b"", rc=rc, t0=t0, t1=t1)


def replace_once(data, old, new):
    assert data.count(old) >= 1, old
    return data.replace(old, new, 1)


class ProgramOutput(unittest.TestCase):
    def setUp(self):
        self.good = fixture("sata_ahci_program.out")

    def problems(self, stdout, expect=SATA, t0=PROGRAM_T0, t1=PROGRAM_T1, rc="0"):
        return check.check_program(result(stdout, t0, t1, rc), expect)

    def test_recorded_output_passes(self):
        self.assertEqual(self.problems(self.good), [])

    def test_faults_are_reported(self):
        record = check.record_from_program(self.good)
        lines = self.good.split(b"\n")
        progress = [l for l in lines if check.PROGRESS_LINE.match(l)]
        cases = [
            # (what the collector got wrong, damaged output, words the report must hold)
            ("disk serial cut at 17",
             self.good.replace(b"SATA 0123456789A", b"SATA 0123456789AB"), "disk"),
            ("disk serial not trimmed",
             self.good.replace(b"SATA 0123456789A", b"SATA  0123456789"), "disk"),
            ("separator missing",
             self.good.replace(b"terminal-@6.1.0", b"terminal-6.1.0"), "items"),
            ("summary disagrees with the record",
             replace_once(self.good, "设备名: terminal-".encode("gbk"),
                          "设备名: terminal-sata".encode("gbk")), "summary"),
            ("summary label not GBK",
             replace_once(self.good, "设备名: ".encode("gbk"), "设备名: ".encode("utf-8")),
             "summary"),
            ("a progress line missing",
             self.good.replace(progress[3] + b"\n", b""), "progress log"),
            ("progress lines out of order",
             self.good.replace(progress[1], b"TMP").replace(progress[2], progress[1])
             .replace(b"TMP", progress[2]), "progress log"),
            ("a stray diagnostic",
             self.good.replace(progress[10], b"status=0x2\n" + progress[10]), "diagnostics"),
            ("banner changed",
             self.good.replace(check.BANNER, b"kolvex for linux version 1.1.3"), "banner"),
            ("record line missing",
             self.good.replace(b"CollectData = [" + record + b"]\n", b""), "CollectData"),
            ("exit status",
             self.good, "exit status"),
        ]
        for what, damaged, words in cases:
            with self.subTest(what):
                rc = "1" if what == "exit status" else "0"
                if rc == "0":
                    self.assertNotEqual(damaged, self.good, what)
                found = self.problems(damaged, rc=rc)
                self.assertTrue(any(words in p for p in found), f"{what}: {found}")

    def test_time_outside_the_run(self):
        found = self.problems(self.good, t0=PROGRAM_T1 + 1, t1=PROGRAM_T1 + 5)
        self.assertTrue(any("collection time" in p for p in found), found)

    def test_wrong_expectation_fails(self):
        for field, value in (("ip1", "192.168.100.24"), ("mac2", "525400abcd02"),
                             ("name", "terminal-s"), ("bios", "VMSER-012"),
                             ("cpu", "EFCDAB8967452300")):
            with self.subTest(field):
                expect = check.Expect(**{**SATA.__dict__, field: value})
                self.assertTrue(any(field in p for p in self.problems(self.good, expect)))

    def test_inconsistent_flags_in_table(self):
        expect = check.Expect(**{**SATA.__dict__, "flags": 0x40})
        self.assertTrue(any("inconsistent" in p for p in self.problems(self.good, expect)))


class ClientOutput(unittest.TestCase):
    def setUp(self):
        self.good = fixture("sata_ahci_client.out")
        self.unprivileged = fixture("sata_ahci_client_uid1000.out")

    def problems(self, stdout, expect=SATA, t0=CLIENT_T0, t1=CLIENT_T1):
        return check.check_client(result(stdout, t0, t1), expect)

    def test_recorded_outputs_pass(self):
        self.assertEqual(self.problems(self.good), [])
        self.assertEqual(self.problems(self.unprivileged, SATA_UID1000, UID1000_T0, UID1000_T1),
                         [])

    def test_faults_are_reported(self):
        info = b"bytes=01:30:1a:0c:07:0a:2d:0a:54:ee"
        unaes = b"bytes=01:30:1a:0c:07:0a:2d:0a:ee:ee"
        cases = [
            ("status character '3' though complete",
             self.good.replace(info, b"bytes=01:33:1a:0c:07:0a:2d:0a:54:ee"), "status byte"),
            ("format byte", self.good.replace(info, b"bytes=00:30:1a:0c:07:0a:2d:0a:54:ee"),
             "format byte"),
            ("no 'T'", self.good.replace(info, b"bytes=01:30:1a:0c:07:0a:2d:0a:00:ee"),
             "'T'"),
            ("writes past the header",
             self.good.replace(unaes, b"bytes=01:30:1a:0c:07:0a:2d:0a:54:ee"), "wrote past"),
            ("month counted from 0",
             self.good.replace(info, b"bytes=01:30:1a:0b:07:0a:2d:0a:54:ee"), "header time"),
            ("year not minus 2000",
             self.good.replace(info, b"bytes=01:30:7e:0c:07:0a:2d:0a:54:ee"), "header time"),
            ("header length", self.good.replace(b"flags=0x0 len=9", b"flags=0x0 len=8"), "len"),
            ("record length",
             self.good.replace(b"len=112 strlen=112", b"len=111 strlen=112"), "len"),
            ("flags", self.good.replace(b"unaes t0=1796640310 t1=1796640310 flags=0x0",
                                        b"unaes t0=1796640310 t1=1796640310 flags=0x40"),
             "flags"),
            ("version text",
             self.good.replace(check.API_VERSION.encode(), b"pelm_tst_1.0_20230419_4067"),
             "version"),
            ("record printed once", self.good.replace(b" client data : ", b" client  data: ", 1),
             "client data"),
            ("printed record differs", self.good.replace(b" client data : 2@", b" client data : 1@"),
             "terminal type"),
        ]
        for what, damaged, words in cases:
            with self.subTest(what):
                self.assertNotEqual(damaged, self.good, what)
                found = self.problems(damaged)
                self.assertTrue(any(words in p for p in found), f"{what}: {found}")

    def test_started_processes_and_pipeline_values(self):
        expect = check.Expect(**{**SATA.__dict__, "started": 0, "pipelines": True})
        good = (replace_once(self.good, b"strlen=112 record=", b"strlen=112 started=0 record=")
                + b"kolvex-e2e pipelines cpu=[EFCDAB8967452301] bios=[VMSER-0123456789]\n")
        self.assertEqual(self.problems(good, expect), [])
        for what, damaged, words in [
                ("a process started", good.replace(b"started=0", b"started=1"), "started"),
                ("the pipeline gives another serial",
                 good.replace(b"bios=[VMSER", b"bios=[XMSER"), "pipeline"),
                ("no pipeline line", good.replace(b"kolvex-e2e pipelines", b""), "pipelines")]:
            with self.subTest(what):
                found = self.problems(damaged, expect)
                self.assertTrue(any(words in p for p in found), f"{what}: {found}")

    def test_unprivileged_run_is_not_a_complete_one(self):
        expect = check.Expect(**{**SATA.__dict__, "cpu": SATA_UID1000.cpu})
        found = self.problems(self.unprivileged, expect, UID1000_T0, UID1000_T1)
        for item in ("bios", "flags", "status byte"):
            self.assertTrue(any(item in p for p in found), f"{item}: {found}")


# --------------------------------------------------------------------------
# The harness's reading of another architecture's programs: which shared
# objects go into the guest, read from the ELF files rather than from ldd.
# --------------------------------------------------------------------------

def make_elf(interp=None, needed=(), runpath=None, rpath=None, base=0x10000):
    """A minimal 64-bit little-endian ELF image: one PT_LOAD mapping the whole
    file at base (so addresses differ from file offsets), PT_INTERP and
    PT_DYNAMIC as asked."""
    strtab = b"\0"
    offsets = {}
    for name in list(needed) + [runpath, rpath]:
        if name is not None and name not in offsets:
            offsets[name] = len(strtab)
            strtab += name.encode() + b"\0"
    dyn = [(1, offsets[n]) for n in needed]
    if runpath is not None:
        dyn.append((29, offsets[runpath]))
    if rpath is not None:
        dyn.append((15, offsets[rpath]))
    phnum = 3 if interp else 2
    interp_off = 64 + phnum * 56
    interp_bytes = interp.encode() + b"\0" if interp else b""
    strtab_off = interp_off + len(interp_bytes)
    dyn_off = strtab_off + len(strtab)
    dyn.insert(0, (5, base + strtab_off))           # DT_STRTAB, an address
    dynamic = b"".join(run_vm.struct.pack("<qQ", t, v) for t, v in dyn + [(0, 0)])
    size = dyn_off + len(dynamic)
    header = bytearray(64)
    header[:8] = b"\x7fELF\x02\x01\x01\x00"
    run_vm.struct.pack_into("<Q", header, 0x20, 64)
    run_vm.struct.pack_into("<HH", header, 0x36, 56, phnum)
    phdr = lambda t, off, size: run_vm.struct.pack("<IIQQQQQQ", t, 4, off, base + off, 0,
                                                   size, size, 8)
    phdrs = phdr(1, 0, size) + phdr(2, dyn_off, len(dynamic))
    if interp:
        phdrs += phdr(3, interp_off, len(interp_bytes))
    return bytes(header) + phdrs + interp_bytes + strtab + dynamic


class ElfReading(unittest.TestCase):
    def test_dynamic_facts(self):
        cases = [
            # (what, image, interpreter, needed, run path)
            ("static program", make_elf(), None, [], []),
            ("interpreter and needed in order",
             make_elf("/lib/ld-linux-aarch64.so.1", ["libkolvex.so.1", "libc.so.6"]),
             "/lib/ld-linux-aarch64.so.1", ["libkolvex.so.1", "libc.so.6"], []),
            # The string table is found through its address, not its offset.
            ("string table at an address", make_elf(needed=["libc.so.6"], base=0x400000),
             None, ["libc.so.6"], []),
            ("run path split at colons", make_elf(needed=["a.so"], runpath="/b/one:/b/two"),
             None, ["a.so"], ["/b/one", "/b/two"]),
            ("old-style RPATH", make_elf(needed=["a.so"], rpath="/b/old"), None, ["a.so"],
             ["/b/old"]),
        ]
        with tempfile.TemporaryDirectory() as d:
            for what, image, interp, needed, runpath in cases:
                with self.subTest(what):
                    path = os.path.join(d, "elf")
                    with open(path, "wb") as f:
                        f.write(image)
                    self.assertEqual(run_vm.read_elf(path), run_vm.Elf(interp, needed, runpath))

    def test_other_files_are_refused(self):
        with tempfile.TemporaryDirectory() as d:
            for what, image in (("32-bit", b"\x7fELF\x01\x01" + bytes(58)),
                                ("big-endian", b"\x7fELF\x02\x02" + bytes(58)),
                                ("script", b"#!/bin/sh\n" + bytes(60))):
                with self.subTest(what):
                    path = os.path.join(d, "f")
                    with open(path, "wb") as f:
                        f.write(image)
                    with self.assertRaises(RuntimeError):
                        run_vm.read_elf(path)


class GuestRoot(unittest.TestCase):
    """An unpacked root laid out like Debian's arm64 packages (usrmerge links,
    absolute and relative symbolic links), and a build tree outside it."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = os.path.join(self.tmp.name, "root")
        self.build = os.path.join(self.tmp.name, "build")
        t = "aarch64-linux-gnu"
        for d in (f"usr/lib/{t}", "usr/bin"):
            os.makedirs(os.path.join(self.root, d))
        os.makedirs(self.build)
        os.symlink("usr/lib", os.path.join(self.root, "lib"))
        self.put(f"usr/lib/{t}/ld-linux-aarch64.so.1", make_elf())
        # The loader's well-known name points at its real place absolutely.
        os.symlink(f"/lib/{t}/ld-linux-aarch64.so.1",
                   os.path.join(self.root, f"usr/lib/ld-linux-aarch64.so.1"))
        self.put(f"usr/lib/{t}/libc.so.6", make_elf())
        self.put(f"usr/lib/{t}/libstdc++.so.6.0.30", make_elf(needed=["libc.so.6"]))
        os.symlink("libstdc++.so.6.0.30", os.path.join(self.root, f"usr/lib/{t}/libstdc++.so.6"))
        self.put(os.path.join(self.build, "libkolvex.so.1"),
                 make_elf(needed=["libstdc++.so.6", "libc.so.6"]))
        self.program = os.path.join(self.build, "kolvexforlinux")
        self.put(self.program, make_elf("/lib/ld-linux-aarch64.so.1",
                                        ["libkolvex.so.1", "libc.so.6"], runpath=self.build))

    def tearDown(self):
        self.tmp.cleanup()

    def put(self, path, data):
        path = os.path.join(self.root, path)
        with open(path, "wb") as f:
            f.write(data)

    def test_links_resolve_inside_the_root(self):
        r, t = self.root, "aarch64-linux-gnu"
        cases = [
            ("usrmerge directory link", f"/lib/{t}/libc.so.6", f"{r}/usr/lib/{t}/libc.so.6"),
            ("absolute link stays in the root", "/lib/ld-linux-aarch64.so.1",
             f"{r}/usr/lib/{t}/ld-linux-aarch64.so.1"),
            ("relative link", f"/usr/lib/{t}/libstdc++.so.6", f"{r}/usr/lib/{t}/libstdc++.so.6.0.30"),
            ("parent directory", f"/usr/bin/../lib/{t}/libc.so.6", f"{r}/usr/lib/{t}/libc.so.6"),
            ("no such file", "/usr/bin/none", f"{r}/usr/bin/none"),
        ]
        for what, guest, host in cases:
            with self.subTest(what):
                self.assertEqual(run_vm.in_root(r, guest), host)

    def test_link_loop_is_refused(self):
        os.symlink("b", os.path.join(self.root, "a"))
        os.symlink("a", os.path.join(self.root, "b"))
        with self.assertRaises(RuntimeError):
            run_vm.in_root(self.root, "/a/x")

    def test_libraries_from_the_build_tree_and_the_root(self):
        t = "aarch64-linux-gnu"
        got = run_vm.shared_libraries(self.program, self.root, t)
        self.assertEqual(got, sorted([
            ("/lib/ld-linux-aarch64.so.1", f"{self.root}/usr/lib/{t}/ld-linux-aarch64.so.1"),
            # Found through the program's run path, at its host path.
            (f"{self.build}/libkolvex.so.1", f"{self.build}/libkolvex.so.1"),
            (f"/lib/{t}/libc.so.6", f"{self.root}/usr/lib/{t}/libc.so.6"),
            # Needed only by libkolvex, a library of the build tree.
            (f"/lib/{t}/libstdc++.so.6", f"{self.root}/usr/lib/{t}/libstdc++.so.6.0.30"),
        ]))

    def test_missing_library_skips_with_its_name(self):
        os.remove(os.path.join(self.root, "usr/lib/aarch64-linux-gnu/libstdc++.so.6.0.30"))
        with self.assertRaisesRegex(run_vm.Skip, r"libstdc\+\+\.so\.6"):
            run_vm.shared_libraries(self.program, self.root, "aarch64-linux-gnu")


if __name__ == "__main__":
    unittest.main()
