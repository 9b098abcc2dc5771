#include "define.h"

#include <cstdio>
#include <iomanip>
#include <locale>
#include <mutex>
#include <sstream>

#include "collection_run.h"
#include "run_output.h"

namespace kolvex {

namespace {

std::time_t SystemNow() { return std::time(nullptr); }
// localtime_r reads the zone setting only once per process; a client that
// changes TZ between two collections must see the new zone's hour, so every
// reading re-reads it first.
bool SystemToLocal(std::time_t t, std::tm* out) {
  // tzset rewrites the C library's zone state under a lock of its own that
  // the thread sanitizer cannot see and that a fork would leave taken in the
  // child; our readings take turns in the open.
  std::lock_guard<std::mutex> hold(LibraryCallLock());
  tzset();
  return localtime_r(&t, out) != nullptr;
}
int SystemMicroClock(timeval* tv) { return gettimeofday(tv, nullptr); }

constexpr Clock kSystemClock{SystemNow, SystemToLocal, SystemMicroClock};
Clock g_clock = kSystemClock;

}  // namespace

Clock& ActiveClock() { return g_clock; }

bool ReadLocalTimeNow(std::tm* local) {
  const Clock& clock = ActiveClock();
  return clock.toLocal(clock.now(), local);
}
const Clock& SystemClock() { return kSystemClock; }

std::string FormatStamp(const std::tm& local, long microseconds) {
  char head[21] = {0};
  std::strftime(head, sizeof head, "%H:%M:%S:", &local);
  // Written right-aligned at width 9 and read back as one word: the padding
  // blanks fall away and the digits stay unpadded, as receivers of the log
  // have always seen them.
  std::stringstream digits;
  digits.imbue(std::locale::classic());
  digits << std::setw(9) << microseconds;
  std::string tail;
  digits >> tail;
  return head + tail;
}

void LogProgress(const char* message) {
  GetFormatTickCount(g_sys);
  RunPrintf("%s - %s\n", g_sys.strTime.c_str(), message);
}

}  // namespace kolvex

void GetFormatTickCount(timeStick& stick) {
  const kolvex::Clock& clock = kolvex::ActiveClock();
  std::tm local{};
  // Without a local time there is nothing to build the stamp from; treat it
  // like a failed microsecond reading and keep the previous stamp.
  if (!clock.toLocal(clock.now(), &local)) return;
  timeval tv{};
  if (clock.microClock(&tv) != 0) return;
  // A stamp never outgrows the string's inline buffer, so this does not
  // allocate; should it ever fail to, the line keeps the previous stamp
  // rather than letting an exception out into the caller's program.
  try {
    // The stream's global locale takes a lock of the C++ library.
    std::lock_guard<std::mutex> hold(kolvex::LibraryCallLock());
    stick.strTime = kolvex::FormatStamp(local, static_cast<long>(tv.tv_usec));
  } catch (...) {
  }
}
