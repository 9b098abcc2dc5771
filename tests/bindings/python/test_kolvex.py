"""The Python binding against the real library (found as libkolvex.so.1 on
the library path): python test_kolvex.py VERSION KOLVEX_C_H LIBRARY_PATH,
with the installed package kolvex."""
import os
import re
import subprocess
import sys
import threading
import time
import unittest

import kolvex

VERSION, HEADER, LIBRARY, TABLE = sys.argv[1:5]


def without_time(record):
    items = record.split("@")
    return items[:1] + items[2:]


class Parse(unittest.TestCase):
    def test_record_bytes(self):
        with open(TABLE, encoding="ascii") as f:
            rows = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
        for name, raw, want, flags in rows:
            with self.subTest(name):
                raw = re.sub(rb"\\x(..)", lambda m: bytes.fromhex(m[1].decode()), raw.encode())
                if want == "-":
                    self.assertRaises(ValueError, kolvex.parse, raw)
                    continue
                c = kolvex.parse(raw)
                self.assertEqual(c.record, re.sub(r"\\u(....)", lambda m: chr(int(m[1], 16)), want))
                self.assertEqual(tuple(c.items), kolvex.WINDOWS_ITEMS if raw[0] == ord("1") else kolvex.LINUX_ITEMS)
                self.assertEqual(c.record, "@".join(c.items.values()))
                self.assertEqual(kolvex.parse(c.record).record, c.record)
                self.assertEqual((c.missing, c.record_bytes, c.header, c.explanation), (int(flags, 0), raw, None, None))
        self.assertRaises(TypeError, kolvex.parse, 42)


class Library(unittest.TestCase):
    def test_flags_and_errors_are_the_c_headers(self):
        with open(HEADER, encoding="latin-1") as f:
            text = f.read()
        defined = re.findall(r"#define KOLVEX_(MISSING|ERROR)_(\w+) \(?(-?\w+)\)?", text)
        sizes = re.findall(r"#define KOLVEX_(RECORD|HEADER|EXPLANATION)_SIZE (\d+)", text)
        self.assertEqual([int(n) for _, n in sizes], [kolvex.RECORD_SIZE, kolvex.HEADER_SIZE, kolvex.EXPLANATION_SIZE])
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
        before = time.localtime()
        c = kolvex.collect()
        after = time.localtime()
        # The header's clock fields: local time read after the collection.
        self.assertTrue(before[:6] <= (2000 + c.header[2], *c.header[3:8]) <= after[:6], c.header.hex())
        explained = kolvex.collect(explain=True)
        self.assertEqual(without_time(explained.record), without_time(c.record))
        self.assertEqual(c.missing, kolvex.parse(c.record_bytes).missing)
        self.assertIsInstance(c.missing, kolvex.Missing)
        self.assertEqual(c.header[:2], bytes([1, 0x33 if c.missing else 0x30]))
        self.assertEqual(len(c.header), 8)
        self.assertIn("disk serial", explained.explanation)
        self.assertIsNone(c.explanation)

    def test_four_threads(self):
        one = without_time(kolvex.collect().record)
        results = []

        def run():
            results.append(kolvex.collect().record)

        threads = [threading.Thread(target=run) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual([without_time(r) for r in results], [one] * 4)

    def test_fork_while_loading(self):
        # A child forked while another thread loads the library collects on
        # its own: here the loading thread is held inside the load.
        script = """if True:
            import ctypes, os, signal, threading, kolvex
            loading, release, load = threading.Event(), threading.Event(), ctypes.CDLL
            def held(*args):
                if threading.current_thread() is not threading.main_thread():
                    loading.set()
                    release.wait()
                return load(*args)
            ctypes.CDLL = held
            thread = threading.Thread(target=kolvex.version)
            thread.start()
            loading.wait()
            pid = os.fork()
            if pid == 0:
                signal.alarm(10)
                print(kolvex.version(), flush=True)
                os._exit(0)
            release.set()
            thread.join()
            print("child", os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))"""
        run = subprocess.run([sys.executable, "-W", "ignore", "-c", script], capture_output=True, text=True, timeout=60)
        self.assertEqual((run.stdout, run.stderr), ("%s\nchild 0\n" % VERSION, ""))

    def test_which_library(self):
        for name, env, want in [
            ("KOLVEX_LIBRARY names the library", {"KOLVEX_LIBRARY": LIBRARY, "LD_LIBRARY_PATH": ""}, VERSION),
            ("a library that cannot be loaded", {"KOLVEX_LIBRARY": "/nonexistent/libkolvex.so.1"},
             r"^OSError kolvex: cannot load /nonexistent/libkolvex\.so\.1 .*KOLVEX_LIBRARY"),
            ("no library on the search path", {"LD_LIBRARY_PATH": ""},
             r"^OSError kolvex: cannot load libkolvex\.so\.1 .*KOLVEX_LIBRARY"),
            ("a library without the C interface", {"KOLVEX_LIBRARY": "libc.so.6"},
             r"^OSError kolvex: cannot load libc\.so\.6 .*KOLVEX_LIBRARY"),
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
