// The shell command runner: one command line in a process group of its
// own, its standard output captured as a line-by-line read would, and
// nothing of it left behind when the call returns.
#include "command_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
// How long filters get to pass on what they hold once the deadline has
// ended the tools before them, and how long the members of a command get
// to be ended and reaped by their parents before the whole group is killed.
constexpr int kFlushGraceMs = 250;
// Where the kernel has no pidfds, the shell is looked at with pauses that
// grow from the first to the last.
constexpr long kFirstPauseNs = 50000;
constexpr long kLastPauseNs = 2000000;
// The most group members looked at in one round of ending a command.
constexpr int kMostMembers = 64;
// While the pipe is silent and the shell cannot be watched (no pidfd, or it
// has exited leaving members behind), the shell and its group are looked at
// with pauses that grow from the first to the last.
constexpr int kFirstLookMs = 1;
constexpr int kLastLookMs = 100;
// The pause between two rounds of ending members, for their parents to reap
// them and go on.
constexpr int kRoundPauseMs = 2;

#ifndef P_PIDFD
constexpr idtype_t P_PIDFD = static_cast<idtype_t>(3);
#endif

const char* g_testSearchPath = nullptr;

long long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int MsLeft(long long deadline) {
  const long long left = deadline - NowMs();
  return left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

// Through syscall(): C libraries before glibc 2.36 have no wrappers.
int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0U));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

int PidfdSignal(int pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U));
#else
  (void)pidfd;
  (void)signal;
  errno = ENOSYS;
  return -1;
#endif
}

// Closes a descriptor on every path.
class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// The fields of /proc/PID/stat, false when it cannot be read.
bool ReadProcStat(long pid, ProcStat* fields) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  char line[512] = {0};
  OwnedFd stat(open(path, O_RDONLY | O_CLOEXEC));
  return stat.get() >= 0 && read(stat.get(), line, sizeof line - 1) > 0 &&
         ParseProcStat(line, fields);
}

// The members of a process group other than its leader, from /proc.
// Returns how many were stored (at most most).
int GroupMembers(pid_t group, pid_t* pids, ProcStat* fields, int most) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  int count = 0;
  while (dirent* entry = readdir(proc)) {
    if (count == most) break;
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == group) continue;
    ProcStat member;
    if (!ReadProcStat(pid, &member) || member.group != group) continue;
    pids[count] = static_cast<pid_t>(pid);
    fields[count] = member;
    ++count;
  }
  closedir(proc);
  return count;
}

// Whether a member of the group other than its leader is still alive (not
// a zombie).
bool GroupAlive(pid_t group) {
  pid_t pids[kMostMembers];
  ProcStat fields[kMostMembers];
  const int count = GroupMembers(group, pids, fields, kMostMembers);
  for (int i = 0; i < count; ++i)
    if (fields[i].state != 'Z' && fields[i].state != 'X') return true;
  return false;
}

// The members already sent SIGPIPE.
struct Piped {
  pid_t pids[kMostMembers];
  int count = 0;
};

// Whether pid still is the process a look at the group saw: a pidfd opened
// before this answer names that very process.
bool StillAsSeen(pid_t pid, const ProcStat& seen) {
  ProcStat now;
  return ReadProcStat(pid, &now) && now.group == seen.group && now.parent == seen.parent &&
         (now.state == 'Z') == (seen.state == 'Z');
}

// The zombies of members the runner ended. A dying parent hands its zombies
// to the nearest subreaper, which may be the caller: each is named by a
// pidfd, so that it is reaped there, and nothing else is.
class Orphans {
 public:
  // Takes the zombie children of member i of one look at the group. False
  // when one of them cannot be named exactly (no pidfds, no room left).
  bool Take(int i, const pid_t* pids, const ProcStat* fields, int count) {
    const int first = count_;
    bool named = true;
    for (int j = 0; j < count && named; ++j) {
      if (fields[j].parent != pids[i] || fields[j].state != 'Z') continue;
      bool known = false;
      for (int k = 0; k < count_ && !known; ++k) known = entries_[k].pid == pids[j];
      if (known) continue;
      named = count_ < kMostMembers;
      if (!named) break;
      Entry& e = entries_[count_];
      e.zombie.Reset(PidfdOpen(pids[j]));
      e.parent.Reset(PidfdOpen(pids[i]));
      e.pid = pids[j];
      named = e.zombie.get() >= 0 && e.parent.get() >= 0 && StillAsSeen(pids[j], fields[j]) &&
              StillAsSeen(pids[i], fields[i]);
      ++count_;
    }
    if (!named) Drop(first);
    return named;
  }

  // Once the parent of each is gone (ended if it is still there at until),
  // reaps those that landed with the caller.
  void Reap(long long until) {
    for (int k = 0; k < count_; ++k) {
      Entry& e = entries_[k];
      pollfd gone{e.parent.get(), POLLIN, 0};
      while (poll(&gone, 1, MsLeft(until)) < 0 && errno == EINTR) {
      }
      if (gone.revents == 0) {
        PidfdSignal(e.parent.get(), SIGKILL);
        while (poll(&gone, 1, kFlushGraceMs) < 0 && errno == EINTR) {
        }
      }
      siginfo_t info;
      while (waitid(P_PIDFD, static_cast<id_t>(e.zombie.get()), &info, WEXITED | WNOHANG) < 0 &&
             errno == EINTR) {
      }
    }
    Drop(0);
  }

 private:
  void Drop(int from) {
    while (count_ > from) {
      --count_;
      entries_[count_].zombie.Reset();
      entries_[count_].parent.Reset();
    }
  }

  struct Entry {
    pid_t pid = 0;
    OwnedFd zombie;
    OwnedFd parent;
  };
  Entry entries_[kMostMembers];
  int count_ = 0;
};

// Ends the live members of the group that have no live child in it: their
// parents, a shell or a tool's own, reap them and go on or end in turn.
// Members whose standard output is keptOutput (a "pipe:[inode]" link) are
// left alone. Returns false when the group has no member left but its
// leader.
bool EndGroupLeaves(pid_t group, const char* keptOutput, Piped* ended, Orphans* orphans) {
  pid_t pids[kMostMembers];
  ProcStat fields[kMostMembers];
  const int count = GroupMembers(group, pids, fields, kMostMembers);
  for (int i = 0; i < count; ++i) {
    if (fields[i].state == 'Z') continue;
    // A live child keeps its parent: killing the parent would hand the
    // child to a subreaper. A parent of zombies alone (a step exec'd over
    // the tool's unreaped children, a process that never reaps) is a leaf
    // once those zombies can be reaped wherever they land.
    bool liveChild = false;
    bool zombieChild = false;
    for (int j = 0; j < count; ++j) {
      if (fields[j].parent != pids[i]) continue;
      (fields[j].state == 'Z' ? zombieChild : liveChild) = true;
    }
    if (liveChild) continue;
    if (keptOutput != nullptr) {
      char path[64];
      std::snprintf(path, sizeof path, "/proc/%ld/fd/1", static_cast<long>(pids[i]));
      char target[48] = {0};
      const ssize_t n = readlink(path, target, sizeof target - 1);
      if (n > 0 && std::strcmp(target, keptOutput) == 0) continue;
    }
    if (zombieChild && !orphans->Take(i, pids, fields, count)) continue;
    // SIGPIPE first: a shell reports a child that SIGKILL ended ("Killed")
    // on the caller's standard error, but is silent about one that a
    // closed pipe ended. A member still there in a later round (it ignores
    // or catches SIGPIPE) gets SIGKILL.
    bool piped = false;
    for (int j = 0; j < ended->count && !piped; ++j) piped = ended->pids[j] == pids[i];
    if (piped || ended->count == kMostMembers) {
      kill(pids[i], SIGKILL);
    } else {
      kill(pids[i], SIGPIPE);
      ended->pids[ended->count++] = pids[i];
    }
  }
  return count > 0;
}

// The shell of one command and the process group it leads. The shell is
// named by a pidfd where the kernel has them (5.3 and later): it waits
// exactly for the shell's exit, and it keeps naming this child after
// someone else has reaped it, so that neither a signal nor a wait reaches
// a process that has taken over its pid. Without pidfds the group is only
// signalled once the shell is confirmed an unreaped child of ours, which
// keeps the group's id from being reused.
class ChildGroup {
 public:
  explicit ChildGroup(pid_t pid) : pid_(pid) {
    pidfd_.Reset(PidfdOpen(pid));
    // A pidfd opened after a caller that ignores SIGCHLD let the shell go
    // names whoever has its pid now: keep it only when it is our child.
    if (pidfd_.get() >= 0 && Look() == State::kNotOurs) pidfd_.Reset();
  }
  ChildGroup(const ChildGroup&) = delete;
  ChildGroup& operator=(const ChildGroup&) = delete;
  ~ChildGroup() { End(NowMs()); }

  // Waits until the shell has exited, without reaping it. False when the
  // deadline came first.
  bool AwaitExit(long long deadline) {
    long pauseNs = kFirstPauseNs;
    for (;;) {
      if (Look() != State::kRunning) return true;
      const int left = MsLeft(deadline);
      if (left == 0) return false;
      if (pidfd_.get() >= 0) {
        pollfd watch{pidfd_.get(), POLLIN, 0};
        if (poll(&watch, 1, left) >= 0 || errno == EINTR) continue;
      }
      const timespec pause{0, pauseNs};
      nanosleep(&pause, nullptr);
      pauseNs = pauseNs * 2 > kLastPauseNs ? kLastPauseNs : pauseNs * 2;
    }
  }

  // Ends what is left of the command and reaps the shell. Until the given
  // time the members are ended children first, so that every one is reaped
  // by its own parent (a caller that is a child subreaper, or the first
  // process of a container, would otherwise inherit them as zombies); then
  // the whole group is killed.
  void End(long long until) {
    if (pid_ <= 0) return;
    while (Look() == State::kRunning && MsLeft(until) > 0) {
      if (!EndLeaves(nullptr)) break;
      AwaitExit(NowMs() + kRoundPauseMs);
    }
    if (Look() == State::kRunning) Signal();
    // Whatever of the group is left, such as a tool's background child
    // after the shell has exited; the unreaped shell still holds the id.
    if (Look() != State::kNotOurs) kill(-pid_, SIGKILL);
    Reap();
    orphans_.Reap(NowMs() + kFlushGraceMs);
    pid_ = 0;
  }

  // Kills the members with no child in the group, but for those whose
  // standard output is keptOutput. The group is stopped meanwhile, so that
  // no member starts a child between the look and the kill (killing its
  // parent would orphan it). False when no member is left but the shell.
  bool EndLeaves(const char* keptOutput) {
    if (Look() == State::kNotOurs) return false;
    kill(-pid_, SIGSTOP);
    const bool members = EndGroupLeaves(pid_, keptOutput, &piped_, &orphans_);
    kill(-pid_, SIGCONT);
    return members;
  }

  // The shell's pidfd, -1 where the kernel has none.
  int pidfd() const { return pidfd_.get(); }
  // Whether the shell has exited (or someone else reaped it), and then
  // whether a member it leaves behind is alive.
  bool ShellExited() { return Look() != State::kRunning; }
  bool MembersAlive() const { return GroupAlive(pid_); }

  bool exited() const { return exited_; }
  int exitStatus() const { return exitStatus_; }
  int signal() const { return signal_; }
  bool statusUnknown() const { return statusUnknown_; }

 private:
  enum class State { kRunning, kExited, kNotOurs };

  // Where the shell stands; it is never reaped here.
  State Look() {
    siginfo_t info;
    for (;;) {
      std::memset(&info, 0, sizeof info);
      const int got =
          pidfd_.get() >= 0
              ? waitid(P_PIDFD, static_cast<id_t>(pidfd_.get()), &info, WEXITED | WNOHANG | WNOWAIT)
              : waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
      if (got == 0) return info.si_pid == 0 ? State::kRunning : State::kExited;
      if (errno != EINTR) return State::kNotOurs;
    }
  }

  void Signal() {
    if (pidfd_.get() >= 0)
      PidfdSignal(pidfd_.get(), SIGKILL);
    else
      kill(pid_, SIGKILL);
  }

  void Reap() {
    siginfo_t info;
    int got;
    do {
      std::memset(&info, 0, sizeof info);
      got = pidfd_.get() >= 0 ? waitid(P_PIDFD, static_cast<id_t>(pidfd_.get()), &info, WEXITED)
                              : waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED);
    } while (got < 0 && errno == EINTR);
    if (got != 0 || info.si_pid == 0) {
      statusUnknown_ = true;  // reaped elsewhere: no status, and nothing more to end
      return;
    }
    exited_ = info.si_code == CLD_EXITED;
    exitStatus_ = exited_ ? info.si_status : -1;
    signal_ = exited_ ? 0 : info.si_status;
  }

  pid_t pid_;
  OwnedFd pidfd_;
  Piped piped_;
  Orphans orphans_;
  bool exited_ = false;
  int exitStatus_ = -1;
  int signal_ = 0;
  bool statusUnknown_ = false;
};

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

bool ParseProcStat(const char* stat, ProcStat* fields) {
  // "pid (name) state ppid pgrp ...": the name may hold blanks and
  // parentheses, so the fields are counted from its last ')'.
  const char* close = stat == nullptr ? nullptr : std::strrchr(stat, ')');
  if (close == nullptr) return false;
  const char* at = close + 1;
  while (*at == ' ') ++at;
  if (*at == '\0' || at[1] != ' ') return false;  // the one-letter state
  char* end = nullptr;
  errno = 0;
  const long parent = std::strtol(at + 2, &end, 10);
  if (end == at + 2 || *end != ' ' || errno != 0) return false;
  const char* groupText = end + 1;
  const long group = std::strtol(groupText, &end, 10);
  if (end == groupText || errno != 0) return false;
  fields->state = *at;
  fields->parent = static_cast<pid_t>(parent);
  fields->group = static_cast<pid_t>(group);
  return true;
}

pid_t GroupFromStat(const char* stat) {
  ProcStat fields;
  return ParseProcStat(stat, &fields) ? fields.group : -1;
}

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
