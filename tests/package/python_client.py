"""The installed Python module kolvex: a quiet collection that agrees with
the program's record (argv[1]) but for the time, its flags and header,
four threads at once, parse(), the KOLVEX_LIBRARY override, and the
distribution's metadata: its version (argv[2]) and the RECORD of its files."""
import base64
import hashlib
import importlib.metadata
import os
import subprocess
import sys
import tempfile
import threading

import kolvex

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def without_time(record):
    items = record.split("@")
    return items[:1] + items[2:]


program_record = sys.argv[1]
# Everything the calls write to descriptors 1 or 2 lands in the sink.
with tempfile.TemporaryFile() as sink:
    sys.stdout.flush()
    sys.stderr.flush()
    saved = os.dup(1), os.dup(2)
    os.dup2(sink.fileno(), 1)
    os.dup2(sink.fileno(), 2)
    try:
        c = kolvex.collect()
        explained = kolvex.collect(explain=True)
        results = [None] * 4

        def run(i):
            results[i] = kolvex.collect().record

        threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        os.dup2(saved[0], 1)
        os.dup2(saved[1], 2)
        os.close(saved[0])
        os.close(saved[1])
    sink.seek(0)
    printed = sink.read()

print(repr(c))
check(printed == b"", "nothing on descriptors 1 and 2: %r" % printed[:200])
check(without_time(c.record) == without_time(program_record), "the program's record")
check(c.missing == kolvex.parse(c.record).missing, "flags match the empty items")
check(c.items["disk_serial"] == c.record.split("@")[8], "items by name")
check(c.header[0] == 1 and c.header[1] == (ord("0") if c.missing == 0 else ord("3")), "header")
check("disk serial" in explained.explanation, "explanation")
check(all(r is not None and without_time(r) == without_time(c.record) for r in results),
      "four threads at once")
check(kolvex.parse("1@t@@@@@h@10.0@d@c@b@C").missing
      == kolvex.Missing.IP1 | kolvex.Missing.MAC1, "parse of a Windows record")
code = kolvex._load().kolvex_collect(None, 0, None)
check(kolvex.KolvexError(code).name == "KOLVEX_ERROR_ARGUMENT", "named error")
elsewhere = subprocess.run(
    [sys.executable, "-c", "import kolvex; kolvex.collect()"],
    env=dict(os.environ, KOLVEX_LIBRARY="/nonexistent/libkolvex.so.1"),
    capture_output=True, text=True)
check(elsewhere.returncode != 0 and "/nonexistent/libkolvex.so.1" in elsewhere.stderr,
      "KOLVEX_LIBRARY names the library")
check(importlib.metadata.version("kolvex") == sys.argv[2], "importlib.metadata.version is the product's")
recorded = [f for f in importlib.metadata.files("kolvex") if f.hash]
check(len(recorded) == 4 and all(
    base64.urlsafe_b64encode(hashlib.sha256(f.read_binary()).digest()).rstrip(b"=").decode() == f.hash.value and len(f.read_binary()) == f.size
    for f in recorded), "RECORD gives every file's hash and size")
print("python client:", "ok" if not failures else "FAILED")
sys.exit(1 if failures else 0)
