// The shell command runner: one command line in a process group of its
// own, its standard output captured as a line-by-line read would, and
// nothing of it left behind when the call returns.
#include "command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "kolvex/kolvex.h"
#include "process_group.h"
#include "run_output.h"

namespace kolvex {

namespace {

constexpr int kChunkSize = 512;
// Reading stops once the capture holds more than this many characters.
constexpr std::size_t kCaptureStop = 512;

// Tools print their labels in the caller's language unless told otherwise,
// and the parsers look for the untranslated keys.
constexpr char kToolLocale[] = "LC_ALL=C";
constexpr char kLocaleName[] = "LC_ALL=";
constexpr char kPathName[] = "PATH=";
// While the pipe is silent and the shell cannot be watched (no pidfd, or it
// has exited leaving members behind), the shell and its group are looked at
// with pauses that grow from the first to the last.
constexpr int kFirstLookMs = 1;
constexpr int kLastLookMs = 100;

const char* g_testSearchPath = nullptr;

// Ends the tools upstream of the last filter of the command line, leaves
// first: the members whose standard output is not our pipe. The shell and
// that filter write to our pipe and stay, so that the filter can pass on
// what it holds once its input ends.
void EndUpstream(ChildGroup& child, int readFd) {
  struct stat pipeStat;
  if (fstat(readFd, &pipeStat) != 0) return;
  char ours[48];
  std::snprintf(ours, sizeof ours, "pipe:[%lu]", static_cast<unsigned long>(pipeStat.st_ino));
  child.EndLeaves(ours);
}

// The environment the tools run in: the caller's, with LC_ALL=C in place
// of its LC_ALL and, when a search list is set, that list as PATH.
class ToolEnvironment {
 public:
  ToolEnvironment() {
    std::size_t count = 0;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) ++count;
    entries_.reset(new (std::nothrow) char*[count + 3]);
    const char* search = ToolSearchPath();
    if (search != nullptr) {
      const std::size_t size = sizeof kPathName + std::strlen(search);
      path_.reset(new (std::nothrow) char[size]);
      if (path_ == nullptr) entries_.reset();
      if (path_ != nullptr) std::snprintf(path_.get(), size, "%s%s", kPathName, search);
    }
    if (entries_ == nullptr) return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (std::strncmp(environ[i], kLocaleName, sizeof kLocaleName - 1) == 0) continue;
      if (path_ != nullptr && std::strncmp(environ[i], kPathName, sizeof kPathName - 1) == 0)
        continue;
      entries_[kept++] = environ[i];
    }
    entries_[kept++] = const_cast<char*>(kToolLocale);
    if (path_ != nullptr) entries_[kept++] = path_.get();
    entries_[kept] = nullptr;
  }

  char** get() const { return entries_.get(); }

 private:
  std::unique_ptr<char*[]> entries_;
  std::unique_ptr<char[]> path_;
};

// Starts "/bin/sh -c command" as popen would, but leading a process group
// of its own with standard input from /dev/null, no signal blocked and
// SIGCHLD and SIGPIPE at their defaults whatever the caller set (a shell
// that ignores SIGCHLD cannot wait for its pipeline). Standard error stays
// the caller's. Returns 0 or an errno.
int StartShell(const char* command, int outputFd, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  sigset_t none;
  sigset_t reset;
  sigemptyset(&none);
  sigemptyset(&reset);
  sigaddset(&reset, SIGCHLD);
  sigaddset(&reset, SIGPIPE);
  int error = posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  if (error == 0)
    error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // A quiet run keeps the tools' own error lines off the caller's stderr too.
  if (error == 0 && ActiveOutput().silenceTools)
    error = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (error == 0)
    error = posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (error == 0) error = posix_spawnattr_setpgroup(&attributes, 0);
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &reset);
  const ToolEnvironment env;
  if (error == 0 && env.get() == nullptr) error = ENOMEM;
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
bool RunsPrivileged() { return geteuid() == 0 || geteuid() != getuid() || getegid() != getgid(); }

const char* ToolSearchPath() {
  if (g_testSearchPath != nullptr) return g_testSearchPath;
  if (RunsPrivileged()) return kSystemToolPath;
  return std::getenv("PATH");
}

void SetToolSearchPathForTesting(const char* list) { g_testSearchPath = list; }

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
    outcome.startError = errno;
    RunPrintf("popen %s error\n", command);
    return outcome;
  }
  OwnedFd readEnd(ends[0]);
  OwnedFd writeEnd(ends[1]);
  pid_t pid = 0;
  outcome.startError = StartShell(command, writeEnd.get(), &pid);
  if (outcome.startError != 0) {
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
  bool stopped = false;  // the deadline ended reading: what is pending is the last chunk
  bool full = false;
  // The shell has exited and no member of its group is alive: whoever still
  // holds the pipe's write end is a stranger (a worker the host forked while
  // our copy was open), so what the pipe holds now is all there is.
  bool writersGone = false;
  bool watchShell = child.pidfd() >= 0;
  int lookMs = kFirstLookMs;
  while (!full) {
    std::size_t chunk;
    while (!full && (chunk = NextChunkLength(pending, have, kChunkSize, ended || stopped)) > 0) {
      full = !AppendChunk(out, kCaptureCapacity, &length, pending, chunk, kCaptureStop);
      have -= chunk;
      std::memmove(pending, pending + chunk, have);
    }
    if (full || ended || stopped) break;
    pollfd watch[2] = {{readEnd.get(), POLLIN, 0}, {child.pidfd(), POLLIN, 0}};
    int wait = MsLeft(deadline);
    if (writersGone) wait = 0;
    if (!watchShell && wait > lookMs) wait = lookMs;
    if (outcome.timedOut && wait > kRoundPauseMs && !child.ShellExited()) wait = kRoundPauseMs;
    const int ready = poll(watch, watchShell && !writersGone ? 2 : 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      stopped = true;  // the pipe cannot be watched: end the command with what we have
      continue;
    }
    if (watch[0].revents != 0) {
      const ssize_t got = read(readEnd.get(), pending + have, sizeof pending - have);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ended = true;
      } else {
        have += static_cast<std::size_t>(got);
      }
      continue;
    }
    if (writersGone) {
      ended = true;  // drained
      continue;
    }
    if (child.ShellExited()) {
      if (!child.MembersAlive()) {
        writersGone = true;
        continue;
      }
      watchShell = false;  // its pidfd stays readable: look now and then instead
    }
    if (!watchShell) lookMs = lookMs * 2 > kLastLookMs ? kLastLookMs : lookMs * 2;
    if (MsLeft(deadline) > 0) {
      // Round after round through the grace until the shell has exited: a
      // tool may run one slow step after another, each keeping the
      // filter's input open.
      if (outcome.timedOut && !child.ShellExited()) EndUpstream(child, readEnd.get());
      continue;
    }
    if (outcome.timedOut) {
      stopped = true;
      continue;
    }
    // A filter such as grep holds what the tool printed in its buffer
    // until its input ends: end the tools upstream of it first and give
    // the filter a moment to pass the rest on.
    outcome.timedOut = true;
    EndUpstream(child, readEnd.get());
    deadline = NowMs() + kFlushGraceMs;
  }
  outcome.captured = length - start;
  // A shell that closed its output is given the rest of the deadline to
  // exit; whatever of the command is still there then is ended with it.
  if (ended && !child.AwaitExit(deadline)) outcome.timedOut = true;
  readEnd.Reset();
  // What is left gets a moment to be ended and reaped piece by piece: up to
  // the grace once the deadline has passed, and never past the deadline
  // before it.
  const long long grace = NowMs() + kFlushGraceMs;
  child.End(outcome.timedOut || grace < deadline ? grace : deadline);
  outcome.exited = child.exited();
  outcome.exitStatus = child.exitStatus();
  outcome.signal = child.signal();
  outcome.statusUnknown = child.statusUnknown();
  return outcome;
}

}  // namespace kolvex

void executeCMD(const char* command, char* out) {
  kolvex::RunCommand(command, out, kolvex::CommandTimeoutMs());
}