// Description of the drive that holds the system directory:
// drive letter, volume serial, file-system name, total size in GiB.
#pragma once

#include <cstdint>

namespace kolvex {

constexpr int kSystemDirectorySize = 260;
constexpr int kSystemDiskSize = 25;  // the run's item buffer

// The drive and root texts of a system directory ("C:" and "C:\").
// False for a directory shorter than four characters (a failed query too).
bool SystemDriveOf(const char* directory, char drive[3], char root[4]);

// What the volume queries answered.
struct VolumeAnswers {
  bool sizeKnown;
  std::uint64_t totalBytes;
  bool serialKnown;
  std::uint32_t serial;
  char fileSystem[16];  // NUL-terminated; empty when unknown
};

// "%s,%s,%s,%d": drive letter, serial in "%X", file-system name, whole GiB
// (0 when the size is unknown). An unknown serial leaves its field empty.
// Never writes more than outSize bytes, NUL included; the run keeps 24
// characters of the item anyway, so a longer text loses only what the run
// would have cut.
void FormatSystemDisk(char driveLetter, const VolumeAnswers& volume, char* out, int outSize);

}  // namespace kolvex

#if defined(_WIN32)
// Writes the description into the caller's zero-filled 25-byte buffer.
void GetSystemDiskInfo(char* out);
#endif
