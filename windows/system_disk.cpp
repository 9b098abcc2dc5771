#include "system_disk.h"

#include <cstdio>
#include <cstring>

#include "trace.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kolvex {

bool SystemDriveOf(const char* directory, char drive[3], char root[4]) {
  if (strnlen(directory, 4) < 4) return false;
  drive[0] = directory[0];
  drive[1] = directory[1];
  drive[2] = '\0';
  std::memcpy(root, directory, 3);
  root[3] = '\0';
  return true;
}

void FormatSystemDisk(char driveLetter, const VolumeAnswers& volume, char* out, int outSize) {
  if (outSize <= 0) return;
  char serial[64] = {};
  if (volume.serialKnown) std::snprintf(serial, sizeof serial, "%X", volume.serial);
  const int gib = volume.sizeKnown ? static_cast<int>(volume.totalBytes >> 30) : 0;
  const int nameLength = static_cast<int>(strnlen(volume.fileSystem, sizeof volume.fileSystem));
  std::snprintf(out, static_cast<size_t>(outSize), "%c,%s,%.*s,%d", driveLetter, serial, nameLength,
                volume.fileSystem, gib);
}

}  // namespace kolvex

#if defined(_WIN32)

void GetSystemDiskInfo(char* out) {
  char directory[kolvex::kSystemDirectorySize];
  std::memset(directory, 0, sizeof directory);
  GetSystemDirectoryA(directory, kolvex::kSystemDirectorySize);
  char drive[3];
  char root[4];
  if (!kolvex::SystemDriveOf(directory, drive, root)) {
    KOLVEX_TRACE(kSystemDisk, false, "system directory %s: no drive in it",
                 kolvex::Quote(directory).text);
    return;
  }

  kolvex::VolumeAnswers volume;
  std::memset(&volume, 0, sizeof volume);
  ULARGE_INTEGER available;
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
  if (GetDiskFreeSpaceExA(drive, &available, &total, &totalFree)) {
    volume.sizeKnown = true;
    volume.totalBytes = total.QuadPart;
  } else {
    KOLVEX_TRACE(kSystemDisk, false, "GetDiskFreeSpaceExA %s: error %lu (size 0)", drive,
                 GetLastError());
  }
  DWORD serial = 0;
  if (GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    volume.serialKnown = true;
    volume.serial = serial;
  } else {
    KOLVEX_TRACE(kSystemDisk, false, "GetVolumeInformationA %s serial: error %lu (left empty)",
                 root, GetLastError());
  }
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, volume.fileSystem,
                             sizeof volume.fileSystem))
    volume.fileSystem[0] = '\0';
  kolvex::FormatSystemDisk(drive[0], volume, out, kolvex::kSystemDiskSize);
  KOLVEX_TRACE(kSystemDisk, true, "volume of %s: %s", root, kolvex::Quote(out).text);
}

#endif
