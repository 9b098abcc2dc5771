"""The Python binding against the real library (found as libkolvex.so.1 on
the library path): python test_kolvex.py VERSION KOLVEX_C_H LIBRARY_PATH,
with the installed package kolvex."""
import os
import re
import subprocess
import sys
import threading
import unittest

import kolvex

VERSION, HEADER, LIBRARY = sys.argv[1:4]
L = "2@2026-03-15 09:30:12@192.168.1.23@@5254001a2b3c@@build-ser@5.15.@S3Z9NB0K@57060500FFFBEBBF@"
M = kolvex.Missing


def without_time(record):
    items = record.split("@")
    return items[:1] + items[2:]


class Parse(unittest.TestCase):
    # input, the items that must come out (a subset), the flags; or the
    # error it must raise.
    CASES = [
        ("Linux record", L, {"ip2": "", "bios_serial": "", "cpu_id": "57060500FFFBEBBF"}, M.BIOS_SERIAL),
        ("Windows record", "1@t@@@@@h@10.0@d@c@b@C:", {"system_disk": "C:", "device_name": "h"}, M.IP1 | M.MAC1),
        ("every item empty", "1@@@@@@@@@@@", {"system_disk": ""}, 0x3FE),
        # A lone UTF-8 lead byte before '@': a GBK decoder of the whole
        # record reads 0xC3 0x40 as one character and loses a separator. The
        # item alone is no UTF-8, so it reads as GBK.
        ("'@' after a cut UTF-8 character", b"2@t@i@@m@@b\xc3\xb6rse-b\xc3@6.1.@d@c@b",
         {"device_name": "b\u679arse-b\ufffd", "os_version": "6.1."}, 0),
        ("UTF-8 host name", "1@t@i@@m@@börse@10.0@d@c@b@C:", {"device_name": "börse"}, 0),
        ("GBK item", b"2@t@i@@m@@\xc4\xe3@v@d@c@b", {"device_name": "\u4f60"}, 0),
        ("empty text", "", ValueError),
        ("Windows type with eleven items", "1" + L[1:], ValueError),
        ("unknown terminal type", "3" + L[1:], ValueError),
        ("not text", 42, TypeError),
    ]

    def test_cases(self):
        for name, text, want, *flags in self.CASES:
            with self.subTest(name):
                if isinstance(want, type):
                    self.assertRaises(want, kolvex.parse, text)
                    continue
                c = kolvex.parse(text)
                names = kolvex.WINDOWS_ITEMS if "system_disk" in c.items else kolvex.LINUX_ITEMS
                self.assertEqual(tuple(c.items), names)
                self.assertEqual({k: c.items[k] for k in want}, want)
                self.assertEqual(c.missing, flags[0])
                self.assertEqual(c.record, "@".join(c.items.values()))
                self.assertIsInstance(c.record_bytes, bytes)
                self.assertEqual((c.header, c.explanation), (None, None))


class Library(unittest.TestCase):
    def test_flags_and_errors_are_the_c_headers(self):
        with open(HEADER, encoding="latin-1") as f:
            defined = re.findall(r"#define KOLVEX_(MISSING|ERROR)_(\w+) \(?(-?\w+)\)?", f.read())
        flags = [(name, int(value, 0)) for kind, name, value in defined if kind == "MISSING"]
        self.assertEqual([(m.name, m.value) for m in kolvex.Missing], flags)
        for kind, name, value in defined:
            if kind == "ERROR":
                e = kolvex.KolvexError(int(value))
                self.assertEqual((e.name, e.code), ("KOLVEX_ERROR_" + name, int(value)))

    def test_negative_results(self):
        for size, name, code in [(0, "KOLVEX_ERROR_ARGUMENT", -1), (8, "KOLVEX_ERROR_SPACE", -2)]:
            for explain in (False, True):
                with self.subTest(size=size, explain=explain):
                    with self.assertRaises(kolvex.KolvexError) as raised:
                        kolvex._collect(explain, size)
                    self.assertEqual((raised.exception.name, raised.exception.code), (name, code))

    def test_version(self):
        self.assertEqual(kolvex.version(), VERSION)

    def test_collect(self):
        c = kolvex.collect()
        explained = kolvex.collect(explain=True)
        self.assertEqual(without_time(explained.record), without_time(c.record))
        self.assertEqual(c.missing, kolvex.parse(c.record_bytes).missing)
        self.assertIsInstance(c.missing, kolvex.Missing)
        self.assertEqual(c.header[:2], bytes([1, 0x33 if c.missing else 0x30]))
        self.assertEqual(len(c.header), 8)
        self.assertIn("disk serial", explained.explanation)
        self.assertIsNone(c.explanation)

    def test_four_threads(self):
        results = []

        def run():
            results.append(kolvex.collect().record)

        threads = [threading.Thread(target=run) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(len([r for r in results if r.startswith("2@")]), 4)

    def test_which_library(self):
        for name, env, want in [
            ("KOLVEX_LIBRARY names the library", {"KOLVEX_LIBRARY": LIBRARY, "LD_LIBRARY_PATH": ""}, VERSION),
            ("a library that cannot be loaded", {"KOLVEX_LIBRARY": "/nonexistent/libkolvex.so.1"},
             r"^OSError kolvex: cannot load /nonexistent/libkolvex\.so\.1 .*KOLVEX_LIBRARY"),
            ("no library on the search path", {"LD_LIBRARY_PATH": ""},
             r"^OSError kolvex: cannot load libkolvex\.so\.1 .*KOLVEX_LIBRARY"),
        ]:
            with self.subTest(name):
                run = subprocess.run(
                    [sys.executable, "-c", "import kolvex\ntry: print(kolvex.version())\n"
                     "except Exception as e: print(type(e).__name__, e)"],
                    env={**os.environ, "KOLVEX_LIBRARY": "", **env}, capture_output=True, text=True)
                self.assertEqual(run.stderr, "")
                self.assertRegex(run.stdout.strip(), want if want != VERSION else "^%s$" % re.escape(VERSION))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
