// One collection run, the same on both platforms: announce every step in the
// progress log, let the platform's probes fill the zero-filled item buffers,
// normalise and append every item, print the summary, hand the record over
// and report the missing items.
#pragma once

#include <mutex>

#include "terminal_record.h"

namespace kolvex {

// Start and end message of each step; the platforms word some of them
// differently.
struct StepMessages {
  const char* collectStart;
  const char* typeStart;
  const char* typeDone;
  const char* timeStart;
  const char* timeDone;
  const char* addressStart;
  const char* addressDone;
  const char* deviceStart;
  const char* deviceDone;
  const char* diskStart;
  const char* diskDone;
  const char* cpuStart;
  const char* cpuDone;
  const char* biosStart;
  const char* biosDone;
  const char* systemDiskStart;  // Windows only
  const char* systemDiskDone;   // Windows only
};

extern const StepMessages kLinuxStepMessages;
extern const StepMessages kWindowsStepMessages;

// The platform side of a run. Probes write only into the buffers they are
// given; their results are not looked at, the buffers speak for them.
struct CollectorPlatform {
  const RecordRules* rules;
  const StepMessages* messages;
  void (*logLine)(const char* message);  // refreshes the stamp, prints one line
  void (*collectTime)(char* buf);
  void (*addresses)(char* mac1, char* mac2, char* ip1, char* ip2);
  void (*deviceAndVersion)(char* name, char* version);
  void (*diskSerial)(char* serial);
  void (*cpuId)(char* id);
  void (*biosSerial)(char* serial);
  void (*systemDisk)(char* description);  // only when the rules carry the system disk
};

// Runs every step in order; out receives the record and its NUL
// (length + 1 bytes), len its length. Returns the missing-item flags.
int RunCollection(const CollectorPlatform& platform, char* out, int& len);

// Held by every collection: the progress-log stamp, the run's output and
// the C library's shared state are process-wide, so collections of one
// process take turns. A child forked meanwhile starts with a fresh one: the
// thread holding it there is not in the child.
std::recursive_mutex& CollectionLock();

// Held around the calls into the C and C++ libraries that take a
// process-wide lock of their own, and only for those calls: the time zone's
// (tzset, localtime_r), the locale's (newlocale, strerror_l, freelocale), a
// stream's global locale. A fork waits until it is free, so that no child
// starts with one of those locks held by a thread it does not have.
std::mutex& LibraryCallLock();

}  // namespace kolvex
