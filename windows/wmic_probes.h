// Disk serial, CPU ID and BIOS serial: asked of WMI in this process first,
// from the wmic tool only where WMI cannot answer.
#pragma once

#include "trace.h"

namespace kolvex {

// One query: the wmic command line, the WMI statement and property that
// read the same value (and their name, CLASS.PROPERTY), and the most
// characters the item takes.
struct WmicQuery {
  const char* command;
  const wchar_t* wmiStatement;
  const wchar_t* wmiProperty;
  const char* wmiSource;
  int most;
};

extern const WmicQuery kDiskSerialQuery;
extern const WmicQuery kCpuIdQuery;
extern const WmicQuery kBiosSerialQuery;

// The value rules that wmic output and WMI answers share: copies text into
// out from its first byte and stops at a line feed, carriage return, blank,
// the end of the text, or after most characters. Writes no NUL (the
// caller's zero fill ends the value). Returns the characters copied.
int CopyFirstValue(const char* text, char* out, int most);

// wmic reports a failure on the same streams as a value ("ERROR:" and
// "Description = ..." lines, "Error: ..." under other hosts).
bool IsWmicErrorReport(const char* capture);

// What one wmic capture says.
enum class WmicReading {
  kValue,    // the header, then a value line
  kNothing,  // no text, or the header without a value
  kReport,   // anything else: an error report, in whatever language
};

// The wmic parse. wmic translates its error reports but never the
// property names, so a value is recognised by its header: the first
// non-blank line must be query's property name (case-blind). The value
// starts right after the first "\r\n" from there and is copied into out
// by CopyFirstValue; out stays untouched unless the answer is kValue.
WmicReading ParseWmicCapture(const char* capture, const WmicQuery& query, char* out);

// Tells the trace what became of one wmic query: not started, timed out,
// an error report (its description), a value, or none.
void ExplainWmic(Trace& trace, TraceStep step, const char* command, bool started, bool timedOut,
                 int timeoutMs, WmicReading reading, const char* capture, const char* value);

// ReadWmiValue's results beside 0 (a value) and -1 (COM, the connection or
// the query failed): WMI did not answer within the time it was given, or
// it answered without a value (no object, or the property empty).
constexpr int kWmiTimedOut = -2;
constexpr int kWmiNoValue = 1;

// The same for the WMI answer (result as ReadWmiValue returns it, waitedMs
// the time it was given); one that stands names wmic as not started.
void ExplainWmi(Trace& trace, TraceStep step, const WmicQuery& query, int result, int waitedMs,
                const char* value);

}  // namespace kolvex

#if defined(_WIN32)
// Each writes the value's characters into the caller's zero-filled buffer
// (50 bytes in the run) and no NUL; nothing found leaves it untouched.
// With the WMI reader built in, WMI answers first; wmic is started only
// where WMI failed or did not answer within the deadline.
void GetDiskSerialByWmic(char* out);
void GetCpuSerial(char* out);
void GetBIOSSerial(char* out);
#endif
