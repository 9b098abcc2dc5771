#include "adapters.h"

#include <cstdio>
#include <cstring>

#include "trace.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#endif

namespace kolvex {

namespace {

void CopyText(char* to, const char* from, std::size_t most) {
  const std::size_t n = strnlen(from, most);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

void PickAdapters(const AdapterAnswer* list, std::size_t count, char* mac1, char* mac2, char* ip1,
                  char* ip2) {
  bool firstTaken = false;
  int looked = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const AdapterAnswer& adapter = list[i];
    if (++looked > kMostAdaptersLooked) {
      KOLVEX_TRACE(kAddresses, false, "adapters past the %d-th: not looked at",
                   kMostAdaptersLooked);
      return;
    }
    if (std::strncmp(adapter.ipAddress, "0.0.0.0", sizeof adapter.ipAddress) == 0) {
      KOLVEX_TRACE(kAddresses, false, "adapter %d: skipped (no IPv4 address)", looked);
      continue;
    }

    char mac[kMacTextSize] = {};
    const unsigned bytes = adapter.addressLength < kHardwareAddressBytes ? adapter.addressLength
                                                                         : kHardwareAddressBytes;
    for (std::size_t b = 0; b < bytes; ++b)
      std::snprintf(mac + 2 * b, sizeof mac - 2 * b, "%02X", adapter.address[b]);

    KOLVEX_TRACE(kAddresses, true, "adapter %d %.*s %s: taken as address %d", looked,
                 static_cast<int>(strnlen(adapter.ipAddress, sizeof adapter.ipAddress)),
                 adapter.ipAddress, mac, firstTaken ? 2 : 1);
    if (!firstTaken) {
      CopyText(mac1, mac, sizeof mac);
      CopyText(ip1, adapter.ipAddress, sizeof adapter.ipAddress - 1);
      firstTaken = true;
    } else {
      CopyText(mac2, mac, sizeof mac);
      CopyText(ip2, adapter.ipAddress, sizeof adapter.ipAddress - 1);
      return;
    }
  }
}

}  // namespace kolvex

#if defined(_WIN32)

// 704 bytes are one x64 entry; an x86 entry is 640 bytes, so there the
// block has room to spare but still holds one entry and not two, and the
// run takes the same course on both.
static_assert(sizeof(IP_ADAPTER_INFO) <= kolvex::kFirstAdapterBlock &&
                  2 * sizeof(IP_ADAPTER_INFO) > kolvex::kFirstAdapterBlock,
              "the first block holds one adapter entry and not two");

int GetAdapterMacAndIp(char* mac1, char* mac2, char* ip1, char* ip2) {
  HANDLE heap = GetProcessHeap();
  ULONG size = kolvex::kFirstAdapterBlock;
  void* block = HeapAlloc(heap, 0, size);
  if (block == nullptr) {
    KOLVEX_TRACE(kAddresses, false, "GetAdaptersInfo: no memory for the first block");
    return 1;
  }
  if (GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(block), &size) == ERROR_BUFFER_OVERFLOW) {
    HeapFree(heap, 0, block);
    block = HeapAlloc(heap, 0, size);
    if (block == nullptr) {
      KOLVEX_TRACE(kAddresses, false, "GetAdaptersInfo: no memory for %lu bytes", size);
      return 1;
    }
  }
  // Only this second answer counts.
  const DWORD listed = GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(block), &size);
  if (listed != ERROR_SUCCESS) {
    KOLVEX_TRACE(kAddresses, false, "GetAdaptersInfo: error %lu", listed);
    HeapFree(heap, 0, block);
    return -1;
  }

  // The walk looks at no more than kMostAdaptersLooked entries; one more
  // lets it see that the list goes on.
  kolvex::AdapterAnswer list[kolvex::kMostAdaptersLooked + 1];
  std::memset(list, 0, sizeof list);
  std::size_t count = 0;
  for (const IP_ADAPTER_INFO* entry = static_cast<const IP_ADAPTER_INFO*>(block);
       entry != nullptr && count < sizeof list / sizeof list[0]; entry = entry->Next) {
    kolvex::AdapterAnswer& answer = list[count++];
    answer.addressLength = entry->AddressLength;
    std::memcpy(answer.address, entry->Address, sizeof answer.address);
    std::memcpy(answer.ipAddress, entry->IpAddressList.IpAddress.String, sizeof answer.ipAddress);
    answer.ipAddress[sizeof answer.ipAddress - 1] = '\0';
  }
  HeapFree(heap, 0, block);
  kolvex::PickAdapters(list, count, mac1, mac2, ip1, ip2);
  return 0;
}

#endif
