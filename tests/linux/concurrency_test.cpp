// Collections started from several threads at once take turns inside the
// library: every caller gets its own complete, uncorrupted result.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LinuxKolvex.h"
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

// The CPU step of an explained run that lets another thread call a probe
// and waits until that call is done.
std::mutex g_meeting;
std::condition_variable g_turn;
int g_stage = 0;  // 1: the run waits, 2: the other thread's call is done
void CpuStepMeetingAProbe(char* id) {
  std::unique_lock<std::mutex> lock(g_meeting);
  g_stage = 1;
  g_turn.notify_all();
  g_turn.wait(lock, [] { return g_stage == 2; });
  testing::PutText(id, "57060500FFFBEBBF");
}

std::string Explained() {
  char out[256] = {0}, explanation[8192];
  int len = 0;
  testing::CaptureStdout(
      [&] { ORVIK_GetExplainedSystemInfo(out, len, explanation, sizeof explanation); });
  return explanation;
}

// A probe a client calls on another thread while an explained run is under
// way stays out of that run's explanation.
TEST(ConcurrentCallers, AProbeOnAnotherThreadStaysOutOfAnExplainedRun) {
  testing::ScopedProbes probes(ActiveProbes());
  *probes = testing::kWorkedExampleProbes;
  const std::string alone = Explained();
  probes->cpuId = CpuStepMeetingAProbe;
  g_stage = 0;
  std::thread other([] {
    std::unique_lock<std::mutex> lock(g_meeting);
    g_turn.wait(lock, [] { return g_stage == 1; });
    char name[50] = {0}, version[50] = {0};
    GetDeviceNameAndOsVersion(name, version);
    g_stage = 2;
    g_turn.notify_all();
  });
  const std::string meeting = Explained();
  other.join();
  EXPECT_EQ(meeting, alone);
}

}  // namespace
}  // namespace kolvex
