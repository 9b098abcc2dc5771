// The interface walk with arbitrary kernel answers: list sizes (also ones
// larger than the room given), hardware and IPv4 addresses, refusals.
#include <arpa/inet.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "kernel_calls.h"
#include "kolvex/kolvex.h"

namespace {

const uint8_t* g_data;
size_t g_size;
int g_open;

uint8_t Byte(size_t i) { return i < g_size ? g_data[i] : 0; }

int FuzzIoctl(int, unsigned long request, void* arg) {
  if (request == SIOCGIFCONF) {
    auto* list = static_cast<ifconf*>(arg);
    const int room = list->ifc_len / static_cast<int>(sizeof(ifreq));
    const int claimed = Byte(0) % 24;  // may claim more entries than the room
    const int n = claimed < room ? claimed : room;
    for (int i = 0; i < n; ++i) {
      std::memset(&list->ifc_req[i], 0, sizeof(ifreq));
      std::snprintf(list->ifc_req[i].ifr_name, IFNAMSIZ, "if%d", i);
    }
    list->ifc_len = claimed * static_cast<int>(sizeof(ifreq));
    return Byte(1) == 0xFF ? -1 : 0;
  }
  auto* req = static_cast<ifreq*>(arg);
  const int i = std::atoi(req->ifr_name + 2);
  const size_t at = 2 + static_cast<size_t>(i) * 11;  // 1 refusal + 6 hw + 4 ip bytes
  const uint8_t refusal = Byte(at);
  if (refusal == 1 && request == SIOCGIFFLAGS) return -1;
  if (refusal == 2 && request == SIOCGIFHWADDR) return -1;
  if (refusal == 3 && request == SIOCGIFADDR) return -1;
  if (request == SIOCGIFHWADDR)
    for (int b = 0; b < 6; ++b) req->ifr_hwaddr.sa_data[b] = static_cast<char>(Byte(at + 1 + b));
  if (request == SIOCGIFADDR) {
    auto* sin = reinterpret_cast<sockaddr_in*>(&req->ifr_addr);
    sin->sin_family = AF_INET;
    uint8_t ip[4] = {Byte(at + 7), Byte(at + 8), Byte(at + 9), Byte(at + 10)};
    std::memcpy(&sin->sin_addr, ip, 4);
  }
  return 0;
}

bool IsHexOrEmpty(const char* mac) {
  const size_t n = std::strlen(mac);
  if (n != 0 && n != 12) return false;
  for (size_t i = 0; i < n; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(mac[i])) ||
        std::isupper(static_cast<unsigned char>(mac[i])))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_data = data;
  g_size = size;
  kolvex::KernelCalls& kernel = kolvex::ActiveKernel();
  kernel.socket = [](int, int, int) { return ++g_open, 7; };
  kernel.close = [](int) { return --g_open, 0; };
  kernel.ioctl = FuzzIoctl;

  std::unique_ptr<char[]> mac1(new char[30]()), mac2(new char[30]()), ip1(new char[40]()),
      ip2(new char[40]());
  const int result = getLocalMacInfo(mac1.get(), mac2.get(), ip1.get(), ip2.get());
  KOLVEX_FUZZ_CHECK(result == 0 || result == -1);
  KOLVEX_FUZZ_CHECK(g_open == 0);
  KOLVEX_FUZZ_CHECK(strnlen(ip1.get(), 40) <= 15 && strnlen(ip2.get(), 40) <= 15);
  KOLVEX_FUZZ_CHECK(IsHexOrEmpty(mac1.get()) && IsHexOrEmpty(mac2.get()));
  KOLVEX_FUZZ_CHECK(std::strcmp(ip1.get(), "127.0.0.1") != 0 &&
                    std::strcmp(ip1.get(), "0.0.0.0") != 0);
  KOLVEX_FUZZ_CHECK(std::strcmp(mac1.get(), "000000000000") != 0);
  KOLVEX_FUZZ_CHECK(mac2[0] == '\0' || mac1[0] != '\0');
  return 0;
}
