// The shell command runner and the dmidecode / lshw probes.
#include "tool_probes.h"

#include <fcntl.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "kolvex/kolvex.h"
#include "run_output.h"
#include "sysfs.h"
#include "trace.h"

namespace kolvex {

namespace {

constexpr int kChunkSize = 512;
// Reading stops once the capture holds more than this many characters.
constexpr std::size_t kCaptureStop = 512;

constexpr char kCpuCommand[] = "dmidecode -t 4 | grep ID";
constexpr char kBiosCommand[] = "dmidecode -t 1 | grep \"Serial Number\"";
constexpr char kLshwCommand[] = "lshw -class disk|grep serial";

// Tools print their labels in the caller's language unless told otherwise,
// and the parsers look for the untranslated keys.
constexpr char kToolLocale[] = "LC_ALL=C";
constexpr char kLocaleName[] = "LC_ALL=";
constexpr long kExitPollNs = 2000000;  // 2 ms between looks at a shell that closed its output
// How long filters get to pass on what they hold once the deadline has
// ended the tools before them.
constexpr int kFlushGraceMs = 250;

bool IsLineEnd(char c) { return c == '\0' || c == '\r' || c == '\n'; }

// Whether the command line's first word names an executable on PATH.
bool ToolOnPath(const char* command) {
  char tool[64] = {0};
  std::size_t n = 0;
  while (command[n] != '\0' && command[n] != ' ' && n + 1 < sizeof tool) {
    tool[n] = command[n];
    ++n;
  }
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  while (*path != '\0') {
    const char* end = std::strchr(path, ':');
    const std::size_t dirLength =
        end != nullptr ? static_cast<std::size_t>(end - path) : std::strlen(path);
    char candidate[PATH_MAX];
    const int written = std::snprintf(candidate, sizeof candidate, "%.*s/%s",
                                      static_cast<int>(dirLength), path, tool);
    if (written > 0 && static_cast<std::size_t>(written) < sizeof candidate &&
        access(candidate, X_OK) == 0)
      return true;
    if (end == nullptr) break;
    path = end + 1;
  }
  return false;
}

// Whether the kernel found an SMBIOS table to publish (any user may look).
bool SmbiosPublished() {
  char path[PATH_MAX];
  const int n =
      std::snprintf(path, sizeof path, "%s/firmware/dmi/tables/smbios_entry_point", SysfsRoot());
  return n > 0 && static_cast<std::size_t>(n) < sizeof path && access(path, F_OK) == 0;
}

void ExplainTool(Trace& trace, TraceStep step, const char* command, const CommandOutcome& outcome,
                 int timeoutMs, const char* value) {
  const bool found = value[0] != '\0';
  char noValue[48];
  if (outcome.exited)
    std::snprintf(noValue, sizeof noValue, "no value (exit status %d)", outcome.exitStatus);
  else
    std::snprintf(noValue, sizeof noValue, "no value (ended by signal %d)", outcome.signal);
  if (!outcome.started)
    trace.Note(step, false, "%s: not started", command);
  else
    trace.NoteCommand(step, command, outcome.timedOut, timeoutMs, value, noValue);
  if (found) return;
  if (!ToolOnPath(command)) {
    char hint[80];
    std::snprintf(hint, sizeof hint, "install %.*s", static_cast<int>(std::strcspn(command, " ")),
                  command);
    trace.Hint(step, hint);
  } else if (geteuid() != 0) {
    trace.Hint(step, "needs root");
  } else if (std::strncmp(command, "dmidecode", 9) == 0 && !SmbiosPublished()) {
    trace.Hint(step, "this machine's firmware publishes no SMBIOS table");
  }
}

template <std::size_t N>
void ProbeTool(const char* command, const ToolValueRule& rule, TraceStep step, char (&scratch)[N],
               char* out, std::size_t capacity) {
  std::memset(scratch, 0, N);
  const int timeoutMs = CommandTimeoutMs();
  const CommandOutcome outcome = RunCommand(command, scratch, timeoutMs);
  ParseToolValue(scratch, rule, out, capacity);
  if (Trace* trace = ActiveTrace()) ExplainTool(*trace, step, command, outcome, timeoutMs, out);
}

long long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int MsLeft(long long deadline) {
  const long long left = deadline - NowMs();
  return left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

// Closes a descriptor on every path.
class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { Reset(); }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// The shell of one command and the process group it leads. Ending it kills
// the whole group, so that a tool's children holding the pipe or lingering
// in the background go with it, and then reaps the shell. The unreaped
// shell keeps the group's id from being reused until the kill is sent.
// SIGKILL at once: the tools only read, so there is nothing for them to
// tidy up, and a grace period would only lengthen a call that is late.
class ChildGroup {
 public:
  explicit ChildGroup(pid_t pid) : pid_(pid) {}
  ChildGroup(const ChildGroup&) = delete;
  ChildGroup& operator=(const ChildGroup&) = delete;
  ~ChildGroup() { End(); }

  // Waits until the shell has exited, without reaping it. False when the
  // deadline came first.
  bool AwaitExit(long long deadline) {
    for (;;) {
      siginfo_t info;
      std::memset(&info, 0, sizeof info);
      if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
        if (info.si_pid == pid_) return true;
      } else if (errno != EINTR) {
        return true;  // reaped elsewhere (a caller's SIGCHLD handler): nothing to wait for
      }
      if (MsLeft(deadline) == 0) return false;
      const timespec pause{0, kExitPollNs};
      nanosleep(&pause, nullptr);
    }
  }

  void End() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    int status = 0;
    pid_t got;
    do {
      got = waitpid(pid_, &status, 0);
    } while (got < 0 && errno == EINTR);
    if (got == pid_) {
      exited_ = WIFEXITED(status);
      exitStatus_ = exited_ ? WEXITSTATUS(status) : -1;
      signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    pid_ = 0;
  }

  bool exited() const { return exited_; }
  int exitStatus() const { return exitStatus_; }
  int signal() const { return signal_; }

 private:
  pid_t pid_;
  bool exited_ = false;
  int exitStatus_ = -1;
  int signal_ = 0;
};

// Kills the members of the group whose standard output is not our pipe:
// the tools upstream of the last filter of the command line. The shell and
// that filter write to our pipe and stay, so that the filter can pass on
// what it holds once its input ends.
void EndUpstream(pid_t group, int readFd) {
  struct stat pipeStat;
  if (fstat(readFd, &pipeStat) != 0) return;
  char ours[48];
  std::snprintf(ours, sizeof ours, "pipe:[%lu]", static_cast<unsigned long>(pipeStat.st_ino));
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    char line[512] = {0};
    OwnedFd stat(open(path, O_RDONLY | O_CLOEXEC));
    if (stat.get() < 0 || read(stat.get(), line, sizeof line - 1) <= 0) continue;
    if (GroupFromStat(line) != group) continue;
    std::snprintf(path, sizeof path, "/proc/%ld/fd/1", pid);
    char target[48] = {0};
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n > 0 && std::strcmp(target, ours) == 0) continue;
    kill(static_cast<pid_t>(pid), SIGKILL);
  }
  closedir(proc);
}

// The caller's environment with LC_ALL=C in place of any LC_ALL of its own.
std::unique_ptr<char* []> ToolEnvironment() {
  std::size_t count = 0;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) ++count;
  std::unique_ptr<char*[]> env(new (std::nothrow) char*[count + 2]);
  if (env == nullptr) return env;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strncmp(environ[i], kLocaleName, sizeof kLocaleName - 1) != 0)
      env[kept++] = environ[i];
  }
  env[kept++] = const_cast<char*>(kToolLocale);
  env[kept] = nullptr;
  return env;
}

// Starts "/bin/sh -c command" as popen would, but leading a process group
// of its own with standard input from /dev/null. Returns 0 or an errno.
int StartShell(const char* command, int outputFd, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  int error = posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  if (error == 0)
    error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (error == 0 && ActiveOutput().silenceTools)
    error = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (error == 0) error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  if (error == 0) error = posix_spawnattr_setpgroup(&attributes, 0);
  std::unique_ptr<char*[]> env = ToolEnvironment();
  if (error == 0 && env == nullptr) error = ENOMEM;
  if (error == 0) {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command),
                    nullptr};
    error = posix_spawn(pid, "/bin/sh", &actions, &attributes, argv, env.get());
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace

pid_t GroupFromStat(const char* stat) {
  // "pid (name) state ppid pgrp ...": the name may hold blanks and
  // parentheses, so the fields are counted from its last ')'.
  const char* close = stat == nullptr ? nullptr : std::strrchr(stat, ')');
  if (close == nullptr) return -1;
  const char* at = close + 1;
  while (*at == ' ') ++at;
  if (*at == '\0' || at[1] != ' ') return -1;  // the one-letter state
  char* end = nullptr;
  errno = 0;
  std::strtol(at + 2, &end, 10);  // ppid
  if (end == at + 2 || *end != ' ' || errno != 0) return -1;
  const char* groupText = end + 1;
  const long group = std::strtol(groupText, &end, 10);
  if (end == groupText || errno != 0) return -1;
  return static_cast<pid_t>(group);
}

std::size_t NextChunkLength(const char* pending, std::size_t count, std::size_t chunkMax,
                            bool ended) {
  const std::size_t most = chunkMax - 1;
  const std::size_t look = count < most ? count : most;
  const void* feed = std::memchr(pending, '\n', look);
  if (feed != nullptr)
    return static_cast<std::size_t>(static_cast<const char*>(feed) - pending) + 1;
  if (count >= most) return most;
  return ended ? count : 0;
}

bool AppendChunk(char* out, std::size_t capacity, std::size_t* length, const char* chunk,
                 std::size_t count, std::size_t stopAfter) {
  const void* nul = std::memchr(chunk, '\0', count);
  const std::size_t add =
      nul == nullptr ? count : static_cast<std::size_t>(static_cast<const char*>(nul) - chunk);
  // A capture buffer holds 1024 bytes; a caller that hands in text already
  // longer than the stop mark must not be pushed past it.
  if (*length + add >= capacity) return false;
  std::memcpy(out + *length, chunk, add);
  *length += add;
  out[*length] = '\0';
  return *length <= stopAfter;
}

CommandOutcome RunCommand(const char* command, char* out, int timeoutMs) {
  CommandOutcome outcome;
  if (command == nullptr || out == nullptr || command[0] == '\0') return outcome;
  long long deadline = NowMs() + (timeoutMs > 0 ? timeoutMs : kDefaultCommandTimeoutMs);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    RunPrintf("popen %s error\n", command);
    return outcome;
  }
  OwnedFd readEnd(ends[0]);
  OwnedFd writeEnd(ends[1]);
  pid_t pid = 0;
  if (StartShell(command, writeEnd.get(), &pid) != 0) {
    RunPrintf("popen %s error\n", command);
    return outcome;
  }
  ChildGroup child(pid);
  outcome.started = true;
  outcome.group = pid;
  writeEnd.Reset();  // the output ends once every copy the command holds is closed

  // Bytes are cut into the chunks a line read would give, so the capture
  // is byte for byte what reading line by line yields.
  char pending[kCaptureCapacity];
  std::size_t have = 0;
  const std::size_t start = std::strlen(out);
  std::size_t length = start;
  bool ended = false;
  bool full = false;
  while (!full) {
    std::size_t chunk;
    while (!full && (chunk = NextChunkLength(pending, have, kChunkSize, ended)) > 0) {
      full = !AppendChunk(out, kCaptureCapacity, &length, pending, chunk, kCaptureStop);
      have -= chunk;
      std::memmove(pending, pending + chunk, have);
    }
    if (full || ended) break;
    pollfd watch{readEnd.get(), POLLIN, 0};
    const int ready = poll(&watch, 1, MsLeft(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;  // the pipe cannot be watched: end the command with what we have
    }
    if (ready == 0) {
      if (outcome.timedOut) break;
      // A filter such as grep holds what the tool printed in its buffer
      // until its input ends: end the tools upstream of it first and give
      // the filter a moment to pass the rest on.
      outcome.timedOut = true;
      EndUpstream(pid, readEnd.get());
      deadline = NowMs() + kFlushGraceMs;
      continue;
    }
    const ssize_t got = read(readEnd.get(), pending + have, sizeof pending - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ended = true;
    } else {
      have += static_cast<std::size_t>(got);
    }
  }
  outcome.captured = length - start;
  // A shell that closed its output is given the rest of the deadline to
  // exit; whatever of the command is still there then is ended with it.
  if (ended && !child.AwaitExit(deadline)) outcome.timedOut = true;
  readEnd.Reset();
  child.End();
  outcome.exited = child.exited();
  outcome.exitStatus = child.exitStatus();
  outcome.signal = child.signal();
  return outcome;
}

const ToolValueRule kCpuIdRule{"ID:", 3, true, false};
// The value starts one character past the colon, whatever that character is.
const ToolValueRule kBiosSerialRule{"Serial Number:", 15, false, true};
const ToolValueRule kLshwSerialRule{"serial:", 7, true, false};

void ParseToolValue(const char* captured, const ToolValueRule& rule, char* out,
                    std::size_t capacity) {
  if (captured == nullptr || out == nullptr || capacity == 0) return;
  const char* key = std::strstr(captured, rule.key);
  if (key == nullptr) return;
  // The offset may reach past a key that ends the text; never read beyond
  // the NUL then.
  const char* read = key;
  for (int i = 0; i < rule.valueOffset; ++i) {
    if (*read == '\0') return;
    ++read;
  }
  std::size_t written = 0;
  for (; !IsLineEnd(*read); ++read) {
    if (*read == ' ') {
      if (rule.blankStops) break;
      if (rule.dropBlanks) continue;
    }
    // A value longer than the output keeps what fits in front of the NUL.
    if (written + 1 >= capacity) break;
    out[written++] = *read;
  }
}

}  // namespace kolvex

void executeCMD(const char* command, char* out) {
  kolvex::RunCommand(command, out, kolvex::CommandTimeoutMs());
}

void GetCpuSerial(char* out) {
  char scratch[kolvex::kCaptureCapacity];
  kolvex::ProbeTool(kolvex::kCpuCommand, kolvex::kCpuIdRule, kolvex::TraceStep::kCpuId, scratch,
                    out, kolvex::kCpuIdCapacity);
}

void GetBIOSSerial(char* out) {
  char scratch[kolvex::kCaptureCapacity];
  kolvex::ProbeTool(kolvex::kBiosCommand, kolvex::kBiosSerialRule, kolvex::TraceStep::kBiosSerial,
                    scratch, out, kolvex::kBiosSerialCapacity);
}

void GetDiskSerialBylshw(char* out) {
  char scratch[kolvex::kLshwScratchSize];
  kolvex::ProbeTool(kolvex::kLshwCommand, kolvex::kLshwSerialRule, kolvex::TraceStep::kDiskSerial,
                    scratch, out, kolvex::kDiskSerialCapacity);
}
