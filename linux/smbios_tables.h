// The CPU ID and the BIOS serial read from the SMBIOS tables the kernel
// publishes, exactly as the dmidecode pipelines would have yielded them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sysfs.h"
#include "tool_probes.h"

namespace kolvex {

// What an entry point says about its table, read the way dmidecode 3.4
// reads the kernel's copy.
struct SmbiosEntryPoint {
  bool accepted = false;             // a kind dmidecode takes, length and checksums right
  std::uint32_t tableLength = 0;     // the most bytes of the table that count
  std::uint16_t structureCount = 0;  // 0: no count (3.x; a 2.x count of 0 bounds nothing)
  bool endMarkerStops = false;       // type 127 ends the walk (3.x only)
};
SmbiosEntryPoint DecodeSmbiosEntryPoint(const unsigned char* entry, std::size_t size);

// One item: the structure type its pipeline lists, the pattern its grep
// passes, and the rule that cuts the value.
struct SmbiosItem {
  std::uint8_t type;
  const char* pattern;
  const ToolValueRule* rule;
};
extern const SmbiosItem kSmbiosProcessorId;   // dmidecode -t 4 | grep ID
extern const SmbiosItem kSmbiosSystemSerial;  // dmidecode -t 1 | grep "Serial Number"

// Writes into capture (capacity bytes, at least kCaptureCapacity, always
// NUL-terminated) the text the item's pipeline would have captured from
// these tables: the lines dmidecode prints for the item's type that grep
// passes, up to the first line that holds the rule's key, cut into chunks
// and stopped after 512 characters as the runner's capture is. Returns the
// text's length. Reads table only below tableSize.
std::size_t RenderSmbiosCapture(const SmbiosEntryPoint& entry, const unsigned char* table,
                                std::size_t tableSize, const SmbiosItem& item, char* capture,
                                std::size_t capacity);

// The item's value from the two files' bytes, cut by the item's rule into
// out as ParseToolValue does (at most capacity - 1 characters, no NUL of
// its own). False, out untouched, when the entry point is not accepted.
bool SmbiosValue(const unsigned char* entry, std::size_t entrySize, const unsigned char* table,
                 std::size_t tableSize, const SmbiosItem& item, char* out, std::size_t capacity);

// Reading the two files below the sysfs root.
struct SmbiosRead {
  SysfsRead read;         // of the file named below, when it failed
  const char* attribute;  // the file that failed, or the table
  bool accepted;          // both files read, neither empty, and the entry point accepted
};
SmbiosRead ReadSmbiosItem(const SmbiosItem& item, char* out, std::size_t capacity);

// Why the dmidecode that the runner would start could read more than this
// process, or why not.
enum class DmidecodeReach {
  kDeviceMemory,  // this process may read /dev/mem: so may the tool
  kRaisedRights,  // set-user-ID or set-group-ID bit
  kCapabilities,  // file capabilities
  kScript,        // "#!": may raise its rights (a wrapper around sudo)
  kUnexamined,    // could not be looked at: started to be safe
  kNotFound,      // not on the search list: nothing to start
  kPlain,         // started with our rights, it reads only what we can
};
// The verdict for a file: its mode, whether it carries file capabilities,
// and its first bytes (headSize of them, fewer for a short file).
DmidecodeReach ClassifyTool(unsigned mode, bool capabilities, const unsigned char* head,
                            std::size_t headSize);
// Looks at the dmidecode on the tool search list; path receives where.
DmidecodeReach ExamineDmidecode(char* path, std::size_t size);
bool StartsDmidecode(DmidecodeReach reach);

// What would get the item where the tables failed and dmidecode was not
// started: root where the tables were denied, the tool where it could read
// the tables from /dev/mem, nothing where the firmware publishes none.
enum class SmbiosHint { kNone, kNeedsRoot, kNoTables, kWhereToolIs };
SmbiosHint HintForUnstartedPipeline(const SmbiosRead& read, DmidecodeReach reach,
                                    bool deviceMemoryReadable);

// The run's BIOS step: the tables, else the pipeline where it could read
// more than this process.
void ReadBiosSerialChain(char* serial);

// The tables' link of the CPU step and the pipeline behind it.
void CpuIdFromSmbios(char* id);

}  // namespace kolvex
