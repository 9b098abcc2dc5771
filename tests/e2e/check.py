"""Checks what the collector reported on an emulated machine.

Pure functions over the bytes a run printed; run_vm.py feeds them. Every
check returns a list of readable problems, empty when the run is right.
"""

import calendar
import dataclasses
import re

RECORD_ITEMS = ("type", "time", "ip1", "ip2", "mac1", "mac2", "name", "os", "disk", "cpu", "bios")
# Longest record: the widths 1+19+39+39+12+12+9+5+16+16+10 plus ten "@".
RECORD_MAX = 188
WIDTHS = {"time": 19, "ip1": 39, "ip2": 39, "mac1": 12, "mac2": 12, "name": 9, "os": 5,
          "disk": 16, "cpu": 16, "bios": 10}
FLAG_BITS = {"time": 0x2, "ip1": 0x4, "mac1": 0x8, "name": 0x10, "os": 0x20,
             "disk": 0x40, "cpu": 0x80, "bios": 0x100}

BANNER = b"kolvex for linux version 1.1.2"
API_VERSION = "pelm_tst_1.0_20230419_4066"

# The collector prints its texts as GBK bytes.
PROGRESS = [m.encode("gbk") for m in (
    "开始获取终端各种信息",
    "开始获取终端类型", "获取终端类型完成",
    "开始获取系统时间", "获取系统时间完成",
    "开始获取IP和MAC信息", "获取IP和MAC信息完成",
    "开始获取设备名和系统版本", "获取设备名和系统版本完成",
    "开始获取硬盘序列号", "获取硬盘序列号完成",
    "开始获取CPU序列号", "获取CPU序列号完成",
    "开始获取BIOS序列号", "获取BIOS序列号完成")]
SUMMARY_LABELS = [m.encode("gbk") for m in (
    "终端类型", "信息采集时间", "私网IP1", "私网IP2", "网卡MAC地址1", "网卡MAC地址2",
    "设备名", "操作系统版本", "硬盘序列号", "CPU序列号", "BIOS序列号")]

PROGRESS_LINE = re.compile(rb"^(\d\d):(\d\d):(\d\d):(\d+) - (.*)$")
TIME_ITEM = re.compile(r"^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)$")


@dataclasses.dataclass
class Expect:
    """The items a machine must yield (after trimming and cutting) and the flags.

    The collection time is not listed: it must be a well-formed local time
    within the run. The guest has no time zone set, so local time is UTC.
    """
    ip1: str = ""
    ip2: str = ""
    mac1: str = ""
    mac2: str = ""
    name: str = ""
    os: str = ""
    disk: str = ""
    cpu: str = ""
    bios: str = ""
    flags: int = 0
    # Lines a collection prints besides its log, summary and record (the
    # probes' diagnostics), in order; none on a machine where every request
    # either succeeds or fails silently.
    messages: tuple = ()
    # Whether the run started lshw (a logging stand-in first on the guest's
    # PATH tells); None: not looked at.
    lshw: object = None
    # Processes the client's real collection may start; None: not looked at.
    started: object = None
    # The CPU ID and BIOS serial must be what the guest's own dmidecode
    # pipelines give (the client runs them after its collections): an
    # item a pipeline yields as it is, the BIOS serial also when empty.
    pipelines: bool = False


@dataclasses.dataclass
class RunResult:
    stdout: bytes
    stderr: bytes
    rc: str
    t0: int   # guest clock (epoch seconds) before and after the run
    t1: int


def expected_flags(expect):
    """The flags that the expected items imply; a table typo must not go unnoticed."""
    # The time is always expected present.
    return sum(bit for item, bit in FLAG_BITS.items()
               if item != "time" and getattr(expect, item) == "")


def check_record(record, expect, t0, t1):
    """Problems of one terminal record (bytes) against the expectation."""
    problems = []
    if len(record) > RECORD_MAX:
        problems.append(f"record has {len(record)} characters, more than {RECORD_MAX}")
    try:
        text = record.decode("ascii")
    except UnicodeDecodeError:
        return problems + [f"record is not ASCII: {record!r}"]
    fields = text.split("@")
    if len(fields) != len(RECORD_ITEMS):
        return problems + [f"record has {len(fields)} items, expected {len(RECORD_ITEMS)}: "
                           f"[{text}]"]
    items = dict(zip(RECORD_ITEMS, fields))
    if items["type"] != "2":
        problems.append(f"terminal type {items['type']!r}, expected '2'")
    m = TIME_ITEM.match(items["time"])
    if not m:
        problems.append(f"collection time {items['time']!r} is not YYYY-MM-DD HH:MM:SS")
    else:
        stamp = calendar.timegm(tuple(int(g) for g in m.groups()) + (0, 0, 0))
        if not t0 <= stamp <= t1:
            problems.append(f"collection time {items['time']} outside the run "
                            f"[{t0}, {t1}] (epoch {stamp})")
    for item, width in WIDTHS.items():
        if len(items[item]) > width:
            problems.append(f"{item} {items[item]!r} longer than its width {width}")
    for item in RECORD_ITEMS[2:]:
        want = getattr(expect, item)
        if items[item] != want:
            problems.append(f"{item} is {items[item]!r}, expected {want!r}")
    return problems


def record_from_program(stdout):
    m = re.search(rb"^CollectData = \[(.*)\]$", stdout, re.M)
    return m.group(1) if m else None


def check_program(result, expect):
    """kolvexforlinux: frame of its output, the record and the summary."""
    problems = []
    if expected_flags(expect) != expect.flags:
        problems.append(f"expectation table inconsistent: items imply flags "
                        f"{expected_flags(expect):#x}, table says {expect.flags:#x}")
    if result.rc != "0":
        problems.append(f"exit status {result.rc}")
    lines = result.stdout.split(b"\n")
    if lines[0] != BANNER:
        problems.append(f"first line {lines[0]!r}, expected the banner")

    progress = [(i, PROGRESS_LINE.match(l)) for i, l in enumerate(lines)]
    progress = [(i, m) for i, m in progress if m]
    messages = [m.group(5) for _, m in progress]
    if messages != PROGRESS:
        problems.append("progress log differs: got "
                        + repr([x.decode("gbk", "replace") for x in messages]))
    for _, m in progress:
        hh, mm, ss = (int(m.group(k)) for k in (1, 2, 3))
        if hh > 23 or mm > 59 or ss > 60:
            problems.append(f"progress stamp out of range: {m.group(0)!r}")
    if not progress:
        return problems
    stray = [l for l in lines[1:progress[-1][0]] if not PROGRESS_LINE.match(l)]
    if stray != [m.encode() for m in expect.messages]:
        problems.append(f"diagnostics {stray!r}, expected {list(expect.messages)!r}")

    # After the last progress line the frame is fixed: empty line, eleven
    # summary lines, empty line, the record, and the final line feed.
    tail = lines[progress[-1][0] + 1:]
    record = record_from_program(result.stdout)
    if record is None:
        return problems + ["no 'CollectData = [...]' line"]
    items = record.split(b"@")
    expected_tail = [b""]
    if len(items) == len(SUMMARY_LABELS):
        items[0] = b"2"
        expected_tail += [label + b": " + value for label, value in zip(SUMMARY_LABELS, items)]
    expected_tail += [b"", b"CollectData = [" + record + b"]", b""]
    if tail != expected_tail:
        problems.append("summary and record frame differ: got "
                        + repr([x.decode("gbk", "replace") for x in tail])
                        + " expected "
                        + repr([x.decode("gbk", "replace") for x in expected_tail]))
    problems += check_record(record, expect, result.t0, result.t1)
    return problems


def _client_lines(stdout):
    out = {}
    for line in stdout.split(b"\n"):
        if line.startswith(b"kolvex-e2e "):
            kind, _, rest = line[len(b"kolvex-e2e "):].partition(b" ")
            out[kind.decode()] = rest
    return out


def _fields(rest):
    return dict(re.findall(r"(\w[\w-]*)=(\[.*\]|\S+)", rest.decode("ascii", "replace")))


def check_header(name, fields, expect, header_len):
    """The status header an entry point wrote, and that nothing else was touched."""
    problems = []
    flags = int(fields.get("flags", "-1"), 16)
    if flags != expect.flags:
        problems.append(f"{name}: returned flags {flags:#x}, expected {expect.flags:#x}")
    if fields.get("len") != str(header_len):
        problems.append(f"{name}: len {fields.get('len')}, expected {header_len}")
    raw = bytes(int(b, 16) for b in fields.get("bytes", "").split(":") if b)
    if len(raw) < 16:
        return problems + [f"{name}: byte dump missing"]
    if raw[0] != 1:
        problems.append(f"{name}: format byte {raw[0]:#x}, expected 0x01")
    status = ord("0") if expect.flags == 0 else ord("3")
    if raw[1] != status:
        problems.append(f"{name}: status byte {raw[1]:#x}, expected {status:#x}")
    t0, t1 = int(fields.get("t0", "0")), int(fields.get("t1", "0"))
    year, month, day, hour, minute, second = raw[2:8]
    if not (1 <= month <= 12 and 1 <= day <= 31 and hour <= 23 and minute <= 59
            and second <= 60):
        problems.append(f"{name}: header time bytes out of range {raw[2:8].hex(':')}")
    else:
        stamp = calendar.timegm((2000 + year, month, day, hour, minute, second, 0, 0, 0))
        if not t0 <= stamp <= t1:
            problems.append(f"{name}: header time {raw[2:8].hex(':')} outside the call "
                            f"[{t0}, {t1}]")
    untouched = raw[header_len:]
    if header_len == 9:
        if raw[8] != ord("T"):
            problems.append(f"{name}: byte 8 is {raw[8]:#x}, expected 'T'")
        untouched = raw[9:]
    if any(b != 0xEE for b in untouched):
        problems.append(f"{name}: wrote past byte {header_len - 1}: {raw.hex(':')}")
    return problems


def check_pipelines(lines, record):
    """The record's CPU ID and BIOS serial against the guest's pipelines."""
    if "pipelines" not in lines:
        return ["client line 'pipelines' missing"]
    piped = dict(re.findall(r"(\w+)=\[([^\]]*)\]", lines["pipelines"].decode("ascii", "replace")))
    items = dict(zip(RECORD_ITEMS, record.decode("ascii", "replace").split("@")))
    problems = []
    for item in ("cpu", "bios"):
        value = piped.get(item, "")[:WIDTHS[item]]
        if (value or item == "bios") and items.get(item) != value:
            problems.append(f"{item} is {items.get(item)!r}, the guest's pipeline gives {value!r}")
    return problems


def check_client(result, expect):
    """Our client of libkolvex: every entry point's answer."""
    problems = []
    if result.rc != "0":
        problems.append(f"exit status {result.rc}")
    lines = _client_lines(result.stdout)
    for kind in ("version", "real", "info", "unaes"):
        if kind not in lines:
            problems.append(f"client line '{kind}' missing")
    if problems:
        return problems

    version = lines["version"].decode("ascii", "replace").split()
    if version[:1] != [API_VERSION]:
        problems.append(f"version text {version[:1]}, expected {API_VERSION}")
    if "same-address=1" not in version:
        problems.append("version text not at one constant address")

    real = _fields(lines["real"])
    record = real.get("record", "[]")[1:-1].encode()
    flags = int(real.get("flags", "-1"), 16)
    if flags != expect.flags:
        problems.append(f"real: returned flags {flags:#x}, expected {expect.flags:#x}")
    if real.get("len") != str(len(record)) or real.get("strlen") != str(len(record)):
        problems.append(f"real: len {real.get('len')} / strlen {real.get('strlen')}, "
                        f"record has {len(record)} characters")
    problems += [f"real: {p}" for p in
                 check_record(record, expect, int(real.get("t0", 0)), int(real.get("t1", 0)))]

    if expect.started is not None and real.get("started") != str(expect.started):
        problems.append(f"real: started {real.get('started')} processes, "
                        f"expected {expect.started}")
    if expect.pipelines:
        problems += check_pipelines(lines, record)

    for kind, header_len in (("info", 9), ("unaes", 8)):
        problems += check_header(kind, _fields(lines[kind]), expect, header_len)

    # Both header entry points print the record they collected.
    shown = re.findall(rb"^ client data : (.*)$", result.stdout, re.M)
    if len(shown) != 2:
        problems.append(f"{len(shown)} 'client data' lines, expected 2")
    info_t0 = int(_fields(lines["info"]).get("t0", 0))
    unaes_t1 = int(_fields(lines["unaes"]).get("t1", 0))
    for rec in shown:
        problems += [f"client data: {p}" for p in check_record(rec, expect, info_t0, unaes_t1)]

    # Three collections, each with its full progress log, its summary and
    # nothing else but the probes' expected diagnostics.
    lines = result.stdout.split(b"\n")
    count = sum(1 for l in lines if PROGRESS_LINE.match(l))
    if count != 3 * len(PROGRESS):
        problems.append(f"{count} progress-log lines, expected {3 * len(PROGRESS)}")
    summary = sum(1 for l in lines for label in SUMMARY_LABELS if l.startswith(label + b": "))
    if summary != 3 * len(SUMMARY_LABELS):
        problems.append(f"{summary} summary lines, expected {3 * len(SUMMARY_LABELS)}")
    known = (b"kolvex-e2e ", b" client data : ") + tuple(l + b": " for l in SUMMARY_LABELS)
    stray = [l for l in lines if l and not PROGRESS_LINE.match(l) and not l.startswith(known)]
    want = [m.encode() for m in expect.messages] * 3
    if stray != want:
        problems.append(f"diagnostics {stray!r}, expected {want!r}")
    return problems


def find_record(result, kind):
    """The record a run produced, for the report."""
    if kind == "program":
        rec = record_from_program(result.stdout)
    else:
        real = _fields(_client_lines(result.stdout).get("real", b""))
        rec = real.get("record", "[]")[1:-1].encode()
    return rec.decode("ascii", "replace") if rec is not None else "(none)"
