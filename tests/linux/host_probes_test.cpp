// Collection time and uname probes.
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "LinuxKolvex.h"
#include "test_support.h"

namespace kolvex {
namespace {

using testing::ScopedClock;
using testing::ScopedKernel;

TEST(GetLinuxSysTime, FormatsLocalTime) {
  ScopedClock clock(ActiveClock());
  clock->toLocal = [](std::time_t, std::tm* out) {
    std::memset(out, 0, sizeof *out);
    out->tm_year = 126;
    out->tm_mon = 1;
    out->tm_mday = 1;
    out->tm_hour = 9;
    out->tm_min = 5;
    out->tm_sec = 7;
    return true;
  };
  char buf[20] = {0};
  GetLinuxSysTime(buf);
  EXPECT_STREQ(buf, "2026-02-01 09:05:07");
}

TEST(GetLinuxSysTime, NoLocalTimeLeavesTheItemEmpty) {
  ScopedClock clock(ActiveClock());
  clock->toLocal = [](std::time_t, std::tm*) { return false; };
  char buf[20] = {0};
  GetLinuxSysTime(buf);
  EXPECT_STREQ(buf, "");
}

TEST(GetLinuxSysTime, RealClockGivesNineteenCharacters) {
  char buf[20] = {0};
  GetLinuxSysTime(buf);
  EXPECT_EQ(std::strlen(buf), 19u);
  EXPECT_EQ(buf[4], '-');
  EXPECT_EQ(buf[10], ' ');
}

TEST(GetLinuxSysTime, FollowsAZoneChangedBetweenReadings) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  const std::time_t noon = 12 * 3600;
  std::tm first{}, second{};
  ASSERT_TRUE(SystemClock().toLocal(noon, &first));
  setenv("TZ", "EST-5", 1);  // five hours east; no tzset of our own
  ASSERT_TRUE(SystemClock().toLocal(noon, &second));
  if (saved != nullptr)
    setenv("TZ", previous.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_EQ(first.tm_hour, 12);
  EXPECT_EQ(second.tm_hour, 17);
}

std::string g_node, g_release;
int g_unameResult;

int FakeUname(struct utsname* u) {
  std::strncpy(u->nodename, g_node.c_str(), sizeof u->nodename - 1);
  std::strncpy(u->release, g_release.c_str(), sizeof u->release - 1);
  return g_unameResult;
}

TEST(GetDeviceNameAndOsVersion, CopiesNodeAndRelease) {
  ScopedKernel kernel(ActiveKernel());
  kernel->uname = FakeUname;
  g_node = "build-server-07";
  g_release = "5.15.0-91-generic";
  g_unameResult = 0;
  char name[50] = {0}, version[50] = {0};
  GetDeviceNameAndOsVersion(name, version);
  EXPECT_STREQ(name, "build-server-07");
  EXPECT_STREQ(version, "5.15.0-91-generic");
}

TEST(GetDeviceNameAndOsVersion, LongNamesStayInsideFiftyBytes) {
  ScopedKernel kernel(ActiveKernel());
  kernel->uname = FakeUname;
  g_node = std::string(64, 'n');
  g_release = std::string(64, 'r');
  g_unameResult = 0;
  char name[60], version[60];
  std::memset(name, '#', sizeof name);
  std::memset(version, '#', sizeof version);
  GetDeviceNameAndOsVersion(name, version);
  EXPECT_EQ(std::string(name), std::string(49, 'n'));
  EXPECT_EQ(std::string(version), std::string(49, 'r'));
  EXPECT_EQ(name[50], '#');
  EXPECT_EQ(version[50], '#');
}

TEST(GetDeviceNameAndOsVersion, FailingUnameLeavesBuffersAsTheyWere) {
  ScopedKernel kernel(ActiveKernel());
  kernel->uname = FakeUname;
  g_node = "x";
  g_release = "y";
  g_unameResult = -1;
  char name[50] = "before", version[50] = "also";
  GetDeviceNameAndOsVersion(name, version);
  EXPECT_STREQ(name, "before");
  EXPECT_STREQ(version, "also");
}

TEST(GetDeviceNameAndOsVersion, FailingUnameFlagsBothItems) {
  ScopedKernel kernel(ActiveKernel());
  kernel->uname = [](struct utsname*) { return -1; };
  testing::ScopedProbes probes(ActiveProbes());
  probes->addresses = [](char*, char*, char*, char*) { return 0; };
  probes->diskSerial = [](char*) {};
  probes->cpuId = [](char*) {};
  probes->biosSerial = [](char*) {};
  char out[256];
  int len = 0;
  int flags = 0;
  testing::CaptureStdout([&] { flags = ORVIK_GetRealSystemInfo(out, len); });
  EXPECT_EQ(flags & 0x30, 0x30);
}

}  // namespace
}  // namespace kolvex
