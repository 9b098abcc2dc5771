#include "WindowsKolvex.h"

#include <cstdio>

#include "collection_run.h"
#include "run_output.h"
#include "terminal_record.h"
#include "trace.h"

#if defined(_WIN32)
#include <windows.h>

#include <time.h>

#include "adapters.h"
#include "system_disk.h"
#include "wmic_probes.h"
#include "workstation.h"
#endif

namespace kolvex {

LogClock g_logClock;

namespace {

// The system of the run under way; the platform record of common/ takes
// plain function pointers.
const WindowsSystem* g_runSystem = nullptr;

void LogLine(const char* message) {
  g_runSystem->localTime(&g_logClock);
  RunPrintf("%02d:%02d:%02d.%03d - %s\n", g_logClock.hour, g_logClock.minute, g_logClock.second,
            g_logClock.milliseconds, message);
}

void CollectTime(char* buf) {
  std::tm local{};
  if (!g_runSystem->calendarTime(&local)) {
    KOLVEX_TRACE(kCollectTime, false, "local time: none to be had");
    return;
  }
  FormatCollectionTime(local, buf);
  KOLVEX_TRACE(kCollectTime, true, "local time: %s", Quote(buf).text);
}

}  // namespace

int RunWindowsCollection(const WindowsSystem& system, char* out, int* len) {
  g_runSystem = &system;
  CollectorPlatform platform{};
  platform.rules = &kWindowsRecordRules;
  platform.messages = &kWindowsStepMessages;
  platform.logLine = LogLine;
  platform.collectTime = CollectTime;
  platform.addresses = [](char* mac1, char* mac2, char* ip1, char* ip2) {
    g_runSystem->adapterMacAndIp(mac1, mac2, ip1, ip2);
  };
  platform.deviceAndVersion = [](char* name, char* version) {
    g_runSystem->deviceNameAndOsVersion(name, version);
  };
  platform.diskSerial = [](char* serial) { g_runSystem->diskSerial(serial); };
  platform.cpuId = [](char* id) { g_runSystem->cpuSerial(id); };
  platform.biosSerial = [](char* serial) { g_runSystem->biosSerial(serial); };
  platform.systemDisk = [](char* description) { g_runSystem->systemDiskInfo(description); };

  const int flags = RunCollection(platform, out, *len);
  g_runSystem = nullptr;
  return flags;
}

#if defined(_WIN32)

namespace {

void NativeLocalTime(LogClock* clock) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  clock->year = now.wYear;
  clock->month = now.wMonth;
  clock->dayOfWeek = now.wDayOfWeek;
  clock->day = now.wDay;
  clock->hour = now.wHour;
  clock->minute = now.wMinute;
  clock->second = now.wSecond;
  clock->milliseconds = now.wMilliseconds;
}

bool NativeCalendarTime(std::tm* local) {
  // The C runtime reads TZ once; follow a zone changed since.
  _tzset();
  const __time64_t now = _time64(nullptr);
  const struct tm* broken = _localtime64(&now);
  if (broken == nullptr) return false;
  *local = *broken;
  return true;
}

const WindowsSystem kNativeSystem = {
    NativeLocalTime,     NativeCalendarTime, GetAdapterMacAndIp, GetDeviceNameAndOsVersion,
    GetDiskSerialByWmic, GetCpuSerial,       GetBIOSSerial,      GetSystemDiskInfo,
};

}  // namespace

const WindowsSystem& NativeWindowsSystem() { return kNativeSystem; }

#endif

}  // namespace kolvex

#if defined(_WIN32)
int GetWindowsSystemInfo(char* out, int* len) {
  return kolvex::RunWindowsCollection(kolvex::NativeWindowsSystem(), out, len);
}
#endif
