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

from __future__ import annotations

import _ctypes
import ctypes
import enum
import os
from typing import Dict, Optional, Tuple, Union

__all__ = [
    "Collection",
    "KolvexError",
    "Missing",
    "collect",
    "parse",
    "version",
]

# kolvex_c.h: KOLVEX_RECORD_SIZE, KOLVEX_HEADER_SIZE, KOLVEX_EXPLANATION_SIZE.
RECORD_SIZE = 256
HEADER_SIZE = 8
EXPLANATION_SIZE = 24576


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
LINUX_ITEMS: Tuple[str, ...] = (
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
WINDOWS_ITEMS: Tuple[str, ...] = LINUX_ITEMS + ("system_disk",)
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

    def __init__(self, code: int) -> None:
        self.code = code
        self.name, text = _ERRORS.get(code, ("KOLVEX_ERROR_UNKNOWN", "unknown error"))
        super().__init__("%s (%d): %s" % (self.name, code, text))


def _items(raw: bytes) -> Dict[str, str]:
    # Split on the separator's byte first, then read each item as UTF-8:
    # one U+FFFD for each maximal invalid subpart, a BOM kept as U+FEFF
    # (Python's "replace" does both).
    values = [value.decode("utf-8", errors="replace") for value in raw.split(b"@")]
    names = _TERMINAL_TYPES.get(values[0])
    if names is None or len(values) != len(names):
        raise ValueError(
            "not a terminal record (11 items of type 2 or 12 of type 1): %r" % raw[:80]
        )
    return dict(zip(names, values))


class Collection:
    """One terminal record and what goes with it.

    record: the record as text; record_bytes: its bytes as collected;
    missing: the Missing flags; header: the 8-byte status header (None for
    a parsed record); items: the record's items by name, in record order;
    explanation: where each item came from (collect(explain=True) only,
    else None).
    """

    record: str
    record_bytes: bytes
    missing: Missing
    header: Optional[bytes]
    items: Dict[str, str]
    explanation: Optional[str]

    def __init__(
        self,
        record_bytes: bytes,
        missing: int,
        header: Optional[bytes] = None,
        explanation: Optional[str] = None,
    ) -> None:
        self.record_bytes = bytes(record_bytes)
        self.items = _items(self.record_bytes)
        self.record = "@".join(self.items.values())
        self.missing = Missing(missing)
        self.header = header
        self.explanation = explanation

    def __str__(self) -> str:
        return self.record

    def __repr__(self) -> str:
        return "Collection(record=%r, missing=%r, header=%r)" % (
            self.record,
            self.missing,
            self.header,
        )


def parse(text: Union[str, bytes]) -> Collection:
    """The Collection of a record received from elsewhere (str or bytes).

    The missing flags are recomputed from the empty items; the header is
    None. Needs no library. Raises ValueError on what is not a record.
    """
    if isinstance(text, str):
        raw = text.encode("utf-8")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        raw = bytes(text)
    else:
        raise TypeError("parse() takes str or bytes, not %s" % type(text).__name__)
    c = Collection(raw, 0)
    for name, value in c.items.items():
        if value == "":
            c.missing |= _ITEM_FLAGS.get(name, 0)
    return c


_library: Optional[ctypes.CDLL] = None


def _load() -> ctypes.CDLL:
    # No lock: a child forked while another thread loads would inherit it
    # held. Threads that load at once each open the library (the system
    # counts the opens) and one of them is kept.
    global _library
    if _library is not None:
        return _library
    name = os.environ.get("KOLVEX_LIBRARY") or (
        "kolvex.dll" if os.name == "nt" else "libkolvex.so.1"
    )
    lib = None
    try:
        lib = ctypes.CDLL(name)
        collect, explained, version = (
            lib.kolvex_collect,
            lib.kolvex_collect_explained,
            lib.kolvex_version,
        )
    except (OSError, AttributeError) as e:  # no such file, or not the C interface
        if lib is not None and hasattr(_ctypes, "dlclose"):
            _ctypes.dlclose(lib._handle)
        raise OSError(
            "kolvex: cannot load %s (%s); install it, or set KOLVEX_LIBRARY to its path"
            % (name, e)
        ) from e
    collect.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_ubyte)]
    collect.restype = ctypes.c_int
    explained.argtypes = collect.argtypes + [ctypes.c_char_p, ctypes.c_size_t]
    explained.restype = ctypes.c_int
    version.argtypes = []
    version.restype = ctypes.c_char_p
    _library = lib
    return lib


def _collect(explain: bool, record_size: int) -> Collection:
    # One collection with a record buffer of record_size bytes (the tests
    # pass sizes the library rejects).
    lib = _load()
    record = ctypes.create_string_buffer(max(record_size, 1))
    header = (ctypes.c_ubyte * HEADER_SIZE)()
    explanation = None
    if explain:
        explanation = ctypes.create_string_buffer(EXPLANATION_SIZE)
        result = lib.kolvex_collect_explained(
            record, record_size, header, explanation, EXPLANATION_SIZE
        )
    else:
        result = lib.kolvex_collect(record, record_size, header)
    if result < 0:
        raise KolvexError(result)
    return Collection(
        record.value,
        result,
        bytes(header),
        explanation.value.decode("ascii", errors="replace") if explanation is not None else None,
    )


def collect(explain: bool = False) -> Collection:
    """Runs one collection; raises KolvexError on a negative result."""
    return _collect(explain, RECORD_SIZE)


def version() -> str:
    """The library's product version, e.g. "1.1.2"."""
    return _load().kolvex_version().decode("ascii")
