// The Windows collection run: the shared run of common/ with the Windows
// record rules, progress-log clock, collection time and probes.
#pragma once

#include <ctime>

namespace kolvex {

// A record of at most 213 characters and its NUL.
constexpr int kWindowsOutSize = 214;

// The progress-log clock, field for field as GetLocalTime fills it.
struct LogClock {
  unsigned short year;
  unsigned short month;
  unsigned short dayOfWeek;
  unsigned short day;
  unsigned short hour;
  unsigned short minute;
  unsigned short second;
  unsigned short milliseconds;
};

// Refreshed before every progress-log line; the only state a run leaves.
extern LogClock g_logClock;

// What a Windows run asks of the system. The program uses the real one
// (NativeWindowsSystem); tests put recorded answers in its place.
struct WindowsSystem {
  void (*localTime)(LogClock* clock);
  bool (*calendarTime)(std::tm* local);  // false when there is no local time
  int (*adapterMacAndIp)(char* mac1, char* mac2, char* ip1, char* ip2);
  int (*deviceNameAndOsVersion)(char* name, char* version);
  void (*diskSerial)(char* serial);
  void (*cpuSerial)(char* id);
  void (*biosSerial)(char* serial);
  void (*systemDiskInfo)(char* description);
};

// One collection with the given system: 17 progress-log lines, the
// summary, the record into out (at least kWindowsOutSize bytes; nothing is
// written past the record's NUL) and its length into *len. Returns the
// missing-item flags. One run at a time per process.
int RunWindowsCollection(const WindowsSystem& system, char* out, int* len);

#if defined(_WIN32)
const WindowsSystem& NativeWindowsSystem();
#endif

}  // namespace kolvex

#if defined(_WIN32)
// The run on this machine; out must hold at least kWindowsOutSize bytes.
int GetWindowsSystemInfo(char* out, int* len);
#endif
