// The shell command runner of the Linux collector.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "command_deadline.h"

namespace kolvex {

// The capture buffers the tool probes use, and the most a capture holds.
constexpr std::size_t kCaptureCapacity = 1024;

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
