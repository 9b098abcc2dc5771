#include "workstation.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <lm.h>
#endif

namespace kolvex {

void FormatWorkstation(char* nameText, unsigned major, unsigned minor, char* name,
                       char* version) {
  nameText[kComputerNameTextSize - 1] = '\0';
  std::memcpy(name, nameText, std::strlen(nameText) + 1);
  // Two small numbers in practice; the bound keeps odd ones inside the item.
  std::snprintf(version, kOsVersionSize, "%d.%d", static_cast<int>(major),
                static_cast<int>(minor));
}

}  // namespace kolvex

#if defined(_WIN32)

int GetDeviceNameAndOsVersion(char* name, char* version) {
  LPBYTE block = nullptr;
  if (NetWkstaGetInfo(nullptr, 102, &block) != NERR_Success) {
    if (block != nullptr) NetApiBufferFree(block);
    return -1;
  }
  const WKSTA_INFO_102* info = reinterpret_cast<const WKSTA_INFO_102*>(block);
  char nameText[kolvex::kComputerNameTextSize];
  std::memset(nameText, 0, sizeof nameText);
  WideCharToMultiByte(CP_UTF8, 0, info->wki102_computername, -1, nameText,
                      kolvex::kComputerNameTextSize, nullptr, nullptr);
  kolvex::FormatWorkstation(nameText, info->wki102_ver_major, info->wki102_ver_minor, name,
                            version);
  NetApiBufferFree(block);
  return 0;
}

#endif
