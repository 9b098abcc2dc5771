// The network probe's rules and failure paths, with the kernel's answers
// scripted.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kolvex/kolvex.h"
#include "net_probe.h"
#include "run_output.h"
#include "test_support.h"

namespace kolvex {
namespace {

TEST(IsUsableInterface, WholeStringExclusions) {
  const struct {
    const char* mac;
    const char* ip;
    bool usable;
  } cases[] = {
      {"5254001a2b3c", "192.168.1.23", true}, {"5254001a2b3c", "0.0.0.0", false},
      {"5254001a2b3c", "127.0.0.1", false},   {"000000000000", "10.9.9.9", false},
      {"5254001a2b3c", "127.0.0.2", true},    {"5254001a2b3c", "0.0.0.1", true},
      {"5254001a2b3c", "127.0.1.1", true},    {"000000000001", "10.9.9.9", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsUsableInterface(c.mac, c.ip), c.usable) << c.mac << " " << c.ip;
}

TEST(FormatMacText, TwelveLowerCaseDigits) {
  const unsigned char hw[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  char text[16];
  std::memset(text, '#', sizeof text);
  FormatMacText(hw, text);
  EXPECT_STREQ(text, "001a2b3c4d5e");
}

// A scripted interface list; an entry may refuse one of its requests.
struct Entry {
  const char* name;
  unsigned char hw[6];
  const char* ip;
  unsigned long refuses = 0;
  int hwLength = 6;  // an IPv4 tunnel's hardware address has 4 bytes
};
std::vector<Entry> g_entries;
bool g_socketFails, g_listFails;
int g_openSockets;

const Entry& Find(const char* name) {
  for (const Entry& e : g_entries)
    if (std::strcmp(e.name, name) == 0) return e;
  throw std::runtime_error(name);
}

int FakeIoctl(int, unsigned long request, void* arg) {
  if (request == SIOCGIFCONF) {
    if (g_listFails) {
      errno = EINVAL;
      return -1;
    }
    auto* list = static_cast<ifconf*>(arg);
    const int room = list->ifc_len / static_cast<int>(sizeof(ifreq));
    int n = 0;
    for (; n < room && n < static_cast<int>(g_entries.size()); ++n) {
      std::memset(&list->ifc_req[n], 0, sizeof(ifreq));
      std::strcpy(list->ifc_req[n].ifr_name, g_entries[n].name);
      // As the kernel does, the list entry carries the IPv4 address.
      auto* sin = reinterpret_cast<sockaddr_in*>(&list->ifc_req[n].ifr_addr);
      sin->sin_family = AF_INET;
      inet_pton(AF_INET, g_entries[n].ip, &sin->sin_addr);
    }
    list->ifc_len = n * static_cast<int>(sizeof(ifreq));
    return 0;
  }
  auto* req = static_cast<ifreq*>(arg);
  const Entry& e = Find(req->ifr_name);
  if (e.refuses == request) return -1;
  if (request == SIOCGIFHWADDR)
    std::memcpy(req->ifr_hwaddr.sa_data, e.hw, static_cast<size_t>(e.hwLength));
  if (request == SIOCGIFADDR) {
    auto* sin = reinterpret_cast<sockaddr_in*>(&req->ifr_addr);
    sin->sin_family = AF_INET;
    inet_pton(AF_INET, e.ip, &sin->sin_addr);
  }
  return 0;
}

class NetProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    g_entries.clear();
    g_socketFails = g_listFails = false;
    g_openSockets = 0;
    kernel_->socket = [](int, int, int) {
      if (g_socketFails) {
        errno = EMFILE;
        return -1;
      }
      ++g_openSockets;
      return 42;
    };
    kernel_->close = [](int) {
      --g_openSockets;
      return 0;
    };
    kernel_->ioctl = FakeIoctl;
  }
  void TearDown() override { EXPECT_EQ(g_openSockets, 0) << "socket left open"; }

  int Probe() {
    std::memset(mac1, 0, sizeof mac1);
    std::memset(mac2, 0, sizeof mac2);
    std::memset(ip1, 0, sizeof ip1);
    std::memset(ip2, 0, sizeof ip2);
    int result = 0;
    stdout_ = testing::CaptureStdout([&] { result = getLocalMacInfo(mac1, mac2, ip1, ip2); });
    return result;
  }

  char mac1[30], mac2[30], ip1[40], ip2[40];
  std::string stdout_;
  testing::ScopedKernel kernel_{ActiveKernel()};
};

TEST_F(NetProbe, FailureOnTheNextEntryKeepsTheFirst) {
  g_entries = {{"eth0", {2, 0, 0, 0, 0, 1}, "10.0.0.1", SIOCGIFADDR},
               {"eth1", {2, 0, 0, 0, 0, 2}, "10.0.0.2"}};
  EXPECT_EQ(Probe(), -1);
  EXPECT_STREQ(mac1, "020000000002");
  EXPECT_STREQ(ip1, "10.0.0.2");
  EXPECT_STREQ(mac2, "");
  EXPECT_STREQ(ip2, "");
}

TEST_F(NetProbe, TunnelWithShortZeroHardwareAddressIsSkipped) {
  // tunl0 answers 4 zero bytes; the address bytes of its list entry must not
  // show through in the last two.
  g_entries = {{"eth0", {0x52, 0x54, 0, 0, 0, 0xa2}, "192.168.50.12"},
               {"tunl0", {0, 0, 0, 0, 0, 0}, "10.99.3.7", 0, 4}};
  EXPECT_EQ(Probe(), 0);
  EXPECT_STREQ(mac1, "5254000000a2");
  EXPECT_STREQ(ip1, "192.168.50.12");
  EXPECT_STREQ(mac2, "");
}

TEST_F(NetProbe, AnyRefusedRequestEndsTheWalk) {
  for (unsigned long request : {SIOCGIFFLAGS, SIOCGIFHWADDR, SIOCGIFADDR}) {
    g_entries = {{"eth0", {2, 0, 0, 0, 0, 1}, "10.0.0.1", request}};
    EXPECT_EQ(Probe(), -1) << request;
    EXPECT_STREQ(mac1, "");
  }
}

TEST_F(NetProbe, SocketFailureIsReportedWithPerror) {
  g_socketFails = true;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Probe(), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("socket: ", 0), 0u);
}

TEST_F(NetProbe, UnderNoOutputFailuresPrintNothing) {
  ScopedRunOutput quiet(kNoOutput);  // as the C interface runs
  g_socketFails = true;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Probe(), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  g_socketFails = false;
  g_listFails = true;
  EXPECT_EQ(Probe(), -1);
  EXPECT_EQ(stdout_, "");
}

TEST_F(NetProbe, AnotherThreadsQuietRunLeavesThisOnePrinting) {
  ScopedRunOutput quiet(kNoOutput);
  g_socketFails = true;
  ::testing::internal::CaptureStderr();
  std::thread([this] { EXPECT_EQ(Probe(), -1); }).join();
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("socket: ", 0), 0u);
}

TEST_F(NetProbe, ListFailureIsReportedOnStandardOutput) {
  g_listFails = true;
  EXPECT_EQ(Probe(), -1);
  EXPECT_EQ(stdout_.rfind("ioctl: Invalid argument [", 0), 0u) << stdout_;
  EXPECT_NE(stdout_.find("net_probe.cpp:"), std::string::npos) << stdout_;
  EXPECT_EQ(stdout_.back(), '\n');
}

TEST_F(NetProbe, OutputsCarryNoTerminatorOfTheirOwn) {
  g_entries = {{"eth0", {0x52, 0x54, 0, 0x1a, 0x2b, 0x3c}, "192.168.1.23"}};
  char m1[30], m2[30], i1[40], i2[40];
  std::memset(m1, 'x', sizeof m1);
  std::memset(m2, 'x', sizeof m2);
  std::memset(i1, 'x', sizeof i1);
  std::memset(i2, 'x', sizeof i2);
  EXPECT_EQ(getLocalMacInfo(m1, m2, i1, i2), 0);
  EXPECT_EQ(std::string(m1, 13), "5254001a2b3cx");
  EXPECT_EQ(std::string(i1, 13), "192.168.1.23x");
  EXPECT_EQ(m2[0], 'x');
}

}  // namespace
}  // namespace kolvex
