#!/usr/bin/env python3
"""Runs the collector on an emulated machine and checks what it reports.

One invocation boots one machine of MACHINES under software emulation
(qemu-system-x86_64, or qemu-system-aarch64 with UEFI firmware for --arch
aarch64): Debian's kernel, and an initramfs packed here from busybox-static,
the collector's test program, our client of libkolvex, the capture tool,
dmidecode, lshw, grep, their shared libraries and the kernel modules that
the machine's hardware needs. Kernel, modules, busybox, tools and libraries
come from --guest-root: the host itself, or an unpacked root of the
guest's architecture. The guest's /init loads the modules, sets up host
name and interfaces, runs the payload, sends every output over a channel of
its own (base64 between markers) and powers off. check.py then verifies
each run against the machine's expectations.

Exit status: 0 pass, 1 fail, 77 skipped (no qemu, firmware, kernel or static
busybox).

With --record-data DIR the guest also records the raw kernel answers and tool
outputs of the machine into DIR (test data for the unit tests).
"""

import argparse
import base64
import dataclasses
import datetime
import gzip
import lzma
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time

# No __pycache__ in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check  # noqa: E402

SKIP = 77

# Guest user for the unprivileged runs.
GUEST_USER, GUEST_UID = "kolvex", 1000


# --------------------------------------------------------------------------
# Machines
# --------------------------------------------------------------------------

@dataclasses.dataclass
class Run:
    """One payload run inside the guest and what it must report."""
    name: str
    kind: str            # "program": kolvexforlinux; "client": kolvex-e2e-client
    uid: int
    expect: check.Expect


def _as_root(expect):
    """The program and the client, both as root, must report the same."""
    return [Run("program", "program", 0, expect), Run("client", "client", 0, expect)]


@dataclasses.dataclass
class Capture:
    """A raw answer to record as test data (only with --record-data)."""
    file: str            # name under the data directory
    command: str         # guest shell command whose stdout is the content
    what: str            # what the file holds, for its first comment line
    # A sysfs file goes verbatim (no comment line) into this folder of the
    # data directory, at its path below /sys; the folder's PROVENANCE file
    # carries the comment lines.
    tree: str = ""


def _sysfs(tree, path, what):
    return Capture(path, f"cat /sys/{path}", what, tree)


def _smbios(tree):
    """The SMBIOS entry point and table the kernel publishes (root's)."""
    return [_sysfs(tree, "firmware/dmi/tables/smbios_entry_point",
                   "the SMBIOS entry point as the kernel publishes it"),
            _sysfs(tree, "firmware/dmi/tables/DMI", "the SMBIOS table as the kernel publishes it")]


@dataclasses.dataclass
class Machine:
    name: str
    summary: str
    qemu: list
    modules: list        # module names; dependencies come from modules.dep
    setup: str           # guest shell lines run after the modules are loaded
    runs: list
    captures: list = dataclasses.field(default_factory=list)
    # Packed but loaded only where setup says "load_late", so that devices
    # probe in a fixed order (the first disk must become /dev/sda).
    late_modules: list = dataclasses.field(default_factory=list)
    arch: str = "x86_64"


def _nic(index, mac):
    # Every NIC hangs on a hub of its own with no host side: nothing the
    # guest sends can leave QEMU. romfile= because no boot ROMs are needed
    # (and they are not installed everywhere).
    return ["-netdev", f"hubport,id=net{index},hubid={index}",
            "-device", f"virtio-net-pci,netdev=net{index},mac={mac},romfile=,addr={0x10 + index:#x}"]


def _null_disk(node):
    # A disk without a backing file: reads return zeros.
    return ["-blockdev", f"driver=null-co,node-name={node},size=67108864,read-zeroes=on"]


# The kernel release is cut to 5 characters in the record; filled in once the
# kernel to boot is known.
OS = "{os_version}"

SATA_SERIAL = "SATA  0123456789ABCD"          # 20 bytes, the whole field
VIRTIO_SERIAL = "VIRTIO-BLK-SER-42"
SCSI_SERIAL = "VSCSI-SER-0123456789-LONG"
NVME_SERIAL = "NVME-SER-0001"
LSHW_SERIAL = "LSHW  PATH 42-ABCDEF"          # 20 bytes, the whole field
PROCESSOR_ID = "0x0123456789abcdef"            # dmidecode: ID: EF CD AB 89 67 45 23 01
CPU_ID = "EFCDAB8967452301"
# CPUID leaf 1 (EAX, EDX) of QEMU's default qemu64 processor; QEMU's default
# SMBIOS processor ID holds the same two registers.
QEMU64_CPU_ID = "B10F0600FDFB8B07"
ARM_SCSI_SERIAL = "ARM-VSCSI-SER-0042-LONG"
ARM_NVME_SERIAL = "ARM-NVME-0007"
ARM_SATA_SERIAL = "ARM SATA  0011223344"     # 20 bytes, the whole field

MACHINES = {m.name: m for m in [
    Machine(
        name="sata_ahci",
        summary="q35, AHCI SATA disk serial 'SATA  0123456789ABCD', SMBIOS system serial "
                "'VMSER-0123456789', QEMU's default processor ID (qemu64), one virtio NIC "
                "52:54:00:ab:cd:01 192.168.100.23/24, host name terminal-sata-01",
        qemu=["-machine", "q35", "-smp", "1",
              *_null_disk("disk0"),
              "-device", f"ide-hd,drive=disk0,bus=ide.0,serial={SATA_SERIAL}",
              "-smbios", "type=1,serial=VMSER-0123456789",
              *_nic(0, "52:54:00:ab:cd:01")],
        modules=["ahci", "sd_mod", "sg", "virtio_pci", "virtio_net"],
        setup="""
wait_node /dev/sda
wait_node /dev/sg0
hostname terminal-sata-01
nic 52:54:00:ab:cd:01 192.168.100.23/24 up
""",
        runs=[
            # Identity path: the kernel hands the 20-byte field back as is;
            # the double space folds to one before the cut at 16.
            # The CPU ID and the BIOS serial come from the kernel's copy of
            # the SMBIOS tables, the same values the guest's own dmidecode
            # pipelines give, and the collection starts no process.
            Run("program", "program", 0, check.Expect(
                ip1="192.168.100.23", mac1="525400abcd01", name="terminal-", os=OS,
                disk="SATA 0123456789A", cpu=QEMU64_CPU_ID, bios="VMSER-0123", flags=0,
                lshw=False)),
            Run("client", "client", 0, check.Expect(
                ip1="192.168.100.23", mac1="525400abcd01", name="terminal-", os=OS,
                disk="SATA 0123456789A", cpu=QEMU64_CPU_ID, bios="VMSER-0123", flags=0,
                lshw=False, started=0, pipelines=True)),
            # An ordinary user may neither open /dev/sda nor read the DMI
            # tables; the kernel's copy of the unit serial number page and
            # CPUID give the same disk serial and CPU ID as root gets. The
            # BIOS serial has no such source, and dmidecode, a plain
            # program that could read no more, is not started.
            Run("client_uid1000", "client", GUEST_UID, check.Expect(
                ip1="192.168.100.23", mac1="525400abcd01", name="terminal-", os=OS,
                disk="SATA 0123456789A", cpu=QEMU64_CPU_ID, bios="", flags=0x100,
                lshw=False, started=0, pipelines=True)),
        ],
        captures=[
            Capture("identity_ahci_sata.hex", "kolvex-e2e-capture identity /dev/sda",
                    "HDIO_GET_IDENTITY answer of /dev/sda"),
            Capture("vpd80_ahci_sata.hex", "kolvex-e2e-capture vpd80 /dev/sda",
                    "SG_IO INQUIRY VPD 0x80 answer of /dev/sda (libata's SCSI translation)"),
            Capture("dmidecode_t1.txt", "dmidecode -t 1", "output of 'dmidecode -t 1'"),
            Capture("dmidecode_t1_grep.txt", 'dmidecode -t 1 | grep "Serial Number"',
                    "output of 'dmidecode -t 1 | grep \"Serial Number\"'"),
            Capture("lshw_disk_ahci.txt", "lshw -class disk", "output of 'lshw -class disk'"),
            Capture("lshw_disk_ahci_grep.txt", "lshw -class disk|grep serial",
                    "output of 'lshw -class disk|grep serial'"),
            _sysfs("sysfs_ahci_sata", "block/sda/device/vpd_pg80",
                   "the unit serial number page the kernel keeps for /dev/sda"),
            *_smbios("sysfs_smbios_q35"),
            Capture("dmidecode_t4_qemu64_grep.txt", "dmidecode -t 4 | grep ID",
                    "output of 'dmidecode -t 4 | grep ID'"),
        ],
    ),
    Machine(
        name="virtio_scsi_serial",
        summary="pc (i440fx), virtio-scsi scsi-hd serial 'VSCSI-SER-0123456789-LONG', two "
                "processor sockets (processor-id 0x0123456789abcdef), SMBIOS system serial "
                "'SYS-42 1a 2b', four virtio NICs (:a0 10.0.0.10/24 up, :a1 172.16.5.11/16 up, "
                ":a2 192.168.50.12/24 down, :a3 no address), lo, tunl0 10.99.3.7/16 up, no host name",
        qemu=["-machine", "pc", "-smp", "2,sockets=2,cores=1,threads=1",
              *_null_disk("disk0"),
              "-device", "virtio-scsi-pci,id=scsi0",
              "-device", f"scsi-hd,drive=disk0,bus=scsi0.0,serial={SCSI_SERIAL}",
              "-smbios", "type=1,serial=SYS-42 1a 2b",
              "-smbios", f"type=4,processor-id={PROCESSOR_ID}",
              *_nic(0, "52:54:00:00:00:a0"), *_nic(1, "52:54:00:00:00:a1"),
              *_nic(2, "52:54:00:00:00:a2"), *_nic(3, "52:54:00:00:00:a3")],
        # ipip last, so tunl0 is registered after the NICs and listed last.
        modules=["virtio_pci", "virtio_scsi", "sd_mod", "sg", "virtio_net", "ipip"],
        setup="""
wait_node /dev/sda
wait_node /dev/sg0
nic 52:54:00:00:00:a0 10.0.0.10/24 up
nic 52:54:00:00:00:a1 172.16.5.11/16 up
nic 52:54:00:00:00:a2 192.168.50.12/24 down
nic 52:54:00:00:00:a3 none up
ip addr add 10.99.3.7/16 dev tunl0
ip link set tunl0 up
""",
        # tunl0's hardware address is 4 bytes long: the probe must read the
        # two bytes the kernel does not write as zero, not as the last two
        # octets of tunl0's address (.3.7 here would show as 000000000307).
        runs=[
            # The kernel lists lo, eth0, eth1, eth2, tunl0; the walk starts
            # at tunl0 (zero hardware address: skipped), takes eth2 although
            # it is down, then eth1, and never looks at eth0 or lo.
            # The identity request fails on a virtio-scsi disk, the unit
            # serial number page gives the serial. No host name set: the
            # kernel's node name is "(none)". dmidecode prints one ID line
            # per socket; QEMU gives both sockets the same processor ID, so
            # the record alone cannot tell which line was taken (the
            # recorded two-line output serves the unit tests for that).
            *_as_root(check.Expect(
                ip1="192.168.50.12", ip2="172.16.5.11", mac1="5254000000a2", mac2="5254000000a1",
                name="(none)", os=OS, disk="VSCSI-SER-012345", cpu=CPU_ID, bios="SYS-42",
                flags=0)),
        ],
        captures=[
            Capture("identity_virtio_scsi.hex", "kolvex-e2e-capture identity /dev/sda",
                    "HDIO_GET_IDENTITY on /dev/sda (refused by a virtio-scsi disk)"),
            Capture("vpd80_virtio_scsi.hex", "kolvex-e2e-capture vpd80 /dev/sda",
                    "SG_IO INQUIRY VPD 0x80 answer of /dev/sda"),
            Capture("dmidecode_t4_two_sockets.txt", "dmidecode -t 4",
                    "output of 'dmidecode -t 4'"),
            Capture("dmidecode_t4_two_sockets_grep.txt", "dmidecode -t 4 | grep ID",
                    "output of 'dmidecode -t 4 | grep ID'"),
            Capture("dmidecode_t1_spaces.txt", "dmidecode -t 1", "output of 'dmidecode -t 1'"),
            Capture("dmidecode_t1_spaces_grep.txt", 'dmidecode -t 1 | grep "Serial Number"',
                    "output of 'dmidecode -t 1 | grep \"Serial Number\"'"),
            Capture("lshw_disk_virtio_scsi.txt", "lshw -class disk",
                    "output of 'lshw -class disk'"),
            Capture("lshw_disk_virtio_scsi_grep.txt", "lshw -class disk|grep serial",
                    "output of 'lshw -class disk|grep serial'"),
            *_smbios("sysfs_smbios_pc"),
            Capture("ip_addr_walk.txt", "ip -4 addr",
                    "output of busybox 'ip -4 addr' (the interface address order of the walk)"),
        ],
    ),
    Machine(
        name="virtio_scsi_no_serial",
        summary="q35, virtio-scsi scsi-hd without serial (/dev/sda) and an AHCI SATA disk "
                "serial 'LSHW  PATH 42-ABCDEF' (/dev/sdb), processor-id 0x0123456789abcdef, no "
                "SMBIOS system serial, no NIC, host name termnl-09",
        qemu=["-machine", "q35", "-smp", "1",
              *_null_disk("disk0"), *_null_disk("disk1"),
              "-device", "virtio-scsi-pci,id=scsi0",
              "-device", "scsi-hd,drive=disk0,bus=scsi0.0",
              "-device", f"ide-hd,drive=disk1,bus=ide.0,serial={LSHW_SERIAL}",
              "-smbios", f"type=4,processor-id={PROCESSOR_ID}"],
        modules=["virtio_pci", "virtio_scsi", "sd_mod", "sg"],
        late_modules=["ahci"],
        setup="""
wait_node /dev/sda
wait_node /dev/sg0
load_late
wait_node /dev/sdb
wait_node /dev/sg1
hostname termnl-09
""",
        runs=[
            # /dev/sda refuses the identity request and ends the page
            # request with CHECK CONDITION and sense data, so the chain goes
            # on to lshw, whose first serial line is the SATA disk's: every
            # space removed, then cut to 16 (the identity path would have
            # kept one space). Only lo is configured: no address pair at
            # all. QEMU's default system serial is unset, dmidecode says
            # "Not Specified", and the first word of that is what the record
            # gets.
            *_as_root(check.Expect(
                name="termnl-09", os=OS, disk="LSHWPATH42-ABCDE", cpu=CPU_ID, bios="Not",
                flags=0xC, lshw=True)),
        ],
        captures=[
            Capture("vpd80_virtio_scsi_no_serial.hex", "kolvex-e2e-capture vpd80 /dev/sda",
                    "SG_IO INQUIRY VPD 0x80 answer of /dev/sda (disk without serial)"),
            Capture("lshw_disk_virtio_scsi_no_serial.txt", "lshw -class disk",
                    "output of 'lshw -class disk'"),
            Capture("lshw_disk_virtio_scsi_no_serial_grep.txt", "lshw -class disk|grep serial",
                    "output of 'lshw -class disk|grep serial'"),
            Capture("dmidecode_t1_unset.txt", "dmidecode -t 1", "output of 'dmidecode -t 1'"),
        ],
    ),
    Machine(
        name="nvme_only",
        summary="q35, one NVMe disk serial 'NVME-SER-0001' and nothing else, SMBIOS system "
                "serial 'NVM3SYS', processor-id 0x0123456789abcdef, one virtio NIC "
                "52:54:00:12:34:56 10.1.2.3/8, host name nvme-host",
        qemu=["-machine", "q35", "-smp", "1",
              *_null_disk("disk0"),
              "-device", f"nvme,drive=disk0,serial={NVME_SERIAL}",
              "-smbios", "type=1,serial=NVM3SYS",
              "-smbios", f"type=4,processor-id={PROCESSOR_ID}",
              *_nic(0, "52:54:00:12:34:56")],
        modules=["nvme", "virtio_pci", "virtio_net"],
        setup="""
wait_node /dev/nvme0n1
hostname nvme-host
nic 52:54:00:12:34:56 10.1.2.3/8 up
""",
        runs=[
            # No /dev/sda nor /dev/hda: the controller's serial in sysfs
            # decides, and lshw (which lists the NVMe serial only on the
            # controller, not under -class disk) is never started.
            *_as_root(check.Expect(
                ip1="10.1.2.3", mac1="525400123456", name="nvme-host", os=OS,
                disk=NVME_SERIAL, cpu=CPU_ID, bios="NVM3SYS", flags=0, lshw=False)),
            # An ordinary user reads the same serial; the CPU ID comes from
            # CPUID, not from the processor-id given to SMBIOS.
            Run("program_uid1000", "program", GUEST_UID, check.Expect(
                ip1="10.1.2.3", mac1="525400123456", name="nvme-host", os=OS,
                disk=NVME_SERIAL, cpu=QEMU64_CPU_ID, bios="", flags=0x100, lshw=False)),
        ],
        captures=[
            _sysfs("sysfs_nvme", "block/nvme0n1/device/serial",
                   "the NVMe controller's serial as sysfs publishes it"),
            # Recorded on sata_ahci while it had this processor-id.
            Capture("dmidecode_t4.txt", "dmidecode -t 4", "output of 'dmidecode -t 4'"),
            Capture("dmidecode_t4_grep.txt", "dmidecode -t 4 | grep ID",
                    "output of 'dmidecode -t 4 | grep ID'"),
            Capture("lshw_disk_nvme.txt", "lshw -class disk", "output of 'lshw -class disk'"),
            Capture("lshw_disk_nvme_grep.txt", "lshw -class disk|grep serial",
                    "output of 'lshw -class disk|grep serial'"),
            Capture("lshw_storage_nvme.txt", "lshw -class storage",
                    "output of 'lshw -class storage' (where this lshw puts the NVMe serial)"),
        ],
    ),
    Machine(
        name="virtio_blk",
        summary="pc (i440fx), virtio-blk disk serial 'VIRTIO-BLK-SER-42' (/dev/vda) and an SD "
                "card (/dev/mmcblk0), SMBIOS system serial 'VBLK-SER', QEMU's default processor "
                "ID (qemu64), no NIC, host name vblk",
        qemu=["-machine", "pc", "-smp", "1",
              *_null_disk("disk0"), *_null_disk("disk1"),
              "-device", f"virtio-blk-pci,drive=disk0,serial={VIRTIO_SERIAL}",
              "-device", "sdhci-pci", "-device", "sd-card,drive=disk1",
              "-smbios", "type=1,serial=VBLK-SER"],
        modules=["virtio_pci", "virtio_blk", "sdhci_pci", "mmc_block"],
        setup="""
wait_node /dev/vda
wait_node /dev/mmcblk0
hostname vblk
""",
        runs=[
            # Neither sda nor hda: the virtio serial comes before the card's.
            *_as_root(check.Expect(
                name="vblk", os=OS, disk="VIRTIO-BLK-SER-4", cpu=QEMU64_CPU_ID, bios="VBLK-SER",
                flags=0xC, lshw=False)),
        ],
        captures=[
            _sysfs("sysfs_virtio_mmc", "block/vda/serial",
                   "the virtio-blk serial as sysfs publishes it"),
            _sysfs("sysfs_virtio_mmc", "block/mmcblk0/device/serial",
                   "the SD card's serial as sysfs publishes it"),
        ],
    ),
    Machine(
        name="nvme_multipath_virtio",
        summary="q35, an NVMe controller serial 'NVME-SER-0002' in an NVMe subsystem (native "
                "multipath: /dev/nvme0n1 is the subsystem's node) and a virtio-blk disk serial "
                "'VIRTIO-BLK-SER-42', processor-id 0x0123456789abcdef, no SMBIOS system serial, "
                "no NIC, host name nvmvirt",
        qemu=["-machine", "q35", "-smp", "1",
              *_null_disk("disk0"), *_null_disk("disk1"),
              "-device", "nvme-subsys,id=subsys0,nqn=kolvex-e2e",
              "-device", "nvme,id=nvme0,serial=NVME-SER-0002,subsys=subsys0",
              "-device", "nvme-ns,drive=disk0,bus=nvme0,nsid=1",
              "-device", f"virtio-blk-pci,drive=disk1,serial={VIRTIO_SERIAL}",
              "-smbios", f"type=4,processor-id={PROCESSOR_ID}"],
        modules=["nvme", "virtio_pci", "virtio_blk"],
        setup="""
wait_node /dev/nvme0n1
wait_node /dev/vda
hostname nvmvirt
""",
        runs=[
            # NVMe before virtio, for root and an ordinary user alike.
            *_as_root(check.Expect(
                name="nvmvirt", os=OS, disk="NVME-SER-0002", cpu=CPU_ID, bios="Not",
                flags=0xC, lshw=False)),
            Run("client_uid1000", "client", GUEST_UID, check.Expect(
                name="nvmvirt", os=OS, disk="NVME-SER-0002", cpu=QEMU64_CPU_ID, bios="",
                flags=0x10C, lshw=False)),
        ],
        captures=[
            _sysfs("sysfs_nvme_multipath_virtio", "block/nvme0n1/device/serial",
                   "the NVMe subsystem's serial as sysfs publishes it (multipath node)"),
            _sysfs("sysfs_nvme_multipath_virtio", "block/vda/serial",
                   "the virtio-blk serial as sysfs publishes it"),
            Capture("sysfs_nvme_multipath_layout.txt",
                    "ls -l /sys/block/ /sys/block/nvme0n1/device /sys/block/nvme0n1/device/",
                    "where the multipath node's device link leads"),
        ],
    ),
    Machine(
        name="no_disk",
        summary="pc (i440fx), no disk at all, SMBIOS system serial 'ND-SERIAL', processor-id "
                "0x0123456789abcdef, one virtio NIC 52:54:00:00:be:ef with 127.0.1.1/8, "
                "host name nodisk",
        qemu=["-machine", "pc", "-smp", "1",
              "-smbios", "type=1,serial=ND-SERIAL",
              "-smbios", f"type=4,processor-id={PROCESSOR_ID}",
              *_nic(0, "52:54:00:00:be:ef")],
        modules=["virtio_pci", "virtio_net"],
        setup="""
hostname nodisk
nic 52:54:00:00:be:ef 127.0.1.1/8 up
""",
        runs=[
            # Only 127.0.0.1 itself is excluded: a loopback-range address on
            # an interface with a real hardware address is taken.
            *_as_root(check.Expect(
                ip1="127.0.1.1", mac1="52540000beef", name="nodisk", os=OS,
                disk="", cpu=CPU_ID, bios="ND-SERIAL", flags=0x40)),
        ],
        captures=[
            Capture("lshw_disk_none.txt", "lshw -class disk", "output of 'lshw -class disk'"),
        ],
    ),
    Machine(
        name="arm64_virt",
        arch="aarch64",
        summary="aarch64 virt (cortex-a57, UEFI), virtio-scsi scsi-hd serial "
                "'ARM-VSCSI-SER-0042-LONG' (/dev/sda), NVMe serial 'ARM-NVME-0007', AHCI SATA "
                "disk serial 'ARM SATA  0011223344' (/dev/sdb), SMBIOS system serial "
                "'A64-SN-7788-XYZ', processor-id 0x0123456789abcdef, two virtio NICs "
                "(:01 10.64.0.11/24, :02 192.168.64.12/24), host name arm64-terminal",
        qemu=["-machine", "virt", "-cpu", "cortex-a57", "-smp", "1",
              *_null_disk("disk0"), *_null_disk("disk1"), *_null_disk("disk2"),
              "-device", "virtio-scsi-pci,id=scsi0",
              "-device", f"scsi-hd,drive=disk0,bus=scsi0.0,serial={ARM_SCSI_SERIAL}",
              "-device", f"nvme,drive=disk1,serial={ARM_NVME_SERIAL}",
              "-device", "ich9-ahci,id=ahci0",
              "-device", f"ide-hd,drive=disk2,bus=ahci0.0,serial={ARM_SATA_SERIAL}",
              "-smbios", "type=1,serial=A64-SN-7788-XYZ",
              "-smbios", f"type=4,processor-id={PROCESSOR_ID}",
              *_nic(0, "52:54:00:a6:40:01"), *_nic(1, "52:54:00:a6:40:02")],
        modules=["virtio_scsi", "sd_mod", "sg", "nvme", "virtio_net"],
        # AHCI after the SCSI scan, so the virtio-scsi disk is /dev/sda.
        late_modules=["ahci"],
        setup="""
wait_node /dev/sda
wait_node /dev/sg0
wait_node /dev/nvme0n1
load_late
wait_node /dev/sdb
wait_node /dev/sg1
hostname arm64-terminal
nic 52:54:00:a6:40:01 10.64.0.11/24 up
nic 52:54:00:a6:40:02 192.168.64.12/24 up
""",
        runs=[
            # The same kernel requests as on x86-64: the identity request is
            # refused by the virtio-scsi disk, the unit serial number page
            # answers; the walk takes eth1, then eth0.
            # The CPU ID and the BIOS serial from the SMBIOS tables (3.x
            # entry point), as the guest's own pipelines give them.
            *_as_root(check.Expect(
                ip1="192.168.64.12", ip2="10.64.0.11", mac1="525400a64002", mac2="525400a64001",
                name="arm64-ter", os=OS, disk="ARM-VSCSI-SER-00", cpu=CPU_ID, bios="A64-SN-778",
                flags=0, lshw=False, started=0, pipelines=True)),
            # An ordinary user reads the disk serial from the kernel's copy
            # of the unit serial number page. No CPUID on ARM: without the
            # DMI tables the CPU item stays empty.
            Run("program_uid1000", "program", GUEST_UID, check.Expect(
                ip1="192.168.64.12", ip2="10.64.0.11", mac1="525400a64002", mac2="525400a64001",
                name="arm64-ter", os=OS, disk="ARM-VSCSI-SER-00", cpu="", bios="", flags=0x180,
                lshw=False)),
        ],
        captures=[
            Capture("identity_ahci_sata_arm64.hex", "kolvex-e2e-capture identity /dev/sdb",
                    "HDIO_GET_IDENTITY answer of /dev/sdb (AHCI on arm64)"),
            Capture("vpd80_virtio_scsi_arm64.hex", "kolvex-e2e-capture vpd80 /dev/sda",
                    "SG_IO INQUIRY VPD 0x80 answer of /dev/sda (virtio-scsi on arm64)"),
            Capture("dmidecode_t4_arm64.txt", "dmidecode -t 4", "output of 'dmidecode -t 4'"),
            Capture("dmidecode_t4_arm64_grep.txt", "dmidecode -t 4 | grep ID",
                    "output of 'dmidecode -t 4 | grep ID'"),
            Capture("dmidecode_t1_arm64_grep.txt", 'dmidecode -t 1 | grep "Serial Number"',
                    "output of 'dmidecode -t 1 | grep \"Serial Number\"'"),
            *_smbios("sysfs_smbios_arm64"),
            Capture("lshw_disk_arm64.txt", "lshw -class disk", "output of 'lshw -class disk'"),
            Capture("lshw_disk_arm64_grep.txt", "lshw -class disk|grep serial",
                    "output of 'lshw -class disk|grep serial'"),
        ],
    ),
]}


# --------------------------------------------------------------------------
# Host tools
# --------------------------------------------------------------------------

class Skip(Exception):
    pass


@dataclasses.dataclass
class Arch:
    """What differs between the emulated architectures."""
    qemu: str                # system emulator
    qemu_package: str        # the Debian package that has it
    triplet: str             # multiarch library directory name
    console: str             # the kernel's console device
    firmware: str = ""       # UEFI firmware (SMBIOS tables come from it on ARM)
    firmware_package: str = ""
    # Modules the output channel needs, loaded before anything else.
    channel_modules: list = dataclasses.field(default_factory=list)
    # Guest shell lines that open file descriptor 3 on the output channel.
    channel_open: str = ""
    virtio_channel: bool = False
    # Kills a guest that hangs (a missing module, a payload that never
    # returns); generous against the boot times measured here.
    time_limit_s: int = 150


ARCHES = {
    # The second 16550 port carries the outputs.
    "x86_64": Arch(qemu="qemu-system-x86_64", qemu_package="qemu-system-x86",
                   triplet="x86_64-linux-gnu", console="ttyS0",
                   channel_open="stty -F /dev/ttyS1 raw -echo 2>/dev/null\n"
                                "exec 3>/dev/ttyS1\n"),
    # virt has one UART, the console; the outputs go through a virtio serial
    # port, which has no line discipline at all.
    "aarch64": Arch(qemu="qemu-system-aarch64", qemu_package="qemu-system-arm",
                    triplet="aarch64-linux-gnu", console="ttyAMA0",
                    firmware="/usr/share/qemu-efi-aarch64/QEMU_EFI.fd",
                    firmware_package="qemu-efi-aarch64",
                    channel_modules=["virtio_pci", "virtio_console"],
                    channel_open="wait_node /dev/vport0p1\nexec 3>/dev/vport0p1\n",
                    virtio_channel=True, time_limit_s=400),
}


def qemu_channel_args(arch, console, channel):
    """The console and the output channel, both into files on the host."""
    if arch.virtio_channel:
        return ["-serial", f"file:{console}",
                "-chardev", f"file,id=channel,path={channel}",
                "-device", "virtio-serial-pci,id=vser0",
                "-device", "virtserialport,bus=vser0.0,nr=1,chardev=channel,name=kolvex.0"]
    return ["-serial", f"file:{console}", "-serial", f"file:{channel}"]


def release_key(rel):
    return [int(x) if x.isdigit() else x for x in re.split(r"[.-]", rel)]


def find_kernel(root):
    """(release, vmlinuz, modules dir) of the kernel to boot, from the guest root.

    On the host's own root the running kernel when its image and modules are
    installed, else the newest installed linux-image (a container's host
    kernel is usually not); in an unpacked root the newest one there.
    """
    def usable(rel):
        return (os.path.isfile(os.path.join(root, f"boot/vmlinuz-{rel}"))
                and os.path.isfile(os.path.join(root, f"lib/modules/{rel}/modules.dep")))

    candidates = []
    running = os.uname().release
    if root == "/" and usable(running):
        candidates.append(running)
    moddirs = os.path.join(root, "lib/modules")
    if os.path.isdir(moddirs):
        others = [r for r in os.listdir(moddirs) if r != running and usable(r)]
        candidates.extend(sorted(others, key=release_key, reverse=True))
    if not candidates:
        raise Skip(f"no kernel with {root}/boot/vmlinuz-* and {root}/lib/modules/*/modules.dep")
    rel = candidates[0]
    image = os.path.join(root, f"boot/vmlinuz-{rel}")
    if not os.access(image, os.R_OK):
        raise Skip(f"{image} is not readable by this user")
    return rel, image, os.path.join(root, f"lib/modules/{rel}")


def find_qemu(arch):
    qemu = shutil.which(arch.qemu)
    if not qemu:
        raise Skip(f"{arch.qemu} not found (install {arch.qemu_package})")
    if arch.firmware and not os.path.isfile(arch.firmware):
        raise Skip(f"{arch.firmware} not found (install {arch.firmware_package})")
    return qemu


def in_root(root, path):
    """Host path of the guest path, following symbolic links inside root."""
    parts = [p for p in path.split("/") if p]
    done = []
    hops = 0
    while parts:
        part = parts.pop(0)
        if part == "..":
            done = done[:-1]
            continue
        host = os.path.join(root, *done, part)
        if os.path.islink(host):
            hops += 1
            if hops > 40:
                raise RuntimeError(f"symbolic link loop at {host}")
            target = os.readlink(host)
            if target.startswith("/"):
                done = []
            parts = [p for p in target.split("/") if p] + parts
            continue
        done.append(part)
    return os.path.join(root, *done)


def find_busybox(root):
    for path in ("bin/busybox", "usr/bin/busybox"):
        host = in_root(root, path)
        if os.path.isfile(host) and read_elf(host).interp is None:
            return host
    raise Skip(f"no static busybox in {root} (busybox-static)")


def find_tool(root, name):
    """(guest path, host path) of a tool of the guest root."""
    for d in ("usr/sbin", "usr/bin", "sbin", "bin"):
        host = in_root(root, os.path.join(d, name))
        if os.path.isfile(host) and os.access(host, os.X_OK):
            return "/" + os.path.join(d, name), host
    raise Skip(f"{name} not found in {root}")


@dataclasses.dataclass
class Elf:
    interp: str          # the program interpreter; None for a static program
    needed: list         # DT_NEEDED names
    runpath: list        # DT_RUNPATH or DT_RPATH directories


def read_elf(path):
    """The dynamic-linking facts of a 64-bit little-endian ELF file.

    Read here rather than asked of ldd: ldd runs the host's loader, which
    cannot load another architecture's programs.
    """
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise RuntimeError(f"{path}: not a 64-bit little-endian ELF file")
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    interp, dynamic, loads = None, None, []
    for i in range(phnum):
        ptype, _, offset, vaddr, _, filesz, _, _ = struct.unpack_from(
            "<IIQQQQQQ", data, phoff + i * phentsize)
        if ptype == 3:      # PT_INTERP
            interp = data[offset:offset + filesz].rstrip(b"\0").decode()
        elif ptype == 2:    # PT_DYNAMIC
            dynamic = (offset, filesz)
        elif ptype == 1:    # PT_LOAD
            loads.append((vaddr, offset, filesz))
    needed, runpath = [], []
    if dynamic is None:
        return Elf(interp, needed, runpath)

    def file_offset(addr):
        for vaddr, offset, filesz in loads:
            if vaddr <= addr < vaddr + filesz:
                return addr - vaddr + offset
        raise RuntimeError(f"{path}: address {addr:#x} outside every segment")

    entries, strtab = [], None
    for pos in range(dynamic[0], dynamic[0] + dynamic[1], 16):
        tag, value = struct.unpack_from("<qQ", data, pos)
        if tag == 0:        # DT_NULL
            break
        if tag == 5:        # DT_STRTAB
            strtab = file_offset(value)
        entries.append((tag, value))

    def string(off):
        return data[strtab + off:data.index(b"\0", strtab + off)].decode()

    for tag, value in entries:
        if tag == 1:                    # DT_NEEDED
            needed.append(string(value))
        elif tag in (15, 29):           # DT_RPATH, DT_RUNPATH
            runpath += [d for d in string(value).split(":") if d]
    return Elf(interp, needed, runpath)


def shared_libraries(binary, root, triplet):
    """(guest path, host path) of every shared object the binary loads.

    Libraries come from the guest root's standard directories, or from the
    binary's own run path where that is a host directory (the build tree).
    """
    found = {}
    standard = [f"/lib/{triplet}", f"/usr/lib/{triplet}", "/lib", "/usr/lib"]

    def visit(path):
        elf = read_elf(path)
        wanted = [(elf.interp, in_root(root, elf.interp))] if elf.interp else []
        for name in elf.needed:
            for d in elf.runpath:
                if not d.startswith("$") and os.path.isfile(os.path.join(d, name)):
                    wanted.append((os.path.join(d, name), os.path.realpath(os.path.join(d, name))))
                    break
            else:
                for d in standard:
                    guest = os.path.join(d, name)
                    if os.path.isfile(in_root(root, guest)):
                        wanted.append((guest, in_root(root, guest)))
                        break
                else:
                    raise Skip(f"{name}, needed by {path}, not found in {root}")
        for guest, host in wanted:
            if guest not in found:
                found[guest] = host
                visit(host)

    visit(binary)
    return sorted(found.items())


# --------------------------------------------------------------------------
# Initramfs
# --------------------------------------------------------------------------

class Image:
    """An in-memory newc cpio archive: no cpio tool and no root needed."""

    def __init__(self):
        self.entries = {}   # path -> (mode, data)

    def _parents(self, path):
        parts = path.strip("/").split("/")[:-1]
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            self.entries.setdefault(d, (0o040755, b""))

    def add_bytes(self, path, data, mode=0o100644):
        self._parents(path)
        self.entries[path.strip("/")] = (mode, data)

    def add_file(self, path, source, mode=None):
        with open(source, "rb") as f:
            data = f.read()
        if mode is None:
            mode = 0o100755 if os.access(source, os.X_OK) else 0o100644
        self.add_bytes(path, data, mode)

    def add_symlink(self, path, target):
        self._parents(path)
        self.entries[path.strip("/")] = (0o120777, target.encode())

    def add_dir(self, path, mode=0o040755):
        self._parents(path + "/x")
        self.entries[path.strip("/")] = (mode, b"")

    def add_binary(self, path, source, root, triplet):
        """A program and every shared object it needs, at their guest paths."""
        self.add_file(path, source, 0o100755)
        for guest, host in shared_libraries(source, root, triplet):
            if guest.strip("/") not in self.entries:
                self.add_file(guest, host, 0o100755)

    def cpio(self):
        out = bytearray()
        ino = 1

        def entry(name, mode, data):
            nonlocal ino
            nb = name.encode() + b"\0"
            fields = [ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(nb), 0]
            out.extend(b"070701" + b"".join(b"%08X" % v for v in fields))
            out.extend(nb)
            out.extend(b"\0" * (-len(out) % 4))
            out.extend(data)
            out.extend(b"\0" * (-len(out) % 4))
            ino += 1

        for name in sorted(self.entries):
            mode, data = self.entries[name]
            entry(name, mode, data)
        entry("TRAILER!!!", 0, b"")
        return bytes(out)


def resolve_modules(moddir, names):
    """Module files (relative to moddir) for names and their dependencies, in load order."""
    deps = {}
    by_name = {}
    with open(os.path.join(moddir, "modules.dep")) as f:
        for line in f:
            path, _, rest = line.partition(":")
            deps[path] = rest.split()
            base = os.path.basename(path)
            mod = re.sub(r"\.ko(\.(xz|zst|gz))?$", "", base).replace("-", "_")
            by_name[mod] = path
    builtin = set()
    builtin_file = os.path.join(moddir, "modules.builtin")
    if os.path.exists(builtin_file):
        with open(builtin_file) as f:
            for line in f:
                builtin.add(re.sub(r"\.ko$", "", os.path.basename(line.strip())).replace("-", "_"))

    order = []

    def visit(path):
        if path in order:
            return
        # modules.dep lists every (transitive) dependency; the last one is
        # the deepest, so loading them in reverse brings each after its own.
        for dep in reversed(deps[path]):
            visit(dep)
        order.append(path)

    for name in names:
        key = name.replace("-", "_")
        if key in by_name:
            visit(by_name[key])
        elif key not in builtin:
            raise RuntimeError(f"module {name} neither in modules.dep nor built in")
    return order


def module_bytes(path):
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".xz"):
        return lzma.decompress(data)
    if path.endswith(".gz"):
        return gzip.decompress(data)
    if path.endswith(".zst"):
        # busybox insmod only takes plain ELF objects.
        zstd = shutil.which("zstd")
        if not zstd:
            raise Skip(f"{path} is zstd-compressed and no zstd tool is installed")
        return subprocess.run([zstd, "-dc", path], capture_output=True, check=True).stdout
    return data


INIT_HEAD = r"""#!/bin/busybox sh
/bin/busybox mkdir -p /proc /sys /dev /tmp /root
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t sysfs sysfs /sys
# The kernel mounts no devtmpfs on an initramfs root.
/bin/busybox mount -t devtmpfs devtmpfs /dev
/bin/busybox --install -s /bin
export PATH=/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root
mkdir -p /tmp/out
chmod 1777 /tmp

# Outputs travel base64-encoded over a channel of their own (a second
# serial port or a virtio port), so no line discipline can alter the
# collector's bytes.
note() { echo "@@note $*" >&3; }
emit() { echo "@@begin $1" >&3; base64 "$2" >&3; echo "@@end $1" >&3; }

load_list() {
  while read -r m; do
    insmod "/lib/modules/$m" || note "insmod $m failed"
  done < "$1"
}
load_late() { load_list /etc/e2e/late_modules; }

# Device nodes appear some time after insmod returns (NVMe, SCSI scan).
wait_node() {
  i=0
  while [ ! -e "$1" ] && [ $i -lt 150 ]; do sleep 0.1; i=$((i+1)); done
  [ -e "$1" ] || note "node $1 did not appear"
}

load_list /etc/e2e/channel_modules
@CHANNEL_OPEN@
load_list /etc/e2e/modules

# nic MAC ADDRESS/PREFIX|none up|down: configure the interface with that MAC.
nic() {
  for d in /sys/class/net/*; do
    if [ "$(cat "$d/address")" = "$1" ]; then
      dev=${d##*/}
      [ "$2" = none ] || ip addr add "$2" dev "$dev"
      [ "$3" = up ] && ip link set "$dev" up
      return 0
    fi
  done
  note "no interface with MAC $1"
}

# run NAME UID PROGRAM: stdout, stderr, exit status and the clock around it;
# NAME.lshw only when the run started lshw (the stand-in below logs each start).
run() {
  rm -f /tmp/lshw.started
  date +%s > "/tmp/out/$1.t0"
  if [ "$2" = 0 ]; then
    "$3" > "/tmp/out/$1.out" 2> "/tmp/out/$1.err"
  else
    su -s /bin/sh """ + GUEST_USER + r""" -c "PATH=$PATH; exec $3" > "/tmp/out/$1.out" 2> "/tmp/out/$1.err"
  fi
  echo $? > "/tmp/out/$1.rc"
  date +%s > "/tmp/out/$1.t1"
  for part in out err rc t0 t1; do emit "$1.$part" "/tmp/out/$1.$part"; done
  [ -e /tmp/lshw.started ] && emit "$1.lshw" /tmp/lshw.started
  rm -f /tmp/lshw.started
}

# capture FILE COMMAND: record a raw answer of this machine.
capture() {
  sh -c "$2" > "/tmp/out/capture" 2>&1
  emit "capture:$1" /tmp/out/capture
}

ip link set lo up
"""

INIT_TAIL = r"""
uname -r > /tmp/out/uname
emit uname /tmp/out/uname
dmesg > /tmp/out/dmesg
emit dmesg /tmp/out/dmesg
echo "@@done" >&3
sync
poweroff -f
"""

PROGRAMS = {"program": "kolvexforlinux", "client": "kolvex-e2e-client"}


def build_initramfs(machine, arch, args, moddir, record):
    img = Image()
    root = args.guest_root
    busybox = find_busybox(root)
    img.add_file("bin/busybox", busybox, 0o100755)
    img.add_symlink("bin/sh", "busybox")
    img.add_binary("usr/local/bin/kolvexforlinux", args.program, root, arch.triplet)
    img.add_binary("usr/local/bin/kolvex-e2e-client", args.client, root, arch.triplet)
    img.add_binary("usr/local/bin/kolvex-e2e-capture", args.capture_tool, root, arch.triplet)
    # The collector runs its commands through the shell; GNU grep rather
    # than busybox's, as on the machines it is made for.
    for tool in ("dmidecode", "lshw", "grep"):
        guest, host = find_tool(root, tool)
        img.add_binary(guest, host, root, arch.triplet)
    # First on PATH: logs that lshw started, then runs the real one.
    img.add_bytes("usr/local/bin/lshw",
                  f"#!/bin/sh\necho \"$*\" >> /tmp/lshw.started\n"
                  f"exec {find_tool(root, 'lshw')[0]} \"$@\"\n".encode(), 0o100755)
    for d in ("dev", "proc", "sys", "tmp", "root", "etc/e2e"):
        img.add_dir(d)
    img.add_bytes("etc/passwd", f"root:x:0:0:root:/root:/bin/sh\n"
                  f"{GUEST_USER}:x:{GUEST_UID}:{GUEST_UID}::/tmp:/bin/sh\n".encode())
    img.add_bytes("etc/group", f"root:x:0:\n{GUEST_USER}:x:{GUEST_UID}:\n".encode())

    # Each list loads only what the lists before it have not.
    lists, names, loaded = [], [], []
    for listing, more in (("channel_modules", arch.channel_modules),
                          ("modules", machine.modules), ("late_modules", machine.late_modules)):
        names += more
        modules = [m for m in resolve_modules(moddir, names) if m not in loaded]
        loaded += modules
        lists.append((listing, modules))
    for listing, modules in lists:
        load = []
        for rel in modules:
            plain = re.sub(r"\.(xz|zst|gz)$", "", rel)
            img.add_bytes(f"lib/modules/{plain}", module_bytes(os.path.join(moddir, rel)))
            load.append(plain)
        img.add_bytes(f"etc/e2e/{listing}", "".join(m + "\n" for m in load).encode())

    script = [INIT_HEAD.replace("@CHANNEL_OPEN@", arch.channel_open), machine.setup]
    for run in machine.runs:
        script.append(f"run {run.name} {run.uid} {PROGRAMS[run.kind]}\n")
    if record:
        for cap in machine.captures:
            script.append(f"capture {shlex.quote(cap.file)} {shlex.quote(cap.command)}\n")
    script.append(INIT_TAIL)
    img.add_bytes("init", "".join(script).encode(), 0o100755)
    return gzip.compress(img.cpio(), compresslevel=1)


# --------------------------------------------------------------------------
# Boot
# --------------------------------------------------------------------------

def assert_isolated(qemu_args):
    """Refuses a machine whose network could reach anything outside QEMU."""
    for i, arg in enumerate(qemu_args):
        if arg in ("-net", "-nic"):
            raise RuntimeError(f"{arg} is not allowed; use -netdev hubport or user,restrict=on")
        if arg == "-netdev":
            netdev = qemu_args[i + 1]
            kind = netdev.split(",")[0]
            if kind == "hubport":
                continue
            if kind == "user" and "restrict=on" in netdev.split(","):
                continue
            raise RuntimeError(f"-netdev {netdev} is not isolated")


def boot(machine, arch, qemu, kernel, initrd_path, work):
    assert_isolated(machine.qemu)
    console = os.path.join(work, "console.log")
    channel = os.path.join(work, "channel.log")
    firmware = ["-bios", arch.firmware] if arch.firmware else []
    cmd = [qemu, "-nodefaults", "-accel", "tcg", "-m", "512", "-display", "none",
           "-no-reboot", *firmware,
           "-kernel", kernel, "-initrd", initrd_path,
           "-append", f"console={arch.console} panic=-1 loglevel=4 tsc=unstable",
           *qemu_channel_args(arch, console, channel),
           *machine.qemu]
    with open(os.path.join(work, "qemu.cmd"), "w") as f:
        f.write(shlex.join(cmd) + "\n")
    # A guest kernel can lock up under software emulation before the payload
    # starts (seen: a kworker soft lockup in early boot); that says nothing
    # of the collector, so a hung guest is booted once more.
    for attempt in (1, 2):
        start = time.monotonic()
        with open(os.path.join(work, "qemu.stderr"), "wb") as err:
            proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=err, stderr=err)
            try:
                proc.wait(timeout=arch.time_limit_s)
                break
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                if attempt == 2:
                    raise RuntimeError(f"guest still running after {arch.time_limit_s} s, "
                                       f"twice; see {console}")
                print(f"guest still running after {arch.time_limit_s} s; booting it again")
                if os.path.exists(console):
                    shutil.copy(console, console + ".hung")
    elapsed = time.monotonic() - start
    with open(channel, "rb") as f:
        return f.read(), elapsed


def parse_channel(raw):
    """{name: bytes} of the sections the guest sent, and its notes."""
    sections, notes, done = {}, [], False
    current, chunks = None, []
    for line in raw.replace(b"\r", b"").split(b"\n"):
        text = line.decode("ascii", "replace")
        if current is None:
            if text.startswith("@@begin "):
                current, chunks = text[8:], []
            elif text.startswith("@@note "):
                notes.append(text[7:])
            elif text == "@@done":
                done = True
        elif text == f"@@end {current}":
            sections[current] = base64.b64decode("".join(chunks))
            current = None
        else:
            chunks.append(text)
    return sections, notes, done


def write_data(directory, machine, cap, content, kernel_release, qemu_version):
    stamp = datetime.date.today().isoformat()
    source = (f"Recorded {stamp} by tests/e2e/run_vm.py --record-data on machine "
              f"'{machine.name}' ({machine.summary}); kernel {kernel_release}, "
              f"{qemu_version}")
    if cap.tree:
        tree = os.path.join(directory, cap.tree)
        path = os.path.join(tree, cap.file)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        with open(os.path.join(tree, "PROVENANCE"), "a") as f:
            f.write(f"# {cap.file}: {source}; {cap.what}; the file is verbatim.\n")
        return
    header = f"# {source}; {cap.what}; everything below this line is verbatim.\n"
    with open(os.path.join(directory, cap.file), "wb") as f:
        f.write(header.encode())
        f.write(content)


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--machine", required=True, choices=sorted(MACHINES))
    ap.add_argument("--program", required=True, help="built kolvexforlinux")
    ap.add_argument("--client", required=True, help="built kolvex-e2e-client")
    ap.add_argument("--capture-tool", required=True, help="built kolvex-e2e-capture")
    ap.add_argument("--arch", choices=sorted(ARCHES), default="x86_64",
                    help="architecture of the program, the client and the guest")
    ap.add_argument("--guest-root", default="/",
                    help="where the guest's kernel, modules, busybox, tools and libraries "
                         "come from (an unpacked root for another architecture)")
    ap.add_argument("--work-dir", help="keeps the initramfs, logs and outputs here")
    ap.add_argument("--record-data", metavar="DIR",
                    help="also record raw kernel answers and tool outputs into DIR")
    args = ap.parse_args()
    machine = MACHINES[args.machine]
    arch = ARCHES[args.arch]
    if machine.arch != args.arch:
        ap.error(f"machine {machine.name} is an {machine.arch} machine")

    try:
        qemu = find_qemu(arch)
        release, kernel, moddir = find_kernel(args.guest_root)
        find_busybox(args.guest_root)
        for tool in ("dmidecode", "lshw", "grep"):
            find_tool(args.guest_root, tool)
    except Skip as why:
        print(f"SKIP: {why}")
        return SKIP

    work = args.work_dir or tempfile.mkdtemp(prefix=f"kolvex-e2e-{machine.name}-")
    os.makedirs(work, exist_ok=True)
    for stale in ("console.log", "channel.log"):
        if os.path.exists(os.path.join(work, stale)):
            os.remove(os.path.join(work, stale))

    try:
        initrd = build_initramfs(machine, arch, args, moddir, bool(args.record_data))
    except Skip as why:
        print(f"SKIP: {why}")
        return SKIP
    initrd_path = os.path.join(work, "initrd.cpio.gz")
    with open(initrd_path, "wb") as f:
        f.write(initrd)

    print(f"machine {machine.name}: {machine.summary}")
    print(f"kernel {release}, initramfs {len(initrd) // 1024} KiB, work dir {work}")
    try:
        raw, elapsed = boot(machine, arch, qemu, kernel, initrd_path, work)
    except RuntimeError as why:
        print(f"FAILED: {why}")
        return 1
    sections, notes, done = parse_channel(raw)
    print(f"guest ran {elapsed:.1f} s")
    for name, data in sections.items():
        if name.startswith("capture:"):
            continue
        with open(os.path.join(work, name.replace("/", "_")), "wb") as f:
            f.write(data)

    failures = []
    if not done:
        failures.append(f"guest did not finish its payload; see {work}/console.log")
    failures += [f"guest: {n}" for n in notes]
    guest_release = sections.get("uname", b"").decode().strip()
    if guest_release and guest_release != release:
        failures.append(f"guest runs kernel {guest_release}, expected {release}")

    for run in machine.runs:
        # The OS version item is the kernel release cut to 5 characters.
        expect = dataclasses.replace(run.expect,
                                     os=run.expect.os.format(os_version=release[:5]))
        out = sections.get(f"{run.name}.out")
        if out is None:
            failures.append(f"{run.name}: no output came back")
            continue
        result = check.RunResult(
            stdout=out, stderr=sections.get(f"{run.name}.err", b""),
            rc=sections.get(f"{run.name}.rc", b"").decode().strip(),
            t0=int(sections.get(f"{run.name}.t0", b"0").decode().strip() or 0),
            t1=int(sections.get(f"{run.name}.t1", b"0").decode().strip() or 0))
        problems = (check.check_program(result, expect) if run.kind == "program"
                    else check.check_client(result, expect))
        started = f"{run.name}.lshw" in sections
        if expect.lshw is not None and started != expect.lshw:
            problems.append("lshw started" if started else "lshw never started")
        record = check.find_record(result, run.kind)
        status = "ok" if not problems else "FAILED"
        print(f"  {run.name} (uid {run.uid}): {status}  record=[{record}]")
        failures += [f"{run.name}: {p}" for p in problems]

    if args.record_data:
        os.makedirs(args.record_data, exist_ok=True)
        # A re-recorded tree starts a fresh provenance list.
        for tree in {cap.tree for cap in machine.captures if cap.tree}:
            stale = os.path.join(args.record_data, tree, "PROVENANCE")
            if os.path.exists(stale):
                os.remove(stale)
        qemu_version = subprocess.run([qemu, "--version"], capture_output=True,
                                      text=True).stdout.splitlines()[0]
        for cap in machine.captures:
            content = sections.get(f"capture:{cap.file}")
            if content is None:
                failures.append(f"capture {cap.file}: nothing came back")
                continue
            write_data(args.record_data, machine, cap, content, release, qemu_version)
            print(f"  recorded {cap.file}")

    if failures:
        print("FAILED:")
        for f in failures:
            print(f"  - {f}")
        for run in machine.runs:
            err = sections.get(f"{run.name}.err", b"")
            if err:
                print(f"--- {run.name} stderr ---")
                print(err.decode("utf-8", "replace"))
        return 1
    print(f"PASSED: {len(machine.runs)} runs on {machine.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
