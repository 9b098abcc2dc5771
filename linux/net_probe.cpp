// getLocalMacInfo: MAC and IPv4 text of the first two usable interfaces,
// walking the kernel's interface address list from its last entry.
#include "net_probe.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kernel_calls.h"
#include "kolvex/kolvex.h"
#include "run_output.h"
#include "trace.h"

namespace kolvex {

namespace {

constexpr int kMacTextSize = 16;
constexpr int kIpTextSize = 32;

// The probe writes the text's characters only; the caller's zero fill ends
// them.
void CopyText(char* out, const char* text) {
  std::memcpy(out, text, std::strlen(text));  // NOLINT(bugprone-not-null-terminated-result)
}

}  // namespace

void FormatMacText(const unsigned char hw[6], char text[kMacTextSize]) {
  std::snprintf(text, kMacTextSize, "%02x%02x%02x%02x%02x%02x", hw[0], hw[1], hw[2], hw[3], hw[4],
                hw[5]);
}

const char* ExclusionReason(const char* macText, const char* ipText) {
  if (std::strcmp(ipText, "0.0.0.0") == 0) return "address 0.0.0.0";
  if (std::strcmp(ipText, "127.0.0.1") == 0) return "loopback address";
  if (std::strcmp(macText, "000000000000") == 0) return "no hardware address";
  return nullptr;
}

bool IsUsableInterface(const char* macText, const char* ipText) {
  return ExclusionReason(macText, ipText) == nullptr;
}

}  // namespace kolvex

int getLocalMacInfo(char* mac1, char* mac2, char* ip1, char* ip2) {
  using kolvex::ActiveKernel;
  char macText[kolvex::kMacTextSize];
  char ipText[kolvex::kIpTextSize];
  std::memset(macText, 0, sizeof macText);
  std::memset(ipText, 0, sizeof ipText);

  const int fd = ActiveKernel().socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) {
    KOLVEX_TRACE(kAddresses, false, "socket: %s", kolvex::DescribeError(errno).text);
    kolvex::RunPerror("socket");
    return -1;
  }
  kolvex::KernelDescriptor sock(fd);

  struct ifreq entries[kolvex::kInterfaceSlots];
  std::memset(entries, 0, sizeof entries);
  struct ifconf list;
  std::memset(&list, 0, sizeof list);
  list.ifc_len = sizeof entries;
  list.ifc_req = entries;
  if (ActiveKernel().ioctl(fd, SIOCGIFCONF, &list) != 0) {
    KOLVEX_TRACE(kAddresses, false, "interface list: %s", kolvex::DescribeError(errno).text);
    kolvex::RunPrintf("ioctl: %s [%s:%d]\n", std::strerror(errno), __FILE__, __LINE__);
    return -1;
  }
  int count = list.ifc_len / static_cast<int>(sizeof(struct ifreq));
  // The kernel never reports more than it was given room for; a stand-in
  // that did must not walk us off the array.
  if (count > kolvex::kInterfaceSlots) count = kolvex::kInterfaceSlots;
  KOLVEX_TRACE(kAddresses, false, "interface list: %d address entries, walked from the last",
               count);

  bool firstTaken = false;
  for (int i = count - 1; i >= 0; --i) {
    struct ifreq& entry = entries[i];
    // Any byte but '/', ':' and white space may stand in a name; the
    // explanation shows it quoted.
    char name[IFNAMSIZ + 1] = {0};
    std::memcpy(name, entry.ifr_name, IFNAMSIZ);
    struct ifreq flagsQuery = entry;
    if (ActiveKernel().ioctl(fd, SIOCGIFFLAGS, &flagsQuery) != 0) {
      KOLVEX_TRACE(kAddresses, false, "%s flags: %s; walk ended", kolvex::Quote(name).text,
                   kolvex::DescribeError(errno).text);
      return -1;
    }
    // Asked on a fresh request holding only the name: the kernel copies just
    // the device's address length (4 bytes for an IPv4 tunnel), and bytes it
    // does not write must read as zero, not as the entry's IPv4 address.
    struct ifreq hwQuery;
    std::memset(&hwQuery, 0, sizeof hwQuery);
    std::memcpy(hwQuery.ifr_name, entry.ifr_name, sizeof hwQuery.ifr_name);
    if (ActiveKernel().ioctl(fd, SIOCGIFHWADDR, &hwQuery) != 0) {
      KOLVEX_TRACE(kAddresses, false, "%s hardware address: %s; walk ended",
                   kolvex::Quote(name).text, kolvex::DescribeError(errno).text);
      return -1;
    }
    kolvex::FormatMacText(reinterpret_cast<const unsigned char*>(hwQuery.ifr_hwaddr.sa_data),
                          macText);
    // Asked by name alone: an interface with several unlabelled addresses
    // answers its primary one for each of its entries. A request still
    // carrying the entry's AF_INET address would be answered with that
    // address instead.
    struct ifreq addrQuery;
    std::memset(&addrQuery, 0, sizeof addrQuery);
    std::memcpy(addrQuery.ifr_name, entry.ifr_name, sizeof addrQuery.ifr_name);
    if (ActiveKernel().ioctl(fd, SIOCGIFADDR, &addrQuery) != 0) {
      KOLVEX_TRACE(kAddresses, false, "%s address: %s; walk ended", kolvex::Quote(name).text,
                   kolvex::DescribeError(errno).text);
      return -1;
    }
    const auto* addr = reinterpret_cast<const struct sockaddr_in*>(&addrQuery.ifr_addr);
    // Same dotted text as inet_ntoa, without its shared static buffer.
    inet_ntop(AF_INET, &addr->sin_addr, ipText, sizeof ipText);

    const char* excluded = kolvex::ExclusionReason(macText, ipText);
    if (excluded != nullptr)
      KOLVEX_TRACE(kAddresses, false, "%s %s %s: skipped (%s)", kolvex::Quote(name).text, ipText,
                   macText, excluded);
    else
      KOLVEX_TRACE(kAddresses, true, "%s %s %s: taken as address %d", kolvex::Quote(name).text,
                   ipText, macText, firstTaken ? 2 : 1);
    if (excluded == nullptr) {
      if (!firstTaken) {
        kolvex::CopyText(mac1, macText);
        kolvex::CopyText(ip1, ipText);
        firstTaken = true;
      } else {
        kolvex::CopyText(mac2, macText);
        kolvex::CopyText(ip2, ipText);
        return 0;
      }
    }
    std::memset(macText, 0, sizeof macText);
    std::memset(ipText, 0, sizeof ipText);
  }
  return 0;
}
