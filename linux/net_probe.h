// Selection rules of the network identity probe.
#pragma once

namespace kolvex {

// Room the probe gives the interface list: 16 entries of 40 bytes.
constexpr int kInterfaceSlots = 16;

// "%02x" of the first six hardware address bytes: 12 lower-case hex digits.
void FormatMacText(const unsigned char hw[6], char text[16]);

// An entry is taken unless its IP text is exactly "0.0.0.0" or "127.0.0.1",
// or its MAC text exactly "000000000000".
bool IsUsableInterface(const char* macText, const char* ipText);

// Why an entry is not taken, in words; null when it is usable.
const char* ExclusionReason(const char* macText, const char* ipText);

}  // namespace kolvex
