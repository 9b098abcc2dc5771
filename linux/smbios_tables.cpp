// The SMBIOS tables decoded in the library. The values must stay what the
// dmidecode pipelines (Debian 12's dmidecode 3.4) gave, quirks included, so
// the decoder renders the text such a pipeline would have captured and the
// tool's own parse rule cuts the value from it.
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
#include "kolvex/kolvex.h"
#include "trace.h"

namespace kolvex {

namespace {

constexpr char kEntryFile[] = "firmware/dmi/tables/smbios_entry_point";
constexpr char kTableFile[] = "firmware/dmi/tables/DMI";
// dmidecode reads at most this much of the entry point, whatever its kind.
constexpr std::size_t kEntryMax = 0x20;
// A 3.x entry point gives only an upper bound of 32 bits; structures past
// this many bytes are treated as not there.
constexpr std::size_t kTableReadMax = std::size_t{1} << 22;

// The runner's capture: line reads of at most 511 characters, reading ends
// once the text is past 512.
constexpr std::size_t kChunkMax = 512;
constexpr std::size_t kCaptureStop = 512;
// Of one line a capture takes at most two chunks (1022 characters).
constexpr std::size_t kLineMax = 1024;

constexpr char kNotSpecified[] = "Not Specified";
constexpr char kBadIndex[] = "<BAD INDEX>";

// One printed line: its label, the offset of its string index (or of the
// eight ID bytes), and the structure length below which dmidecode prints
// neither it nor the lines after it.
struct SmbiosField {
  const char* label;
  std::uint8_t offset;
  bool idBytes;
  std::uint8_t minLength;
};

// Only lines that grep can pass are listed: no name of a processor type or
// family holds "ID". Nothing after a line with the key matters but the line
// the value runs into: the serial rule reads one character past the key,
// which may be a line feed; the serial line's own label then ends it.
constexpr SmbiosField kProcessorFields[] = {
    {"Socket Designation", 0x04, false, 0x1A},
    {"Manufacturer", 0x07, false, 0x1A},
    {"ID", 0x08, true, 0x1A},
};
constexpr SmbiosField kSystemFields[] = {
    {"Manufacturer", 0x04, false, 0x08},
    {"Product Name", 0x05, false, 0x08},
    {"Version", 0x06, false, 0x08},
    {"Serial Number", 0x07, false, 0x08},
};

struct SmbiosLayout {
  const SmbiosField* fields;
  std::size_t count;
};

const SmbiosLayout& LayoutOf(const SmbiosItem& item) {
  static const SmbiosLayout processor{kProcessorFields, 3};
  static const SmbiosLayout system{kSystemFields, 4};
  return item.type == 4 ? processor : system;
}

bool Checksum(const unsigned char* bytes, std::size_t length) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = static_cast<unsigned char>(sum + bytes[i]);
  return sum == 0;
}

std::uint16_t Word(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Dword(const unsigned char* p) {
  return static_cast<std::uint32_t>(Word(p)) | static_cast<std::uint32_t>(Word(p + 2)) << 16;
}

bool Contains(const char* text, std::size_t length, const char* pattern) {
  const std::size_t n = std::strlen(pattern);
  return std::search(text, text + length, pattern, pattern + n) != text + length;
}

// One structure: formatted area [data, strings), string set up to end (its
// closing double NUL included).
struct Structure {
  const unsigned char* data;
  const unsigned char* strings;
  const unsigned char* end;
};

// dmidecode's string lookup: index 0 is unset, an index past the set bad.
void StringOf(const Structure& s, unsigned index, const char** text, std::size_t* length) {
  if (index == 0) {
    *text = kNotSpecified;
    *length = sizeof kNotSpecified - 1;
    return;
  }
  const unsigned char* p = s.strings;
  while (index > 1 && p < s.end && *p != 0) {
    p = static_cast<const unsigned char*>(std::memchr(p, 0, static_cast<std::size_t>(s.end - p)));
    if (p == nullptr) break;
    ++p;
    --index;
  }
  const unsigned char* nul = p != nullptr && p < s.end
                                 ? static_cast<const unsigned char*>(
                                       std::memchr(p, 0, static_cast<std::size_t>(s.end - p)))
                                 : nullptr;
  if (nul == nullptr || nul == p) {
    *text = kBadIndex;
    *length = sizeof kBadIndex - 1;
    return;
  }
  *text = reinterpret_cast<const char*>(p);
  *length = static_cast<std::size_t>(nul - p);
}

// The capture of the lines grep passes.
class Capture {
 public:
  Capture(char* out, std::size_t capacity, const SmbiosItem& item)
      : out_(out), capacity_(capacity), item_(item) {
    if (capacity_ > 0) out_[0] = '\0';
  }
  bool done() const { return full_ || ended_; }
  std::size_t length() const { return length_; }

  // "\t<label>: <value>\n", value bytes below 32 or from 127 up as '.'.
  void Line(const char* label, const char* value, std::size_t valueLength) {
    if (!Contains(label, std::strlen(label), item_.pattern) &&
        !Contains(value, valueLength, item_.pattern))
      return;
    char line[kLineMax];
    std::size_t n = 0;
    auto put = [&](char c) {
      if (n < sizeof line) line[n++] = c;
    };
    put('\t');
    for (const char* p = label; *p != '\0'; ++p) put(*p);
    put(':');
    put(' ');
    for (std::size_t i = 0; i < valueLength && n < sizeof line; ++i) {
      const unsigned char c = static_cast<unsigned char>(value[i]);
      put(c < 32 || c >= 127 ? '.' : static_cast<char>(c));
    }
    put('\n');
    Feed(line, n);
  }

 private:
  void Feed(const char* text, std::size_t count) {
    while (!full_ && count > 0) {
      const std::size_t chunk = NextChunkLength(text, count, kChunkMax, true);
      full_ = !AppendChunk(out_, capacity_, &length_, text, chunk, kCaptureStop);
      text += chunk;
      count -= chunk;
    }
    // The value is complete once a line end follows its start.
    const char* key = capacity_ > 0 ? std::strstr(out_, item_.rule->key) : nullptr;
    if (key == nullptr) return;
    const std::size_t start =
        static_cast<std::size_t>(key - out_) + static_cast<std::size_t>(item_.rule->valueOffset);
    ended_ = start < length_ && std::memchr(out_ + start, '\n', length_ - start) != nullptr;
  }

  char* out_;
  std::size_t capacity_;
  const SmbiosItem& item_;
  std::size_t length_ = 0;
  bool full_ = false;
  bool ended_ = false;
};

void PrintStructure(const Structure& s, const SmbiosLayout& layout, Capture& capture) {
  for (std::size_t f = 0; f < layout.count && !capture.done(); ++f) {
    const SmbiosField& field = layout.fields[f];
    if (s.strings - s.data < field.minLength) return;
    if (field.idBytes) {
      char id[3 * 8];
      const unsigned char* p = s.data + field.offset;
      std::snprintf(id, sizeof id, "%02X %02X %02X %02X %02X %02X %02X %02X", p[0], p[1], p[2],
                    p[3], p[4], p[5], p[6], p[7]);
      capture.Line(field.label, id, std::strlen(id));
    } else {
      const char* text = nullptr;
      std::size_t length = 0;
      StringOf(s, s.data[field.offset], &text, &length);
      capture.Line(field.label, text, length);
    }
  }
}

bool DeviceMemoryReadable() {
  const int memory = ::open("/dev/mem", O_RDONLY | O_CLOEXEC);
  if (memory < 0) return false;
  ::close(memory);
  return true;
}

}  // namespace

const SmbiosItem kSmbiosProcessorId{4, "ID", &kCpuIdRule};
const SmbiosItem kSmbiosSystemSerial{1, "Serial Number", &kBiosSerialRule};

SmbiosEntryPoint DecodeSmbiosEntryPoint(const unsigned char* entry, std::size_t size) {
  SmbiosEntryPoint point;
  if (entry == nullptr) return point;
  // What lies past a short file counts as zero bytes.
  unsigned char ep[kEntryMax] = {};
  std::memcpy(ep, entry, std::min(size, sizeof ep));
  if (size >= 24 && std::memcmp(ep, "_SM3_", 5) == 0) {
    if (ep[0x06] > kEntryMax || !Checksum(ep, ep[0x06])) return point;
    point.tableLength = Dword(ep + 0x0C);
    point.endMarkerStops = true;
  } else if (size >= 31 && std::memcmp(ep, "_SM_", 4) == 0) {
    if (ep[0x05] > kEntryMax || !Checksum(ep, ep[0x05]) ||
        std::memcmp(ep + 0x10, "_DMI_", 5) != 0 || !Checksum(ep + 0x10, 0x0F))
      return point;
    point.tableLength = Word(ep + 0x16);
    point.structureCount = Word(ep + 0x1C);
  } else if (size >= 15 && std::memcmp(ep, "_DMI_", 5) == 0) {
    if (!Checksum(ep, 0x0F)) return point;
    point.tableLength = Word(ep + 0x06);
    point.structureCount = Word(ep + 0x0C);
  } else {
    return point;
  }
  point.accepted = true;
  return point;
}

std::size_t RenderSmbiosCapture(const SmbiosEntryPoint& entry, const unsigned char* table,
                                std::size_t tableSize, const SmbiosItem& item, char* capture,
                                std::size_t capacity) {
  Capture text(capture, capacity, item);
  if (!entry.accepted || table == nullptr) return 0;
  const SmbiosLayout& layout = LayoutOf(item);
  const std::size_t length = std::min<std::size_t>(tableSize, entry.tableLength);
  std::size_t at = 0;
  unsigned walked = 0;
  // Every structure counts toward the count, shown or not.
  while ((entry.structureCount == 0 || walked < entry.structureCount) && at + 4 <= length) {
    const unsigned type = table[at];
    const unsigned formatted = table[at + 1];
    // A short structure hides where the next one starts.
    if (formatted < 4) break;
    ++walked;
    std::size_t next = at + formatted;
    while (next + 1 < length && (table[next] != 0 || table[next + 1] != 0)) ++next;
    next += 2;
    // A string set not ended inside the table ends the walk.
    if (next > length) break;
    if (type == item.type) {
      PrintStructure({table + at, table + at + formatted, table + next}, layout, text);
      if (text.done()) break;
    }
    at = next;
    if (type == 127 && entry.endMarkerStops) break;
  }
  return text.length();
}

bool SmbiosValue(const unsigned char* entry, std::size_t entrySize, const unsigned char* table,
                 std::size_t tableSize, const SmbiosItem& item, char* out, std::size_t capacity) {
  const SmbiosEntryPoint point = DecodeSmbiosEntryPoint(entry, entrySize);
  if (!point.accepted) return false;
  char capture[kCaptureCapacity];
  RenderSmbiosCapture(point, table, tableSize, item, capture, sizeof capture);
  ParseToolValue(capture, *item.rule, out, capacity);
  return true;
}

SmbiosRead ReadSmbiosItem(const SmbiosItem& item, char* out, std::size_t capacity) {
  unsigned char entry[kEntryMax];
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
