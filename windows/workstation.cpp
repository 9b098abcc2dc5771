#include "workstation.h"

#include <cstdio>
#include <cstring>

#include "terminal_record.h"
#include "trace.h"

#if defined(_WIN32)
#include <windows.h>
#include <lm.h>
#endif

namespace kolvex {

void FormatWorkstation(char* nameText, unsigned major, unsigned minor, char* name, char* version) {
  nameText[CharacterCut(nameText, kComputerNameTextSize - 1)] = '\0';
  std::memcpy(name, nameText, std::strlen(nameText) + 1);
  // Two small numbers in practice; the bound keeps odd ones inside the item.
  std::snprintf(version, kOsVersionSize, "%d.%d", static_cast<int>(major), static_cast<int>(minor));
}

}  // namespace kolvex

#if defined(_WIN32)

int GetDeviceNameAndOsVersion(char* name, char* version) {
  LPBYTE block = nullptr;
  const NET_API_STATUS status = NetWkstaGetInfo(nullptr, 102, &block);
  if (status != NERR_Success) {
    KOLVEX_TRACE(kDeviceAndVersion, false, "NetWkstaGetInfo level 102: error %lu",
                 static_cast<unsigned long>(status));
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
  KOLVEX_TRACE(kDeviceAndVersion, name[0] != '\0', "NetWkstaGetInfo computer name: %s",
               kolvex::Quote(name).text);
  KOLVEX_TRACE(kDeviceAndVersion, true, "NetWkstaGetInfo version: %s", kolvex::Quote(version).text);
  NetApiBufferFree(block);
  return 0;
}

#endif
