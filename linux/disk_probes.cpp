// Disk serial probes: ATA identity, SCSI unit serial number over SG_IO, the
// serials the kernel publishes in sysfs, and the chain that ends with lshw.
#include "disk_probes.h"

#include <fcntl.h>
#include <linux/hdreg.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "LinuxKolvex.h"
#include "kernel_calls.h"
#include "kolvex/kolvex.h"
#include "run_output.h"
#include "trace.h"
#include "tool_probes.h"

namespace kolvex {

namespace {

constexpr char kFirstDisk[] = "/dev/sda";
constexpr char kFirstIdeDisk[] = "/dev/hda";

}  // namespace

// A device node that could not be opened; without the right to, root would.
void ExplainOpenFailure(const char* path, const char* request, int error) {
  Trace* trace = ActiveTrace();
  if (trace == nullptr) return;
  trace->Note(TraceStep::kDiskSerial, false, "%s %s: open: %s", path, request,
              DescribeError(error).text);
  if (error == EACCES || error == EPERM) trace->Hint(TraceStep::kDiskSerial, "needs root");
}

void SerialFromIdentity(const unsigned char identity[kIdentitySize], char* serial) {
  const unsigned char* field = identity + kIdentitySerialOffset;
  std::size_t n = 0;
  while (n < kIdentitySerialLength && field[n] != 0) {
    serial[n] = static_cast<char>(field[n]);
    ++n;
  }
  serial[n] = '\0';
}

void SerialFromUnitSerialPage(const unsigned char* page, std::size_t pageSize, char* serial) {
  std::size_t out = 0;
  if (pageSize > 3) {
    std::size_t end = 4 + static_cast<std::size_t>(page[3]);
    if (end > pageSize) end = pageSize;
    for (std::size_t i = 4; i < end && page[i] != 0; ++i)
      serial[out++] = static_cast<char>(page[i]);
  }
  serial[out] = '\0';
}

void FillSgIoHeader(sg_io_hdr_t& header, unsigned char* cdb, unsigned char cdbSize, int direction,
                    unsigned char* data, unsigned int dataSize, unsigned char* sense,
                    unsigned char senseSize) {
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  header.dxfer_direction = direction;
  header.cmd_len = cdbSize;
  header.mx_sb_len = senseSize;
  header.iovec_count = 0;
  header.dxfer_len = dataSize;
  header.dxferp = data;
  header.cmdp = cdb;
  header.sbp = sense;
  header.timeout = kSgTimeoutMs;
  header.flags = 0;
  header.pack_id = 0;
  header.usr_ptr = nullptr;
}

SgOutcome DecodeSgOutcome(const sg_io_hdr_t& header) {
  SgOutcome outcome{};
  if ((header.info & SG_INFO_CHECK) != 0 && header.sb_len_wr != 0) {
    outcome.senseLength = header.sb_len_wr;
    return outcome;
  }
  if (header.masked_status != 0) {
    std::snprintf(outcome.report, sizeof outcome.report, "status=0x%x\nmasked_status=0x%x\n",
                  header.status, header.masked_status);
    outcome.result = -2;
  } else if (header.host_status != 0) {
    std::snprintf(outcome.report, sizeof outcome.report, "host_status=0x%x\n", header.host_status);
    outcome.result = -3;
  } else if (header.driver_status != 0) {
    std::snprintf(outcome.report, sizeof outcome.report, "driver_status=0x%x\n",
                  header.driver_status);
    outcome.result = -4;
  }
  return outcome;
}

// vpd_pg80 is the page the SCSI inquiry fetches, cached by the kernel at
// scan time. On a native NVMe multipath node the device link leads to the
// subsystem rather than a controller; the subsystem publishes the same
// serial under the same name. The attributes are world-readable, while the
// device nodes and the DMI tables are not.
const SysfsSerialSource kSysfsSerialSources[4] = {
    {"block/sda/device/vpd_pg80", SysfsSerialFormat::kUnitSerialPage},
    {"block/nvme0n1/device/serial", SysfsSerialFormat::kText},
    {"block/vda/serial", SysfsSerialFormat::kText},
    {"block/mmcblk0/device/serial", SysfsSerialFormat::kText},
};

void SerialFromSysfsText(const unsigned char* data, std::size_t size, char* serial) {
  std::size_t n = 0;
  while (n < size && data[n] != 0) {
    serial[n] = static_cast<char>(data[n]);
    ++n;
  }
  serial[n] = '\0';
}

bool CleanSysfsSerial(char* serial) {
  bool nonBlank = false;
  for (char* at = serial; *at != '\0'; ++at) {
    const unsigned char c = static_cast<unsigned char>(*at);
    if (c == '\r' || c == '\n') {
      *at = '\0';
      break;
    }
    if (c < 0x20 || c == 0x7f)
      *at = ' ';
    else if (c != ' ')
      nonBlank = true;
  }
  return nonBlank;
}

SysfsRead ReadSysfsSerial(const SysfsSerialSource& source, char* serial) {
  // Both decodings leave at most 255 characters and a NUL in decoded.
  unsigned char data[kInquiryDataSize] = {};
  char decoded[kDiskSerialCapacity];
  SysfsRead read = ReadSysfsAttribute(source.attribute, data, sizeof data);
  if (read.state != SysfsState::kFound) return read;
  if (source.format == SysfsSerialFormat::kUnitSerialPage)
    SerialFromUnitSerialPage(data, read.size, decoded);
  else
    SerialFromSysfsText(data, read.size, decoded);
  if (!CleanSysfsSerial(decoded)) {
    read.state = SysfsState::kEmpty;
    return read;
  }
  std::memcpy(serial, decoded, std::strlen(decoded) + 1);
  return read;
}

void ExplainSysfsRead(Trace& trace, const char* attribute, const SysfsRead& read,
                      const char* serial) {
  switch (read.state) {
    case SysfsState::kFound:
      trace.Note(TraceStep::kDiskSerial, true, "%s/%s: %s", SysfsRoot(), attribute,
                 Quote(serial).text);
      break;
    case SysfsState::kEmpty:
      trace.Note(TraceStep::kDiskSerial, false, "%s/%s: empty", SysfsRoot(), attribute);
      break;
    case SysfsState::kMissing:
      trace.Note(TraceStep::kDiskSerial, false, "%s/%s: not present", SysfsRoot(), attribute);
      break;
    case SysfsState::kUnreadable:
      trace.Note(TraceStep::kDiskSerial, false, "%s/%s: %s", SysfsRoot(), attribute,
                 DescribeError(read.error).text);
      break;
  }
}

void DiskSerialFromSysfs(char* serial) {
  for (const SysfsSerialSource& source : kSysfsSerialSources) {
    const SysfsRead read = ReadSysfsSerial(source, serial);
    if (Trace* trace = ActiveTrace()) ExplainSysfsRead(*trace, source.attribute, read, serial);
    if (read.state == SysfsState::kFound) return;
  }
}

void RunDiskChain(char* serial, void (*ide)(char*), void (*scsi)(char*), void (*sysfs)(char*),
                  void (*lshw)(char*)) {
  // The tests look at the raw first byte: a serial of blanks ends the chain.
  ide(serial);
  if (serial[0] == '\0')
    scsi(serial);
  else
    KOLVEX_TRACE(kDiskSerial, false, "SCSI unit serial page: not asked (serial found)");
  if (sysfs != nullptr) {
    if (serial[0] == '\0')
      sysfs(serial);
    else
      KOLVEX_TRACE(kDiskSerial, false, "sysfs serials: not read (serial found)");
  }
  if (serial[0] == '\0')
    lshw(serial);
  else
    KOLVEX_TRACE(kDiskSerial, false, "lshw -class disk|grep serial: not run (serial found)");
}

void ReadDiskSerialChain(char* serial) {
#if KOLVEX_KERNEL_SOURCES
  RunDiskChain(serial, getIdeTypeDiskId, GetScsiTypeHardDiskID, DiskSerialFromSysfs,
               GetDiskSerialBylshw);
#else
  RunDiskChain(serial, getIdeTypeDiskId, GetScsiTypeHardDiskID, nullptr, GetDiskSerialBylshw);
#endif
}

}  // namespace kolvex

void getIdeTypeDiskId(char* serial) {
  using kolvex::ActiveKernel;
  unsigned char identity[kolvex::kIdentitySize];
  std::memset(identity, 0, sizeof identity);
  const char* path = kolvex::kFirstDisk;
  int fd = ActiveKernel().open(path, O_RDONLY);
  // hda only stands in for a missing sda; a refused request on sda ends here.
  if (fd < 0) {
    kolvex::ExplainOpenFailure(path, "identity", errno);
    path = kolvex::kFirstIdeDisk;
    fd = ActiveKernel().open(path, O_RDONLY);
  }
  if (fd < 0) {
    kolvex::ExplainOpenFailure(path, "identity", errno);
    return;
  }
  {
    kolvex::KernelDescriptor disk(fd);
    if (ActiveKernel().ioctl(disk.fd(), HDIO_GET_IDENTITY, identity) != 0) {
      KOLVEX_TRACE(kDiskSerial, false, "%s identity: HDIO_GET_IDENTITY: %s", path,
                   kolvex::DescribeError(errno).text);
      return;
    }
  }
  kolvex::SerialFromIdentity(identity, serial);
  KOLVEX_TRACE(kDiskSerial, serial[0] != '\0', "%s identity: %s", path,
               serial[0] != '\0' ? kolvex::Quote(serial).text : "empty serial field");
}

int open_scsi_device(const char* path) {
  using kolvex::ActiveKernel;
  const int fd = ActiveKernel().open(path, O_RDWR);
  if (fd < 0) {
    kolvex::ExplainOpenFailure(path, "SCSI generic", errno);
    return -1;
  }
  int version = 0;
  if (ActiveKernel().ioctl(fd, SG_GET_VERSION_NUM, &version) < 0) {
    KOLVEX_TRACE(kDiskSerial, false, "%s SCSI generic: SG_GET_VERSION_NUM: %s", path,
                 kolvex::DescribeError(errno).text);
    ActiveKernel().close(fd);
    return -1;
  }
  if (version < kolvex::kMinSgVersion) {
    KOLVEX_TRACE(kDiskSerial, false, "%s SCSI generic: driver version %d too old", path, version);
    ActiveKernel().close(fd);
    return -1;
  }
  return fd;
}

// data_size is only read, but callers know the interface with a plain pointer.
int scsi_io(int fd, unsigned char* cdb, unsigned char cdb_size, int xfer_dir, unsigned char* data,
            unsigned int* data_size,  // NOLINT(readability-non-const-parameter)
            unsigned char* sense, unsigned int* sense_len) {
  sg_io_hdr_t header;
  kolvex::FillSgIoHeader(header, cdb, cdb_size, xfer_dir, data, *data_size, sense,
                         static_cast<unsigned char>(*sense_len));
  *sense_len = 0;
  if (kolvex::ActiveKernel().ioctl(fd, SG_IO, &header) < 0) {
    kolvex::RunPerror("SG_IO ioctl failed");
    return -1;
  }
  const kolvex::SgOutcome outcome = kolvex::DecodeSgOutcome(header);
  if (outcome.senseLength != 0) *sense_len = outcome.senseLength;
  if (outcome.report[0] != '\0') kolvex::RunPrintf("%s", outcome.report);
  return outcome.result;
}

int scsi_inquiry_unit_serial_number(int fd, char* serial) {
  unsigned char cdb[6] = {0x12, 0x01, 0x80, 0x00, 0xff, 0x00};
  unsigned char data[kolvex::kInquiryDataSize];
  unsigned char sense[kolvex::kSenseSize];
  std::memset(data, 0, sizeof data);
  std::memset(sense, 0, sizeof sense);
  unsigned int dataSize = sizeof data;
  unsigned int senseLength = sizeof sense;
  if (scsi_io(fd, cdb, sizeof cdb, SG_DXFER_FROM_DEV, data, &dataSize, sense, &senseLength) != 0 ||
      senseLength != 0)
    return -1;
  kolvex::SerialFromUnitSerialPage(data, sizeof data, serial);
  return 0;
}

void GetScsiTypeHardDiskID(char* serial) {
  const char* path = kolvex::kFirstDisk;
  int fd = open_scsi_device(path);
  if (fd < 0) {
    path = kolvex::kFirstIdeDisk;
    fd = open_scsi_device(path);
  }
  if (fd < 0) return;
  kolvex::KernelDescriptor disk(fd);
  const int result = scsi_inquiry_unit_serial_number(disk.fd(), serial);
  if (result != 0)
    KOLVEX_TRACE(kDiskSerial, false, "%s unit serial page: inquiry failed", path);
  else
    KOLVEX_TRACE(kDiskSerial, serial[0] != '\0', "%s unit serial page: %s", path,
                 serial[0] != '\0' ? kolvex::Quote(serial).text : "empty");
}
