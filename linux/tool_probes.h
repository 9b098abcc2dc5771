// Values cut out of the text system tools print.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "command_deadline.h"

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

// The capture buffers the tool probes use, and the most a capture holds.
constexpr std::size_t kCaptureCapacity = 1024;
constexpr std::size_t kLshwScratchSize = 8096;

// Output sizes the probes are given by the run (and promise callers).
constexpr std::size_t kCpuIdCapacity = 50;
constexpr std::size_t kBiosSerialCapacity = 50;
constexpr std::size_t kDiskSerialCapacity = 256;

// The process group in a line of /proc/PID/stat; -1 when it has none.
pid_t GroupFromStat(const char* stat);

// Length of the next chunk of pending pipe bytes, cut the way a line read
// of at most chunkMax - 1 characters cuts them: through the first line
// feed, or chunkMax - 1 bytes. 0 while more bytes are needed; once the
// output has ended, whatever is left is the last chunk.
std::size_t NextChunkLength(const char* pending, std::size_t count, std::size_t chunkMax,
                            bool ended);

// Appends one chunk (up to a NUL among its bytes) to the text of length
// *length in out, a buffer of capacity bytes. Returns false when reading
// should stop: the chunk would not fit, or the text is now past stopAfter.
bool AppendChunk(char* out, std::size_t capacity, std::size_t* length, const char* chunk,
                 std::size_t count, std::size_t stopAfter);

// What became of one command.
struct CommandOutcome {
  bool started = false;   // the shell was started
  bool timedOut = false;  // the deadline ended it
  bool exited = false;    // the shell exited (exitStatus) rather than was killed
  int exitStatus = -1;
  int signal = 0;            // the signal that ended the shell, if any
  std::size_t captured = 0;  // bytes added to out
  pid_t group = 0;           // the command's process group, ended by the call
};

// Runs command through "/bin/sh -c" in a process group of its own, with
// standard input from /dev/null and LC_ALL=C in its environment only, and
// appends its standard output to out as executeCMD does. Nothing of the
// command outlives the call: at the deadline or when reading stops early
// the group is killed, and the shell is always reaped.
CommandOutcome RunCommand(const char* command, char* out, int timeoutMs);

}  // namespace kolvex
