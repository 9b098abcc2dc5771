// Values cut out of the text system tools print.
#pragma once

#include <cstddef>

#include "trace.h"

namespace kolvex {

// Where a value stands after its key and what ends it.
struct ToolValueRule {
  const char* key;
  int valueOffset;  // from the key's first character
  bool dropBlanks;  // blanks inside the value are left out
  bool blankStops;  // a blank ends the value
};

extern const ToolValueRule kCpuIdRule;       // "ID:"
extern const ToolValueRule kBiosSerialRule;  // "Serial Number:"
extern const ToolValueRule kLshwSerialRule;  // "serial:"

// Copies the value after the first occurrence of the rule's key in captured
// into out, at most capacity - 1 characters, writing no NUL of its own (the
// caller's zero fill ends the text). No key: out untouched. Never reads past
// the captured text's NUL.
void ParseToolValue(const char* captured, const ToolValueRule& rule, char* out,
                    std::size_t capacity);

// The command lines of the two dmidecode probes.
constexpr char kCpuCommand[] = "dmidecode -t 4 | grep ID";
constexpr char kBiosCommand[] = "dmidecode -t 1 | grep \"Serial Number\"";

// Hints where a tool that is not on the search list is, or that it is to
// be installed; false, no hint, when it is on the list.
bool HintWhereToolIs(Trace& trace, TraceStep step, const char* tool);

// The scratch buffer of the lshw probe (the others use kCaptureCapacity).
constexpr std::size_t kLshwScratchSize = 8096;

// Looks for an executable tool in the folders of a colon-separated list;
// writes the first one found into found (size bytes). False when none is.
bool FindTool(const char* tool, const char* list, char* found, std::size_t size);

// Output sizes the probes are given by the run (and promise callers).
constexpr std::size_t kCpuIdCapacity = 50;
constexpr std::size_t kBiosSerialCapacity = 50;
constexpr std::size_t kDiskSerialCapacity = 256;

}  // namespace kolvex
