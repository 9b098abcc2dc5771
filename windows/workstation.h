// Computer name and operating-system version from the workstation
// information.
#pragma once

namespace kolvex {

constexpr int kComputerNameTextSize = 60;  // UTF-8 text of the computer name
constexpr int kDeviceNameSize = 61;        // the run's item buffers
constexpr int kOsVersionSize = 20;

// Copies the converted name (a kComputerNameTextSize-byte text, cut at its
// last byte, or before a UTF-8 character that cut would split) into name and prints "%d.%d" into
// version, bounded by its kOsVersionSize bytes.
void FormatWorkstation(char* nameText, unsigned major, unsigned minor, char* name, char* version);

}  // namespace kolvex

#if defined(_WIN32)
// 0 on success, -1 when the workstation information cannot be read (both
// buffers untouched).
int GetDeviceNameAndOsVersion(char* name, char* version);
#endif
