// Where the CPU ID and the BIOS serial come from: the SMBIOS tables the
// kernel publishes, read and handed to the decoder, and dmidecode only where
// it could read more than this process.
#include "smbios_tables.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "command_runner.h"
#include "kernel_calls.h"
#include "kolvex/kolvex.h"
#include "trace.h"

namespace kolvex {

namespace {

constexpr char kEntryFile[] = "firmware/dmi/tables/smbios_entry_point";
constexpr char kTableFile[] = "firmware/dmi/tables/DMI";
// A 3.x entry point gives only an upper bound of 32 bits; structures past
// this many bytes are treated as not there.
constexpr std::size_t kTableReadMax = std::size_t{1} << 22;

// A kernel request like the disk probes' (tests answer it).
bool DeviceMemoryReadable() {
  const KernelDescriptor memory(ActiveKernel().open("/dev/mem", O_RDONLY | O_CLOEXEC));
  return memory.fd() >= 0;
}

}  // namespace

SmbiosRead ReadSmbiosItem(const SmbiosItem& item, char* out, std::size_t capacity) {
  unsigned char entry[kSmbiosEntryMax];
  const SysfsRead read = ReadSysfsAttribute(kEntryFile, entry, sizeof entry);
  if (read.state != SysfsState::kFound) return {read, kEntryFile, false};
  const SmbiosEntryPoint point = DecodeSmbiosEntryPoint(entry, read.size);
  if (!point.accepted) return {read, kEntryFile, false};
  const std::size_t want = std::min<std::size_t>(point.tableLength, kTableReadMax);
  std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[want > 0 ? want : 1]);
  if (table == nullptr) return {{SysfsState::kUnreadable, ENOMEM, 0}, kTableFile, false};
  const SysfsRead tableRead = ReadSysfsAttribute(kTableFile, table.get(), want);
  // An empty table holds nothing dmidecode could not find elsewhere.
  if (tableRead.state != SysfsState::kFound) return {tableRead, kTableFile, false};
  SmbiosValue(entry, read.size, table.get(), tableRead.size, item, out, capacity);
  return {tableRead, kTableFile, true};
}

DmidecodeReach ClassifyTool(unsigned mode, bool capabilities, const unsigned char* head,
                            std::size_t headSize) {
  if ((mode & (S_ISUID | S_ISGID)) != 0) return DmidecodeReach::kRaisedRights;
  if (capabilities) return DmidecodeReach::kCapabilities;
  // Anything but a program the kernel loads itself is run by the shell, as
  // a script would be.
  if (headSize < 4 || std::memcmp(head,
                                  "\x7f"
                                  "ELF",
                                  4) != 0)
    return DmidecodeReach::kScript;
  return DmidecodeReach::kPlain;
}

DmidecodeReach ExamineDmidecode(char* path, std::size_t size) {
  if (!FindTool("dmidecode", ToolSearchPath(), path, size)) return DmidecodeReach::kNotFound;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return DmidecodeReach::kUnexamined;
  DmidecodeReach reach = DmidecodeReach::kUnexamined;
  struct stat status;
  unsigned char head[4] = {};
  if (fstat(fd, &status) == 0) {
    const ssize_t capabilities = fgetxattr(fd, "security.capability", nullptr, 0);
    const bool none = capabilities < 0 && (errno == ENODATA || errno == ENOTSUP);
    const ssize_t got = ::read(fd, head, sizeof head);
    if ((capabilities >= 0 || none) && got >= 0)
      reach = ClassifyTool(status.st_mode, !none, head, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (reach != DmidecodeReach::kPlain) return reach;
  // The tool finds the tables in memory where the kernel publishes none.
  return DeviceMemoryReadable() ? DmidecodeReach::kDeviceMemory : reach;
}

bool StartsDmidecode(DmidecodeReach reach) {
  return reach != DmidecodeReach::kPlain && reach != DmidecodeReach::kNotFound;
}

SmbiosHint HintForUnstartedPipeline(const SmbiosRead& read, DmidecodeReach reach,
                                    bool deviceMemoryReadable) {
  if (read.read.error == EACCES || read.read.error == EPERM) return SmbiosHint::kNeedsRoot;
  const bool noTables = read.read.state == SysfsState::kMissing;
  if (noTables && !deviceMemoryReadable) return SmbiosHint::kNoTables;
  return reach == DmidecodeReach::kNotFound ? SmbiosHint::kWhereToolIs : SmbiosHint::kNone;
}

namespace {

void ExplainTables(Trace& trace, TraceStep step, const SmbiosItem& item, const SmbiosRead& r,
                   const char* value) {
  if (r.accepted) {
    trace.Note(step, value[0] != '\0', "SMBIOS tables, type %u: %s", item.type,
               value[0] != '\0' ? Quote(value).text : "no value");
  } else if (r.read.state == SysfsState::kFound) {
    trace.Note(step, false, "SMBIOS tables, type %u: %s/%s: not an entry point dmidecode takes",
               item.type, SysfsRoot(), r.attribute);
  } else {
    trace.Note(step, false, "SMBIOS tables, type %u: %s/%s: %s", item.type, SysfsRoot(),
               r.attribute,
               r.read.state == SysfsState::kMissing ? "not present"
               : r.read.state == SysfsState::kEmpty ? "empty"
                                                    : DescribeError(r.read.error).text);
  }
}

// The tables first; the pipeline only where it could read more than they
// gave this process.
void TablesThenPipeline(const SmbiosItem& item, TraceStep step, const char* command,
                        void (*pipeline)(char*), char* out, std::size_t capacity) {
  const SmbiosRead read = ReadSmbiosItem(item, out, capacity);
  Trace* trace = ActiveTrace();
  if (trace != nullptr) ExplainTables(*trace, step, item, read, out);
  if (read.accepted) {
    if (trace != nullptr)
      trace->Note(step, false, "%s: not started (the tables were read)", command);
    return;
  }
  char path[PATH_MAX];
  const DmidecodeReach reach = ExamineDmidecode(path, sizeof path);
  if (StartsDmidecode(reach)) {
    pipeline(out);
    return;
  }
  if (trace == nullptr) return;
  if (reach == DmidecodeReach::kNotFound)
    trace->Note(step, false, "%s: not started (dmidecode is not on the search list)", command);
  else
    trace->Note(step, false,
                "%s: not started (%s would run with this process's rights, and /dev/mem is not "
                "readable)",
                command, path);
  switch (HintForUnstartedPipeline(read, reach, DeviceMemoryReadable())) {
    case SmbiosHint::kNeedsRoot:
      trace->Hint(step, "needs root");
      break;
    case SmbiosHint::kNoTables:
      trace->Hint(step, "this machine's firmware publishes no SMBIOS table");
      break;
    case SmbiosHint::kWhereToolIs:
      HintWhereToolIs(*trace, step, "dmidecode");
      break;
    case SmbiosHint::kNone:
      break;
  }
}

}  // namespace

void CpuIdFromSmbios(char* id) {
  TablesThenPipeline(kSmbiosProcessorId, TraceStep::kCpuId, kCpuCommand, GetCpuSerial, id,
                     kCpuIdCapacity);
}

void ReadBiosSerialChain(char* serial) {
#if KOLVEX_KERNEL_SOURCES
  TablesThenPipeline(kSmbiosSystemSerial, TraceStep::kBiosSerial, kBiosCommand, GetBIOSSerial,
                     serial, kBiosSerialCapacity);
#else
  GetBIOSSerial(serial);
#endif
}

}  // namespace kolvex
