// The shell command runner of the Linux collector.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "command_deadline.h"

namespace kolvex {

// The capture buffers the tool probes use, and the most a capture holds.
constexpr std::size_t kCaptureCapacity = 1024;

// The folders a privileged process lets its tools be found in: a writable
// folder on a root service's PATH must not decide what runs as root.
constexpr char kSystemToolPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
// Whether the process runs with rights its caller may not have: effective
// uid 0, or effective ids that differ from the real ones.
bool RunsPrivileged();
// The search list the tools are started with: kSystemToolPath for a
// privileged process, else the caller's PATH (null when it has none).
const char* ToolSearchPath();
// Tests that run as root with stand-in tools set the list here (null goes
// back to the rule above). Internal to the library: neither exported nor
// read from the environment.
void SetToolSearchPathForTesting(const char* list);

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
  int startError = 0;     // why it was not (an errno)
  bool timedOut = false;  // the deadline ended it
  bool exited = false;    // the shell exited (exitStatus) rather than was killed
  int exitStatus = -1;
  int signal = 0;  // the signal that ended the shell, if any
  // Someone else reaped the shell (a caller that ignores SIGCHLD or waits
  // for any child): how it ended is not known.
  bool statusUnknown = false;
  std::size_t captured = 0;  // bytes added to out
  pid_t group = 0;           // the command's process group, ended by the call
};

// Runs command through "/bin/sh -c" in a process group of its own, with
// standard input from /dev/null, LC_ALL=C and the tool search list in its
// environment only, and appends its standard output to out as executeCMD
// does. Nothing of the command outlives the call: when reading stops early
// or the deadline passes, the members of the group are ended children
// first, so that each is reaped by its own parent, and then the shell; the
// shell is reaped unless someone else already did, and so is what the end
// of the group hands a caller that is a child subreaper (process_group.h).
CommandOutcome RunCommand(const char* command, char* out, int timeoutMs);

}  // namespace kolvex
