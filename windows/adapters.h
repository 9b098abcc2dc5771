// MAC and IPv4 address of the first two network adapters that have an
// address.
#pragma once

#include <cstddef>

namespace kolvex {

constexpr unsigned kFirstAdapterBlock = 704;  // one adapter entry (x64: exactly)
constexpr int kMostAdaptersLooked = 16;
constexpr int kHardwareAddressBytes = 8;  // room in an adapter entry
constexpr int kMacTextSize = 32;

// The fields of one adapter entry that the walk reads.
struct AdapterAnswer {
  unsigned addressLength;
  unsigned char address[kHardwareAddressBytes];
  char ipAddress[16];  // dotted text of the first IPv4 address
};

// Walks the list in order: at most kMostAdaptersLooked entries, those with
// the address "0.0.0.0" skipped, the first taken into mac1/ip1 and the
// second into mac2/ip2. MAC text is "%02X" per address byte, at most
// kHardwareAddressBytes bytes even if an entry claims more.
void PickAdapters(const AdapterAnswer* list, std::size_t count, char* mac1, char* mac2, char* ip1,
                  char* ip2);

}  // namespace kolvex

#if defined(_WIN32)
// 0 when the adapter list was read (whether or not an adapter qualified),
// 1 when no heap block could be had, -1 when the list cannot be read.
// The buffers: mac 30 bytes, ip 40 bytes, all zero-filled by the caller.
int GetAdapterMacAndIp(char* mac1, char* mac2, char* ip1, char* ip2);
#endif
