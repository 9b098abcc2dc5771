// Collections started from several threads at once take turns inside the
// library: every caller gets its own complete, uncorrupted result.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LinuxKolvex.h"
#include "collection_run.h"
#include "define.h"
#include "test_support.h"
#include "worked_example.h"

namespace kolvex {
namespace {

TEST(ConcurrentCallers, CollectionsDoNotInterfere) {
  testing::ScopedProbes probes(ActiveProbes());
  *probes = testing::kWorkedExampleProbes;
  const std::string expected = testing::kWorkedExampleRecord;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  testing::CaptureStdout([&] {
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 25; ++i) {
          char out[256];
          int len = 0;
          if (t % 2 == 0) {
            if (ORVIK_GetRealSystemInfo(out, len) != 0 || expected != out) ++wrong;
          } else {
            if (ORVIK_GetSystemInfo(out, len) != 0 || len != 9 || out[1] != '0' || out[8] != 'T')
              ++wrong;
          }
          timeStick stick;
          GetFormatTickCount(stick);  // a caller refreshing a stamp of its own
        }
      });
    }
    for (std::thread& t : threads) t.join();
  });
  EXPECT_EQ(wrong.load(), 0);
}

// An explained run whose CPU step waits while another thread calls a probe.
std::promise<void> g_runWaits, g_probeDone;
void CpuStepMeetingAProbe(char* id) {
  g_runWaits.set_value();
  g_probeDone.get_future().wait();
  testing::PutText(id, "57060500FFFBEBBF");
}

std::string Explained() {
  char out[256] = {0}, explanation[8192];
  int len = 0;
  testing::CaptureStdout([&] { ORVIK_GetExplainedSystemInfo(out, len, explanation, 8192); });
  return explanation;
}

// That probe call stays out of the run's explanation.
TEST(ConcurrentCallers, AProbeOnAnotherThreadStaysOutOfAnExplainedRun) {
  testing::ScopedProbes probes(ActiveProbes());
  *probes = testing::kWorkedExampleProbes;
  const std::string alone = Explained();
  probes->cpuId = CpuStepMeetingAProbe;
  std::thread other([] {
    g_runWaits.get_future().wait();
    char name[50] = {0}, version[50] = {0};
    GetDeviceNameAndOsVersion(name, version);
    g_probeDone.set_value();
  });
  EXPECT_EQ(Explained(), alone);
  other.join();
}

// Formatting a stamp copies the global C++ locale, which takes a lock of the
// C++ library once a host has set a non-classic one. It waits while a fork
// is prepared (the fork handlers hold the library-call lock), so that no
// child starts with that lock taken by a thread it does not have.
TEST(ConcurrentCallers, AStampWaitsWhileAForkIsPrepared) {
  testing::ScopedClock clock(ActiveClock());
  clock->toLocal = [](std::time_t, std::tm* local) {  // a reading without the lock
    *local = std::tm{};
    return true;
  };
  std::unique_lock<std::mutex> forking(LibraryCallLock());
  std::future<void> stamped = std::async(std::launch::async, [] {
    timeStick stick;
    GetFormatTickCount(stick);
  });
  EXPECT_EQ(stamped.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  forking.unlock();
  stamped.wait();
}

// A client forking while another of its threads collects and a third reads
// the clock (a pre-fork server, Python's default start method): the child,
// whose only thread is the forking one, collects on its own all the same.
std::atomic<bool> g_forksDone{false};
pid_t g_forkingProcess = 0;
void CpuStepHeldOpenInTheParent(char* id) {
  while (getpid() == g_forkingProcess && !g_forksDone) std::this_thread::yield();
  testing::PutText(id, "57060500FFFBEBBF");
}

TEST(ConcurrentCallers, AChildForkedMidCollectionCollects) {
  testing::ScopedProbes probes(ActiveProbes());
  *probes = testing::kWorkedExampleProbes;
  probes->cpuId = CpuStepHeldOpenInTheParent;
  g_forkingProcess = getpid();
  g_forksDone = false;
  std::thread collecting, clock;
  int returned = 0;
  testing::CaptureStdout([&] {
    collecting = std::thread([] {
      char out[256];
      int len = 0;
      ORVIK_GetRealSystemInfo(out, len);
    });
    clock = std::thread([] {
      for (timeStick stick; !g_forksDone;) GetFormatTickCount(stick);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the run is in its CPU step
    fflush(stdout);
    for (int i = 0; i < 20 && returned == i; ++i) {
      const pid_t child = fork();
      if (child == 0) {
        alarm(3);  // a hung child ends here
        dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
        char out[256] = {0};
        int len = 0;
        const int flags = ORVIK_GetRealSystemInfo(out, len);
        _exit(flags == 0 && std::strcmp(out, testing::kWorkedExampleRecord) == 0 ? 0 : 1);
      }
      int status = -1;
      waitpid(child, &status, 0);
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) ++returned;
    }
    g_forksDone = true;
    collecting.join();
    clock.join();
  });
  EXPECT_EQ(returned, 20);
}

}  // namespace
}  // namespace kolvex
