// Progress-log stamps: the pure format and the two clock readings.
#include <gtest/gtest.h>

#include <cstring>
#include <locale>
#include <string>

#include "define.h"
#include "test_support.h"

namespace kolvex {
namespace {

using testing::CaptureStdout;
using testing::ScopedClock;

std::tm At(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 1;
  t.tm_mday = 1;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(FormatStamp, UnpaddedMicrosecondsAfterColon) {
  struct {
    std::tm time;
    long usec;
    const char* stamp;
  } cases[] = {
      {At(9, 5, 7), 42, "09:05:07:42"},         {At(9, 5, 7), 5, "09:05:07:5"},
      {At(9, 5, 7), 0, "09:05:07:0"},           {At(9, 5, 7), 100000, "09:05:07:100000"},
      {At(9, 5, 7), 999999, "09:05:07:999999"}, {At(21, 0, 0), 1, "21:00:00:1"},
      {At(0, 0, 0), 1, "00:00:00:1"},           {At(23, 59, 60), 7, "23:59:60:7"},  // leap second
  };
  for (const auto& c : cases) EXPECT_EQ(FormatStamp(c.time, c.usec), c.stamp);
}

TEST(FormatStamp, IgnoresTheGlobalLocale) {
  struct Grouping : std::numpunct<char> {
    std::string do_grouping() const override { return "\3"; }
    char do_thousands_sep() const override { return ','; }
  };
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new Grouping));
  EXPECT_EQ(FormatStamp(At(9, 5, 7), 999999), "09:05:07:999999");
  std::locale::global(saved);
}

// A scripted clock: fixed seconds, a queue of microsecond answers.
struct Script {
  std::time_t seconds = 0;
  std::tm local = At(9, 5, 7);
  bool localOk = true;
  long usec[8] = {0};
  int fails[8] = {0};
  int next = 0;
};
Script g_script;

const Clock kScriptedClock{
    [] { return g_script.seconds; },
    [](std::time_t, std::tm* out) {
      *out = g_script.local;
      return g_script.localOk;
    },
    [](timeval* tv) {
      const int i = g_script.next++;
      tv->tv_sec = 0;
      tv->tv_usec = g_script.usec[i];
      return g_script.fails[i] ? -1 : 0;
    },
};

class ProgressLog : public ::testing::Test {
 protected:
  void SetUp() override {
    *clock_ = kScriptedClock;
    g_script = Script{};
    saved_ = g_sys.strTime;
  }
  void TearDown() override { g_sys.strTime = saved_; }
  ScopedClock clock_{ActiveClock()};
  std::string saved_;
};

TEST_F(ProgressLog, SecondsFromFirstReadingMicrosecondsFromSecond) {
  // 09:05:07.999990 on the first reading, 09:05:08.000012 on the second.
  g_script.usec[0] = 12;
  timeStick stick;
  GetFormatTickCount(stick);
  EXPECT_EQ(stick.strTime, "09:05:07:12");
}

TEST_F(ProgressLog, FailedRefreshKeepsThePreviousStamp) {
  g_script.usec[0] = 42;
  g_script.fails[1] = 1;
  g_script.usec[2] = 43;
  g_sys.strTime.clear();
  const std::string out = CaptureStdout([] {
    LogProgress("a");
    LogProgress("b");
    LogProgress("c");
  });
  EXPECT_EQ(out, "09:05:07:42 - a\n09:05:07:42 - b\n09:05:07:43 - c\n");
}

TEST_F(ProgressLog, NoSuccessfulRefreshYetGivesEmptyStamp) {
  g_script.fails[0] = 1;
  g_sys.strTime.clear();
  EXPECT_EQ(CaptureStdout([] { LogProgress("msg"); }), " - msg\n");
}

TEST_F(ProgressLog, NoLocalTimeLeavesTheStampAlone) {
  g_script.localOk = false;
  timeStick stick;
  stick.strTime = "earlier";
  GetFormatTickCount(stick);
  EXPECT_EQ(stick.strTime, "earlier");
}

}  // namespace
}  // namespace kolvex
