// Ending the process group of one command, children first, and reaping
// what lands with the caller.
#include "process_group.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kolvex {

namespace {

// Where the kernel has no pidfds, the shell is looked at with pauses that
// grow from the first to the last.
constexpr long kFirstPauseNs = 50000;
constexpr long kLastPauseNs = 2000000;

#ifndef P_PIDFD
constexpr idtype_t P_PIDFD = static_cast<idtype_t>(3);
#endif

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

// Waits up to ms for the pidfd of watch to tell that its process has exited.
void AwaitPidfd(pollfd* watch, int ms) {
  while (poll(watch, 1, ms) < 0 && errno == EINTR) {
  }
}

// Reaps the process a pidfd names, if it has exited and is the caller's.
void ReapPidfd(int pidfd) {
  siginfo_t info;
  while (waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) < 0 &&
         errno == EINTR) {
  }
}

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

// Whether pid still is the process a look at the group saw: a pidfd opened
// before this answer names that very process. Since the look it may have
// exited (a zombie keeps its pid until reaped) and, where heir is set, have
// been handed to heir by a parent that exited (the shell, just killed).
bool StillAsSeen(pid_t pid, const ProcStat& seen, pid_t heir = -1) {
  ProcStat now;
  return ReadProcStat(pid, &now) && now.group == seen.group &&
         (now.parent == seen.parent || now.parent == heir) &&
         (now.state == 'Z' || seen.state != 'Z');
}

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

}  // namespace

long long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int MsLeft(long long deadline) {
  const long long left = deadline - NowMs();
  return left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

void OwnedFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

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

bool Orphans::Take(int i, const pid_t* pids, const ProcStat* fields, int count) {
  const int first = count_;
  for (int j = 0; j < count; ++j) {
    if (fields[j].parent != pids[i] || fields[j].state != 'Z') continue;
    if (!Add(pids[j], fields[j], pids[i], &fields[i])) {
      Drop(first);
      return false;
    }
  }
  return true;
}

void Orphans::TakeLeftovers(pid_t shell, const pid_t* pids, const ProcStat* fields, int count) {
  const pid_t self = getpid();
  for (int j = 0; j < count; ++j) {
    const pid_t parent = fields[j].parent;
    int i = 0;
    while (i < count && pids[i] != parent) ++i;
    // A member whose parent is outside the command (the caller aside) lands
    // wherever that parent's children go, never with the caller.
    if (i == count && parent != self && parent != shell) continue;
    const int first = count_;
    if (!Add(pids[j], fields[j], parent, i < count ? &fields[i] : nullptr)) Drop(first);
  }
}

bool Orphans::Add(pid_t pid, const ProcStat& seen, pid_t parent, const ProcStat* parentSeen) {
  for (int k = 0; k < count_; ++k)
    if (entries_[k].pid == pid) return true;
  if (count_ == kMostMembers) return false;
  Entry& e = entries_[count_++];
  e.pid = pid;
  e.member.Reset(PidfdOpen(pid));
  if (parentSeen != nullptr) e.parent.Reset(PidfdOpen(parent));
  // A member of the caller's or the shell's: the shell's pass to the caller
  // when it is a subreaper.
  const pid_t heir = parentSeen == nullptr ? getpid() : -1;
  return e.member.get() >= 0 && StillAsSeen(pid, seen, heir) &&
         (parentSeen == nullptr || (e.parent.get() >= 0 && StillAsSeen(parent, *parentSeen)));
}

void Orphans::Reap(long long until) {
  for (int k = 0; k < count_; ++k) {
    Entry& e = entries_[k];
    // Its parent hands it on when it has gone: wait for that, not for the
    // member itself, which may be a zombie that is not the caller's yet.
    // A parent that has left the group since is ended here, and may land
    // with the caller too.
    if (e.parent.get() >= 0) {
      pollfd gone{e.parent.get(), POLLIN, 0};
      AwaitPidfd(&gone, MsLeft(until));
      if (gone.revents == 0) {
        PidfdSignal(e.parent.get(), SIGKILL);
        AwaitPidfd(&gone, kFlushGraceMs);
      }
      ReapPidfd(e.parent.get());
    }
    pollfd exited{e.member.get(), POLLIN, 0};
    AwaitPidfd(&exited, MsLeft(until));
    ReapPidfd(e.member.get());
  }
  Drop(0);
}

void Orphans::Drop(int from) {
  while (count_ > from) {
    --count_;
    entries_[count_].member.Reset();
    entries_[count_].parent.Reset();
  }
}

ChildGroup::ChildGroup(pid_t pid) : pid_(pid) {
  pidfd_.Reset(PidfdOpen(pid));
  // A pidfd opened after a caller that ignores SIGCHLD let the shell go
  // names whoever has its pid now: keep it only when it is our child.
  if (pidfd_.get() >= 0 && Look() == State::kNotOurs) pidfd_.Reset();
}

bool ChildGroup::AwaitExit(long long deadline) {
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

void ChildGroup::End(long long until) {
  if (pid_ <= 0) return;
  while (Look() == State::kRunning && MsLeft(until) > 0) {
    if (!EndLeaves(nullptr)) break;
    AwaitExit(NowMs() + kRoundPauseMs);
  }
  if (Look() == State::kRunning) Signal();
  // Whatever of the group is left, such as a tool's background child
  // after the shell has exited; the unreaped shell still holds the id.
  // Stopped while it is looked at, no member starts a child the look
  // misses.
  if (Look() != State::kNotOurs) {
    kill(-pid_, SIGSTOP);
    pid_t pids[kMostMembers];
    ProcStat fields[kMostMembers];
    const int count = GroupMembers(pid_, pids, fields, kMostMembers);
    orphans_.TakeLeftovers(pid_, pids, fields, count);
    kill(-pid_, SIGKILL);
  }
  Reap();
  orphans_.Reap(NowMs() + kFlushGraceMs);
  pid_ = 0;
}

bool ChildGroup::EndLeaves(const char* keptOutput) {
  if (Look() == State::kNotOurs) return false;
  kill(-pid_, SIGSTOP);
  const bool members = EndGroupLeaves(pid_, keptOutput, &piped_, &orphans_);
  kill(-pid_, SIGCONT);
  return members;
}

bool ChildGroup::MembersAlive() const {
  pid_t pids[kMostMembers];
  ProcStat fields[kMostMembers];
  const int count = GroupMembers(pid_, pids, fields, kMostMembers);
  for (int i = 0; i < count; ++i)
    if (fields[i].state != 'Z' && fields[i].state != 'X') return true;
  return false;
}

ChildGroup::State ChildGroup::Look() {
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

void ChildGroup::Signal() {
  if (pidfd_.get() >= 0)
    PidfdSignal(pidfd_.get(), SIGKILL);
  else
    kill(pid_, SIGKILL);
}

void ChildGroup::Reap() {
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

}  // namespace kolvex
