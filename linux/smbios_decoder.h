// The SMBIOS tables decoded from their bytes: the CPU ID and the BIOS serial
// exactly as the dmidecode pipelines would have yielded them. Pure functions
// over plain data, no system call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tool_probes.h"

namespace kolvex {

// dmidecode reads at most this much of the entry point, whatever its kind.
constexpr std::size_t kSmbiosEntryMax = 0x20;

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

}  // namespace kolvex
