"""The kolvex terminal identity collector from Python.

A thin binding over the C interface of libkolvex (kolvex_c.h):

    >>> import kolvex
    >>> c = kolvex.collect()
    >>> c.record                     # '2@2026-12-07 19:54:48@192.0.2.2@@...'
    >>> c.items["disk_serial"]
    >>> c.missing                    # kolvex.Missing.BIOS_SERIAL, say
    >>> kolvex.collect(explain=True).explanation

parse() reads a record received from elsewhere without loading the library.

The library is libkolvex.so.1 on Linux and kolvex.dll on Windows, found by
the system's library search; the environment variable KOLVEX_LIBRARY names
another file. A collection prints nothing; collections of one process take
turns, from any thread.
"""

import ctypes
import enum
import os
import threading

__all__ = [
    "Collection",
    "KolvexError",
    "Missing",
    "collect",
    "parse",
    "version",
]

RECORD_SIZE = 256
HEADER_SIZE = 8
EXPLANATION_SIZE = 64 * 1024


class Missing(enum.IntFlag):
    """The missing-item flags: one bit for each item that came out empty."""

    TIME = 0x2
    IP1 = 0x4
    MAC1 = 0x8
    DEVICE_NAME = 0x10
    OS_VERSION = 0x20
    DISK_SERIAL = 0x40
    CPU_ID = 0x80
    BIOS_SERIAL = 0x100
    SYSTEM_DISK = 0x200  # Windows only


# The record's items in order; Windows adds the system disk.
LINUX_ITEMS = (
    "terminal_type",
    "time",
    "ip1",
    "ip2",
    "mac1",
    "mac2",
    "device_name",
    "os_version",
    "disk_serial",
    "cpu_id",
    "bios_serial",
)
WINDOWS_ITEMS = LINUX_ITEMS + ("system_disk",)
_TERMINAL_TYPES = {"2": LINUX_ITEMS, "1": WINDOWS_ITEMS}

# The items an empty value flags; the others (second addresses, the type)
# may be empty without a flag.
_ITEM_FLAGS = {
    "time": Missing.TIME,
    "ip1": Missing.IP1,
    "mac1": Missing.MAC1,
    "device_name": Missing.DEVICE_NAME,
    "os_version": Missing.OS_VERSION,
    "disk_serial": Missing.DISK_SERIAL,
    "cpu_id": Missing.CPU_ID,
    "bios_serial": Missing.BIOS_SERIAL,
    "system_disk": Missing.SYSTEM_DISK,
}

_ERRORS = {
    -1: ("KOLVEX_ERROR_ARGUMENT", "record is NULL or record_size is 0"),
    -2: ("KOLVEX_ERROR_SPACE", "record_size too small for the record and its NUL"),
}


class KolvexError(Exception):
    """A negative result of the C interface; name is its KOLVEX_ERROR_* name."""

    def __init__(self, code):
        self.code = code
        self.name, text = _ERRORS.get(code, ("KOLVEX_ERROR_UNKNOWN", "unknown error"))
        super().__init__("%s (%d): %s" % (self.name, code, text))


def _text(raw):
    # ASCII but for a Windows host name, which the collector keeps in UTF-8;
    # anything else is read as GBK, the collector's code page.
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("gbk", errors="replace")


class Collection:
    """One terminal record and what goes with it.

    record: the record as text; record_bytes: its bytes as collected;
    missing: the Missing flags; header: the 8-byte status header (None for
    a parsed record); items: the record's items by name; explanation: where
    each item came from (collect(explain=True) only, else None).
    """

    def __init__(self, record_bytes, missing, header=None, explanation=None):
        self.record_bytes = bytes(record_bytes)
        self.record = _text(self.record_bytes)
        self.items = _items(self.record)
        self.missing = Missing(missing)
        self.header = header
        self.explanation = explanation

    def __str__(self):
        return self.record

    def __repr__(self):
        return "Collection(record=%r, missing=%r, header=%r)" % (
            self.record,
            self.missing,
            self.header,
        )


def _items(record):
    values = record.split("@")
    names = _TERMINAL_TYPES.get(values[0])
    if names is None or len(values) != len(names):
        raise ValueError(
            "not a terminal record (11 items of type 2 or 12 of type 1): %r" % record[:80]
        )
    return dict(zip(names, values))


def parse(text):
    """The Collection of a record received from elsewhere (str or bytes).

    The missing flags are recomputed from the empty items; the header is
    None. Needs no library.
    """
    raw = text if isinstance(text, bytes) else text.encode("utf-8")
    items = _items(_text(raw))
    missing = 0
    for name, value in items.items():
        if value == "":
            missing |= _ITEM_FLAGS.get(name, 0)
    return Collection(raw, missing)


_library = None
_library_lock = threading.Lock()


def _load():
    global _library
    with _library_lock:
        if _library is None:
            name = os.environ.get("KOLVEX_LIBRARY") or (
                "kolvex.dll" if os.name == "nt" else "libkolvex.so.1"
            )
            lib = ctypes.CDLL(name)
            lib.kolvex_collect.argtypes = [
                ctypes.c_char_p,
                ctypes.c_size_t,
                ctypes.POINTER(ctypes.c_ubyte),
            ]
            lib.kolvex_collect.restype = ctypes.c_int
            lib.kolvex_collect_explained.argtypes = [
                ctypes.c_char_p,
                ctypes.c_size_t,
                ctypes.POINTER(ctypes.c_ubyte),
                ctypes.c_char_p,
                ctypes.c_size_t,
            ]
            lib.kolvex_collect_explained.restype = ctypes.c_int
            lib.kolvex_version.argtypes = []
            lib.kolvex_version.restype = ctypes.c_char_p
            _library = lib
        return _library


def collect(explain=False):
    """Runs one collection; raises KolvexError on a negative result."""
    lib = _load()
    record = ctypes.create_string_buffer(RECORD_SIZE)
    header = (ctypes.c_ubyte * HEADER_SIZE)()
    explanation = None
    if explain:
        explanation = ctypes.create_string_buffer(EXPLANATION_SIZE)
        result = lib.kolvex_collect_explained(
            record, RECORD_SIZE, header, explanation, EXPLANATION_SIZE
        )
    else:
        result = lib.kolvex_collect(record, RECORD_SIZE, header)
    if result < 0:
        raise KolvexError(result)
    return Collection(
        record.value,
        result,
        bytes(header),
        explanation.value.decode("ascii", errors="replace") if explain else None,
    )


def version():
    """The library's product version, e.g. "1.1.2"."""
    return _load().kolvex_version().decode("ascii")
