// Progress-log stamps: timeStick and its refresh.
#pragma once

#include <sys/time.h>

#include <ctime>
#include <string>

#include "kolvex/kolvex.h"

namespace kolvex {

// The clocks a collection reads. Production uses the C library; tests put
// fixed or failing clocks in their place.
struct Clock {
  std::time_t (*now)();
  bool (*toLocal)(std::time_t t, std::tm* out);  // false when there is no local time
  int (*microClock)(timeval* tv);                // gettimeofday without a zone
};

Clock& ActiveClock();

// The local time now through the active clock; false when there is none.
bool ReadLocalTimeNow(std::tm* local);
const Clock& SystemClock();

// "HH:MM:SS:" from the broken-down time, then the microseconds in plain
// decimal without padding (42 gives "...:42").
std::string FormatStamp(const std::tm& local, long microseconds);

// The progress-log line "%s - %s\n": refreshes g_sys, then prints.
void LogProgress(const char* message);

}  // namespace kolvex
