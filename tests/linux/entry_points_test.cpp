// The collecting entry points: status header, length, what they leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "LinuxKolvex.h"
#include "status_header.h"
#include "test_support.h"

namespace kolvex {
namespace {

using testing::CaptureStdout;

bool g_complete = true;

void Fill(char* b, const char* text) { std::memcpy(b, text, std::strlen(text)); }

const LinuxProbes kProbes{
    [](char* b) { Fill(b, "2026-01-31 23:59:58"); },
    [](char* mac1, char*, char* ip1, char*) {
      Fill(mac1, "5254001a2b3c");
      Fill(ip1, "192.168.1.23");
      return 0;
    },
    [](char* n, char* v) {
      Fill(n, "host");
      Fill(v, "6.1.0");
    },
    [](char* b) { Fill(b, "DISK"); },
    [](char* b) { Fill(b, "CPU"); },
    [](char* b) { Fill(b, g_complete ? "BIOS" : ""); },
};

std::tm g_now;
const Clock kFixedClock{
    [] { return std::time_t{0}; },
    [](std::time_t, std::tm* out) {
      *out = g_now;
      return true;
    },
    [](timeval* tv) {
      tv->tv_sec = 0;
      tv->tv_usec = 1;
      return 0;
    },
};

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    *probes_ = kProbes;
    *clock_ = kFixedClock;
    g_complete = true;
    g_now = std::tm{};
    g_now.tm_year = 126;  // 2026
    g_now.tm_mon = 0;     // January
    g_now.tm_mday = 31;
    g_now.tm_hour = 23;
    g_now.tm_min = 59;
    g_now.tm_sec = 60;
  }
  testing::ScopedProbes probes_{ActiveProbes()};
  testing::ScopedClock clock_{ActiveClock()};
};

TEST_F(EntryPoints, GetSystemInfoWritesHeaderAndT) {
  for (bool complete : {true, false}) {
    g_complete = complete;
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    int len = -1;
    int flags = -1;
    const std::string shown =
        CaptureStdout([&] { flags = ORVIK_GetSystemInfo(reinterpret_cast<char*>(out), len); });
    EXPECT_EQ(flags, complete ? 0 : 0x100);
    EXPECT_EQ(len, 9);
    const unsigned char expected[9] = {1, static_cast<unsigned char>(complete ? '0' : '3'),
                                       26, 1, 31, 23, 59, 60, 'T'};
    EXPECT_EQ(0, std::memcmp(out, expected, 9));
    EXPECT_EQ(out[9], 0xEE) << "nothing past byte 8";
    const std::string record = complete ? "2@2026-01-31 23:59:58@192.168.1.23@@5254001a2b3c@@host@6.1.0@DISK@CPU@BIOS"
                                        : "2@2026-01-31 23:59:58@192.168.1.23@@5254001a2b3c@@host@6.1.0@DISK@CPU@";
    EXPECT_NE(shown.find("\n\n client data : " + record + "\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - record.size() - 17), "\n client data : " + record + "\n");
  }
}

TEST_F(EntryPoints, UnAesEncodeWritesEightBytes) {
  g_complete = false;
  unsigned char out[16];
  std::memset(out, 0xEE, sizeof out);
  int len = -1;
  int flags = 0;
  CaptureStdout([&] { flags = ORVIK_GetSystemInfoUnAesEncode(reinterpret_cast<char*>(out), len); });
  EXPECT_EQ(flags, 0x100);
  EXPECT_EQ(len, 8);
  const unsigned char expected[8] = {1, '3', 26, 1, 31, 23, 59, 60};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
  EXPECT_EQ(out[8], 0xEE);
}

TEST_F(EntryPoints, StatusIsZeroOnlyWithoutFlags) {
  const struct {
    int flags;
    char status;
  } cases[] = {{0, '0'}, {0x100, '3'}, {0x1FC, '3'}, {0x2, '3'}};
  for (const auto& c : cases) {
    unsigned char header[kStatusHeaderSize];
    BuildStatusHeader(c.flags, g_now, header);
    EXPECT_EQ(header[1], c.status) << c.flags;
  }
}

TEST(EntryPointsClock, DateBytesComeFromTheLocalTimeAroundTheCall) {
  testing::ScopedProbes probes(ActiveProbes());
  probes->addresses = [](char*, char*, char*, char*) { return 0; };
  probes->diskSerial = [](char*) {};
  probes->cpuId = [](char*) {};
  probes->biosSerial = [](char*) {};
  std::time_t before = std::time(nullptr);
  char out[9];
  int len = 0;
  CaptureStdout([&] { ORVIK_GetSystemInfoUnAesEncode(out, len); });
  std::time_t after = std::time(nullptr);
  bool matched = false;
  for (std::time_t t = before; t <= after && !matched; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    const unsigned char expected[6] = {
        static_cast<unsigned char>(local.tm_year - 100), static_cast<unsigned char>(local.tm_mon + 1),
        static_cast<unsigned char>(local.tm_mday),       static_cast<unsigned char>(local.tm_hour),
        static_cast<unsigned char>(local.tm_min),        static_cast<unsigned char>(local.tm_sec)};
    matched = std::memcmp(out + 2, expected, 6) == 0;
  }
  EXPECT_TRUE(matched);
  EXPECT_EQ(out[0], 1);
}

TEST(ApiVersion, ConstantTextAtOneAddress) {
  const char* first = ORVIK_GetKolvexApiVersion();
  EXPECT_STREQ(first, "pelm_tst_1.0_20230419_4066");
  EXPECT_EQ(ORVIK_GetKolvexApiVersion(), first);
}

}  // namespace
}  // namespace kolvex
