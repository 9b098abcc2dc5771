#!/usr/bin/env python3
"""The checker must reject wrong collector output, not only accept right output.

Fixtures are real outputs of the sata_ahci machine (tests/e2e/fixtures); each
case damages one thing a faulty collector could get wrong and expects the
checker to name it.
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import check  # noqa: E402

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

    def test_unprivileged_run_is_not_a_complete_one(self):
        expect = check.Expect(**{**SATA.__dict__, "cpu": SATA_UID1000.cpu})
        found = self.problems(self.unprivileged, expect, UID1000_T0, UID1000_T1)
        for item in ("bios", "flags", "status byte"):
            self.assertTrue(any(item in p for p in found), f"{item}: {found}")


if __name__ == "__main__":
    unittest.main()
