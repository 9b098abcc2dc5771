// Ending the process group of one command: its members children first, so
// that each is reaped by its own parent, then the rest at once, and the
// zombies that land with the caller reaped there.
#pragma once

#include <sys/types.h>

namespace kolvex {

// How long filters get to pass on what they hold once the deadline has
// ended the tools before them, and how long the members of a command get
// to be ended and reaped by their parents before the whole group is killed.
constexpr int kFlushGraceMs = 250;
// The pause between two rounds of ending members, for their parents to reap
// them and go on.
constexpr int kRoundPauseMs = 2;
// The most group members looked at in one round of ending a command.
constexpr int kMostMembers = 64;

// The monotonic clock in milliseconds, and what is left until deadline.
long long NowMs();
int MsLeft(long long deadline);

// Closes a descriptor on every path.
class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1);

 private:
  int fd_;
};

// The process group in a line of /proc/PID/stat; -1 when it has none.
pid_t GroupFromStat(const char* stat);

// The fields of a line of /proc/PID/stat the runner uses to end a command.
struct ProcStat {
  char state = 0;  // 'Z' for a zombie
  pid_t parent = -1;
  pid_t group = -1;
};
// False when the line does not hold them.
bool ParseProcStat(const char* stat, ProcStat* fields);

// The members already sent SIGPIPE.
struct Piped {
  pid_t pids[kMostMembers];
  int count = 0;
};

// Members of the group that may land with the caller as zombies: a dying
// parent hands its children to the nearest subreaper, which may be the
// caller. Each is named by a pidfd, so that it is reaped there, and nothing
// else is.
class Orphans {
 public:
  // Takes the zombie children of member i of one look at the group. False
  // when one of them cannot be named exactly (no pidfds, no room left).
  bool Take(int i, const pid_t* pids, const ProcStat* fields, int count);
  // Takes, from a look just before the whole group is killed, the members
  // the kill hands the caller: those that are its children already, and
  // those whose parent is another member or the shell.
  void TakeLeftovers(pid_t shell, const pid_t* pids, const ProcStat* fields, int count);
  // Once each has exited and its parent is gone (ended if it is still
  // there at until), reaps those that landed with the caller.
  void Reap(long long until);

 private:
  // Names pid as seen, with its parent where that must go first (null
  // parentSeen: the caller or the shell). False when it cannot be named.
  bool Add(pid_t pid, const ProcStat& seen, pid_t parent, const ProcStat* parentSeen);
  void Drop(int from);

  struct Entry {
    pid_t pid = 0;
    OwnedFd member;
    OwnedFd parent;
  };
  Entry entries_[kMostMembers];
  int count_ = 0;
};

// The shell of one command and the process group it leads. The shell is
// named by a pidfd where the kernel has them (5.3 and later): it waits
// exactly for the shell's exit, and it keeps naming this child after
// someone else has reaped it, so that neither a signal nor a wait reaches
// a process that has taken over its pid. Without pidfds the group is only
// signalled once the shell is confirmed an unreaped child of ours, which
// keeps the group's id from being reused.
class ChildGroup {
 public:
  explicit ChildGroup(pid_t pid);
  ChildGroup(const ChildGroup&) = delete;
  ChildGroup& operator=(const ChildGroup&) = delete;
  ~ChildGroup() { End(NowMs()); }

  // Waits until the shell has exited, without reaping it. False when the
  // deadline came first.
  bool AwaitExit(long long deadline);
  // Ends what is left of the command and reaps the shell. Until the given
  // time the members are ended children first, so that every one is reaped
  // by its own parent (a caller that is a child subreaper, or the first
  // process of a container, would otherwise inherit them as zombies); then
  // the whole group is killed, and what that hands the caller is reaped.
  void End(long long until);
  // Kills the members with no child in the group, but for those whose
  // standard output is keptOutput. The group is stopped meanwhile, so that
  // no member starts a child between the look and the kill (killing its
  // parent would orphan it). False when no member is left but the shell.
  bool EndLeaves(const char* keptOutput);

  // The shell's pidfd, -1 where the kernel has none.
  int pidfd() const { return pidfd_.get(); }
  // Whether the shell has exited (or someone else reaped it), and then
  // whether a member it leaves behind is alive.
  bool ShellExited() { return Look() != State::kRunning; }
  bool MembersAlive() const;

  bool exited() const { return exited_; }
  int exitStatus() const { return exitStatus_; }
  int signal() const { return signal_; }
  bool statusUnknown() const { return statusUnknown_; }

 private:
  enum class State { kRunning, kExited, kNotOurs };

  // Where the shell stands; it is never reaped here.
  State Look();
  void Signal();
  void Reap();

  pid_t pid_;
  OwnedFd pidfd_;
  Piped piped_;
  Orphans orphans_;
  bool exited_ = false;
  int exitStatus_ = -1;
  int signal_ = 0;
  bool statusUnknown_ = false;
};

}  // namespace kolvex
