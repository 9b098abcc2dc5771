// The CPU ID and the BIOS serial read from the SMBIOS tables the kernel
// publishes, and when dmidecode still runs.
#pragma once

#include <cstddef>

#include "smbios_decoder.h"
#include "sysfs.h"
#include "tool_probes.h"

namespace kolvex {

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
