// kolvex.dll's side of the C interface: the program's run on this machine
// and the local time the status header is read from. Everything else, the
// quiet output and the explanation included, is common/c_interface.
//
// The tools' standard error needs no switch here: the runner takes wmic's
// standard error through the same pipe as its output, never to the caller's,
// and an error report there is what sends a query on to WMI. Sent to NUL,
// such a report would leave the item empty where the program has a value.
#include "WindowsKolvex.h"
#include "c_interface.h"
#include "terminal_record.h"

namespace kolvex {

namespace {

static_assert(kRecordBufferSize >= kWindowsOutSize,
              "the C interface's buffer holds a Windows record");

int CollectOnWindows(char* record, int& length) { return GetWindowsSystemInfo(record, &length); }

bool ReadLocalTime(std::tm* local) { return NativeWindowsSystem().calendarTime(local); }

}  // namespace

const CInterfacePlatform kCInterfacePlatform{&kWindowsRecordRules, CollectOnWindows, ReadLocalTime};

}  // namespace kolvex
