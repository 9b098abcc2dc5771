// Whole collections while the tools print hostile output: the run completes
// and every item stays within its width.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LinuxKolvex.h"
#include "command_runner.h"
#include "process_group.h"
#include "test_support.h"
#include "tool_probes.h"

namespace kolvex {
namespace {

std::vector<std::string> Fields(const std::string& record) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t at = record.find('@', start);
    fields.push_back(
        record.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return fields;
    start = at + 1;
  }
}

struct Hostile {
  const char* name;
  const char* script;  // body of dmidecode and lshw alike
};

class HostileTools : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileTools, RunCompletesWithinWidths) {
  testing::FakeToolDir tools;
  tools.Script("dmidecode", GetParam().script);
  tools.Script("lshw", GetParam().script);
  const testing::ScopedSysfsRoot noTables(testing::kNoSysfs);
  testing::ScopedProbes probes(ActiveProbes());
  // Keep the disk chain on the lshw path whatever disks this machine has.
  probes->diskSerial = GetDiskSerialBylshw;

  char out[1000];
  std::memset(out, '#', sizeof out);
  int len = -1;
  testing::CaptureStdout([&] { ORVIK_GetRealSystemInfo(out, len); });
  const std::string record(out);
  ASSERT_LE(record.size(), 188u);
  EXPECT_EQ(static_cast<int>(record.size()), len);
  const std::vector<std::string> fields = Fields(record);
  // An "@" a tool prints stays inside its item: always eleven fields.
  const size_t widths[] = {1, 19, 39, 39, 12, 12, 9, 5, 16, 16, 10};
  ASSERT_EQ(fields.size(), 11u) << record;
  for (size_t i = 0; i < 11; ++i) EXPECT_LE(fields[i].size(), widths[i]) << i << ": " << record;
  EXPECT_EQ(out[record.size() + 1], '#');
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, HostileTools,
    ::testing::Values(
        Hostile{"MegabyteOnOneLine",
                "printf 'ID: '; printf 'Serial Number: '; printf 'serial: '\n"
                "head -c 1048576 /dev/zero | /usr/bin/tr '\\0' 'A'\n"},
        Hostile{"NoLineFeeds", "printf 'ID: 1 2 3 Serial Number: X serial: Y'\n"},
        Hostile{"NulBytes", "printf 'ID: AB\\000CD\\nSerial Number: \\000x\\nserial: \\000\\n'\n"},
        Hostile{
            "NonAscii",
            "printf 'ID: \\377\\376\\201\\100 @@\\nSerial Number: \\344\\270\\255\\346\\226\\207 "
            "x\\nserial: \\351\\223\\276\\n'\n"},
        Hostile{"OnlyStandardError", "echo 'ID: ERR' >&2; echo 'Serial Number: ERR' >&2\n"},
        Hostile{"ExitsNonZero",
                "echo 'ID: 01 02'; echo 'Serial Number: S1'; echo 'serial: D1'; exit 1\n"},
        Hostile{"ManyKeysManyLines",
                "i=0; while [ $i -lt 2000 ]; do echo \"ID: $i Serial Number: $i serial: $i\"; "
                "i=$((i+1)); done\n"}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

TEST(HostileTools, StandardErrorAndExitStatusDoNotLeak) {
  testing::FakeToolDir tools;
  tools.Script("dmidecode",
               "echo 'ID: 01 02'; echo 'Serial Number: S1 x'; echo noise >&2; exit 1\n");
  char cpu[50] = {0}, bios[50] = {0};
  ::testing::internal::CaptureStderr();
  GetCpuSerial(cpu);
  GetBIOSSerial(bios);
  // They do reach the program's standard error, as the "/dev/mem" lines do.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "noise\nnoise\n");
  EXPECT_STREQ(cpu, "0102");
  EXPECT_STREQ(bios, "S1");
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// Processes of the group that are still alive (zombies and the dying
// counted only when asked: a killed tool's orphan is reaped by whoever
// adopted it).
int LiveMembers(pid_t group, bool zombies = false) {
  int live = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  while (dirent* entry = readdir(proc)) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid pgrp ...; comm may hold blanks, so start after ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0, pgrp = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) != 3) continue;
    if (pgrp == group && (zombies || (state != 'Z' && state != 'X'))) ++live;
  }
  closedir(proc);
  return live;
}

struct Hung {
  const char* name;
  const char* script;  // body of dmidecode
  bool timesOut;
  bool hostReaps = false;  // the caller ignores SIGCHLD, so the shell is not ours to reap
  const char* command = "dmidecode -t 4 | grep ID";
  // The most SIGPIPEs the tool may count in "$0.pipes", where it counts them (a
  // SIGKILL may end it before its handler has run).
  int sigpipes = -1;
  // A stranger holds the pipe's write end, as a worker the host forks while
  // the runner's copy is open would: another thread opens the shell's output
  // once the tool has written the shell's pid to $KOLVEX_TEST_STRANGER.
  bool strangerHoldsOutput = false;
  // The most CPU time the call may take; -1 where rounds of ending members,
  // 2 ms apart through the grace, meet a member they cannot end.
  int cpuMs = 150;
};

// Holds /proc/<pid>/fd/1 of the pid the tool writes to file, until released.
std::thread HoldOutputOfWrittenPid(const std::string& file, std::atomic<bool>* release) {
  return std::thread([file, release] {
    int held = -1;
    while (held < 0 && !*release) {
      std::ifstream in(file);
      long pid = 0;
      if (in >> pid)
        held = open(("/proc/" + std::to_string(pid) + "/fd/1").c_str(), O_WRONLY | O_CLOEXEC);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::ofstream(file + ".held") << "held\n";
    while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (held >= 0) close(held);
  });
}

long long ThreadCpuMs() {
  timespec used;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<long long>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

// Reaps the zombies a child subreaper has been left with.
int ReapOrphans() {
  int reaped = 0;
  while (waitpid(-1, nullptr, WNOHANG) > 0) ++reaped;
  return reaped;
}

class HungTools : public ::testing::TestWithParam<Hung> {};

// The command returns by its deadline with what the tool printed in time
// (one that does not time out, well before it), without spinning, and
// leaves no process, no zombie and no descriptor behind, also under a
// caller that is a child subreaper (as the first process of a container).
TEST_P(HungTools, EndWithTheDeadlineKeepingTheValue) {
  constexpr int kDeadlineMs = 1000;
  testing::FakeToolDir tools;
  tools.Script("dmidecode", GetParam().script);
  testing::ScopedEnv deadline(kCommandTimeoutVariable, std::to_string(kDeadlineMs).c_str());
  // Standard input that never ends: a tool reading it would wait for good.
  int feed[2];
  ASSERT_EQ(pipe(feed), 0);
  const int savedInput = dup(STDIN_FILENO);
  dup2(feed[0], STDIN_FILENO);
  close(feed[0]);
  const int descriptorsBefore = OpenDescriptors();
  // qemu's user mode refuses the subreaper role: the zombie count then has
  // nobody to land on, and is not checked.
  const bool subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  // A child of the caller's own, exited and not yet reaped: not the runner's to reap.
  const pid_t own = fork();
  if (own == 0) _exit(0);
  siginfo_t exited;
  waitid(P_PID, static_cast<id_t>(own), &exited, WEXITED | WNOWAIT);
  struct sigaction host = {}, saved = {};
  host.sa_handler = GetParam().hostReaps ? SIG_IGN : SIG_DFL;
  sigaction(SIGCHLD, &host, &saved);

  const std::string strangerFile = tools.dir() + "/stranger";
  testing::ScopedEnv stranger("KOLVEX_TEST_STRANGER", strangerFile.c_str());
  std::atomic<bool> release{false};
  std::thread holder;
  if (GetParam().strangerHoldsOutput) holder = HoldOutputOfWrittenPid(strangerFile, &release);

  char captured[1024] = {0};
  const auto start = std::chrono::steady_clock::now();
  const long long cpuBefore = ThreadCpuMs();
  const CommandOutcome outcome = RunCommand(GetParam().command, captured, CommandTimeoutMs());
  const long long cpuMs = ThreadCpuMs() - cpuBefore;
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  release = true;
  if (holder.joinable()) holder.join();

  const int descriptorsAfter = OpenDescriptors();
  sigaction(SIGCHLD, &saved, nullptr);
  dup2(savedInput, STDIN_FILENO);
  close(savedInput);
  close(feed[1]);

  char cpu[50] = {0};
  ParseToolValue(captured, kCpuIdRule, cpu, sizeof cpu);
  EXPECT_STREQ(cpu, "0102");
  EXPECT_EQ(outcome.timedOut, GetParam().timesOut);
  EXPECT_LT(took, GetParam().timesOut ? kDeadlineMs + 1500 : kDeadlineMs / 2);
  if (GetParam().timesOut) {
    EXPECT_GE(took, kDeadlineMs - 5);
  }
  // Looks at the group with growing pauses while it waits: a few dozen
  // scans of /proc, not one per turn.
  if (GetParam().cpuMs >= 0) {
    EXPECT_LT(cpuMs, GetParam().cpuMs) << "CPU time of the read loop";
  }
  EXPECT_EQ(descriptorsAfter, descriptorsBefore);
  ASSERT_TRUE(outcome.started);
  ASSERT_GT(outcome.group, 0);
  EXPECT_EQ(waitpid(outcome.group, nullptr, WNOHANG), -1) << "the shell was not reaped";
  int live = LiveMembers(outcome.group);
  for (int i = 0; i < 100 && live > 0; ++i) {  // SIGKILL lands shortly after kill() returns
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    live = LiveMembers(outcome.group);
  }
  EXPECT_EQ(live, 0);
  if (live > 0) kill(-outcome.group, SIGKILL);
  EXPECT_EQ(waitpid(own, nullptr, 0), own) << "the caller's own child was reaped";
  if (subreaper) {
    EXPECT_EQ(ReapOrphans(), 0) << "zombies left to the subreaper";
    EXPECT_EQ(LiveMembers(outcome.group, true), 0) << "zombies left to a member that left";
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  if (GetParam().sigpipes >= 0) {
    std::ifstream counted(tools.dir() + "/dmidecode.pipes");
    int sigpipes = 0;
    for (std::string line; std::getline(counted, line);) ++sigpipes;
    EXPECT_LE(sigpipes, GetParam().sigpipes) << "SIGPIPE round after round";
  }
  // Reaped by the host: the status is unknown, not an "exit by signal 0".
  EXPECT_EQ(outcome.statusUnknown, GetParam().hostReaps);
  EXPECT_TRUE(outcome.statusUnknown || outcome.exited || outcome.signal != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, HungTools,
    ::testing::Values(
        Hung{"LeavesAChildHoldingThePipe", "echo 'ID: 01 02'; /bin/sleep 1000 &\nexit 0\n", true},
        // The shell exits while that child holds the runner's own pipe.
        Hung{"ShellExitsWhileAMemberHoldsThePipe", "echo 'ID: 01 02'; /bin/sleep 1000 &\n", true,
             false, "dmidecode -t 4"},
        Hung{"ReadsStandardInput", "/bin/cat >/dev/null; echo 'ID: 01 02'\n", false},
        // The shell exits while a member it started in the background stays.
        Hung{"ExitsLeavingAMemberBehind", "(/bin/sleep 1000 >/dev/null 2>&1 &); echo 'ID: 01 02'\n",
             false},
        // Output closed, yet the tool stays: the rest of the deadline, then the end.
        Hung{"ClosesOutputThenStays", "echo 'ID: 01 02'; exec >&-; /bin/sleep 1000\n", true},
        // The shell itself does: its child is ended before it, so no zombie goes to the caller.
        Hung{"ShellClosesOutputThenStays", "echo 'ID: 01 02'\n", true, false,
             "dmidecode -t 4 | grep ID; exec >&-; /bin/sleep 1000; exit"},
        // SIGPIPE does not end it: SIGKILL in the next round, not SIGPIPE round after round.
        Hung{"CatchesSigpipe",
             "echo 'ID: 01 02'; exec >&-; exec /usr/bin/perl -e '$SIG{PIPE} = sub { open(F, "
             "\">>\", $ARGV[0]); print F \"PIPE\\n\"; close(F) }; sleep 1 while 1' \"$0.pipes\"\n",
             true, false, "dmidecode -t 4 | grep ID", 1},
        // Ended, the parent of a zombie leaves the group: the zombie is reaped
        // once that parent has gone, which the runner sees to.
        Hung{"ParentOfAZombieLeavesTheGroup",
             "echo 'ID: 01 02'; exec >&-; exec /usr/bin/perl -e 'fork or exit; "
             "$SIG{PIPE} = sub { setpgrp }; sleep 1 for 1..3'\n",
             true, false, "dmidecode -t 4 | grep ID", -1, false, -1},
        // Reading stops past 512 characters (grep passes on 4 KiB) while the tool runs.
        Hung{"StopsEarlyThenSleeps",
             "i=0; while [ $i -lt 1000 ]; do echo 'ID: 01 02'; i=$((i+1)); done; /bin/sleep 1000\n",
             false},
        Hung{"HostReapsItsChildren", "echo 'ID: 01 02'; exit 1\n", false, true},
        // Answers, then never exits: ended step by step through the grace, grep's
        // input ends and it passes the value on.
        Hung{"TwoSlowStepsInARow", "echo 'ID: 01 02'; /bin/sleep 1000; /bin/sleep 1001\n", true},
        // The exec'd step never reaps its ended child: a parent of zombies is a leaf.
        Hung{"ExecsOverAnUnreapedChild",
             "echo 'ID: 01 02'; /bin/sleep 1000 & exec /bin/sleep 1001\n", true},
        // Printed and exited, leaving an orphan's zombie in the group: the run
        // does not wait for the stranger, and a zombie is not alive.
        Hung{"AStrangerHoldsTheOutput",
             "echo 'ID: 01 02'; (/bin/true &); echo $PPID >\"$KOLVEX_TEST_STRANGER\"\n"
             "while [ ! -e \"$KOLVEX_TEST_STRANGER.held\" ]; do /bin/sleep 0.01; done\n",
             false, false, "dmidecode -t 4 | grep ID", -1, true}),
    [](const ::testing::TestParamInfo<Hung>& info) { return std::string(info.param.name); });

// The last look before the kill may see a member under the shell, just
// killed, which hands it to a subreaper caller before the member is named,
// and the member may exit meanwhile: it is still reaped there.
TEST(FinalKill, ReapsAMemberTheDyingShellHandsOn) {
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) GTEST_SKIP() << "no child subreaper role here";
  int handOver[2];
  ASSERT_EQ(pipe(handOver), 0);
  const pid_t shell = fork();
  if (shell == 0) {
    const pid_t member = fork();
    if (member == 0) pause();
    (void)!write(handOver[1], &member, sizeof member);
    pause();
  }
  pid_t member = 0;
  ASSERT_EQ(read(handOver[0], &member, sizeof member), static_cast<ssize_t>(sizeof member));
  close(handOver[0]);
  close(handOver[1]);
  std::ifstream statFile("/proc/" + std::to_string(member) + "/stat");
  std::string line;
  std::getline(statFile, line);
  ProcStat seen;
  ASSERT_TRUE(ParseProcStat(line.c_str(), &seen));
  ASSERT_EQ(seen.parent, shell);
  kill(shell, SIGKILL);
  waitpid(shell, nullptr, 0);
  kill(member, SIGKILL);
  siginfo_t exited;
  waitid(P_PID, static_cast<id_t>(member), &exited, WEXITED | WNOWAIT);

  Orphans orphans;
  orphans.TakeLeftovers(shell, &member, &seen, 1);
  orphans.Reap(NowMs() + kFlushGraceMs);
  const pid_t left = waitpid(member, nullptr, WNOHANG);
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(left, -1) << "the member was left a zombie to the subreaper";
}

}  // namespace
}  // namespace kolvex
