#include "wmic_probes.h"

#include <cstring>

#include "command_deadline.h"
#include "command_runner.h"

#if defined(_WIN32)
#include <windows.h>
#if KOLVEX_WMI_FALLBACK
#include "wmi_query.h"
#endif
#endif

namespace kolvex {

const WmicQuery kDiskSerialQuery = {"wmic diskdrive get serialnumber",
                                    L"SELECT SerialNumber FROM Win32_DiskDrive", L"SerialNumber",
                                    "Win32_DiskDrive.SerialNumber", 16};
const WmicQuery kCpuIdQuery = {"wmic CPU get ProcessorID",
                               L"SELECT ProcessorId FROM Win32_Processor", L"ProcessorId",
                               "Win32_Processor.ProcessorId", 16};
const WmicQuery kBiosSerialQuery = {"wmic bios get serialnumber",
                                    L"SELECT SerialNumber FROM Win32_BIOS", L"SerialNumber",
                                    "Win32_BIOS.SerialNumber", 10};

int CopyFirstValue(const char* text, char* out, int most) {
  int n = 0;
  while (n < most) {
    const char c = text[n];
    if (c == '\0' || c == '\n' || c == '\r' || c == ' ') break;
    out[n++] = c;
  }
  return n;
}

namespace {

// Case-blind: "ERROR:" from Windows, "Error:" from other implementations.
bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    const char a = (*text >= 'a' && *text <= 'z') ? static_cast<char>(*text - 'a' + 'A') : *text;
    if (a != *prefix) return false;
  }
  return true;
}

}  // namespace

bool IsWmicErrorReport(const char* capture) {
  for (const char* line = capture; *line != '\0';) {
    while (*line == ' ' || *line == '\t' || *line == '\r') ++line;
    if (StartsWithNoCase(line, "ERROR:") || StartsWithNoCase(line, "DESCRIPTION = ")) return true;
    const char* next = std::strchr(line, '\n');
    if (next == nullptr) break;
    line = next + 1;
  }
  return false;
}

namespace {

// The line at text names property, a wide literal of ASCII letters.
bool IsHeader(const char* text, const wchar_t* property) {
  for (; *property != L'\0'; ++text, ++property) {
    const char a = (*text >= 'a' && *text <= 'z') ? static_cast<char>(*text - 'a' + 'A') : *text;
    const wchar_t b =
        (*property >= L'a' && *property <= L'z') ? *property - L'a' + L'A' : *property;
    if (a == '\0' || static_cast<wchar_t>(static_cast<unsigned char>(a)) != b) return false;
  }
  return *text == '\0' || std::strchr(" \t\r\n", *text) != nullptr;
}

}  // namespace

WmicReading ParseWmicCapture(const char* capture, const WmicQuery& query, char* out) {
  const char* header = capture + std::strspn(capture, " \t\r\n");
  if (*header == '\0') return WmicReading::kNothing;
  if (!IsHeader(header, query.wmiProperty) || IsWmicErrorReport(capture))
    return WmicReading::kReport;
  const char* lineEnd = std::strstr(header, "\r\n");
  if (lineEnd == nullptr) return WmicReading::kNothing;
  return CopyFirstValue(lineEnd + 2, out, query.most) > 0 ? WmicReading::kValue
                                                          : WmicReading::kNothing;
}

namespace {

// The text of the report line that says what went wrong, up to its end.
QuotedValue ErrorText(const char* capture) {
  const char* at = std::strstr(capture, "Description = ");
  if (at != nullptr) at += 14;
  if (at == nullptr) {
    at = capture;
    while (*at == ' ' || *at == '\r' || *at == '\n') ++at;
  }
  return Quote(at, std::strcspn(at, "\r\n"));
}

}  // namespace

void ExplainWmic(Trace& trace, TraceStep step, const char* command, bool started, bool timedOut,
                 int timeoutMs, WmicReading reading, const char* capture, const char* value) {
  if (!started) {
    trace.Note(step, false, "%s: not started", command);
#if KOLVEX_WMI_FALLBACK
    trace.Hint(step, "WMI gave no answer and wmic is missing");
#else
    trace.Hint(step, "wmic missing: build with the WMI fallback, or install wmic");
#endif
  } else if (reading == WmicReading::kReport) {
    trace.Note(step, false, "%s: error report %s", command, ErrorText(capture).text);
  } else {
    trace.NoteCommand(step, command, timedOut, timeoutMs, value, "no value");
  }
}

void ExplainWmi(Trace& trace, TraceStep step, const WmicQuery& query, int result, int waitedMs,
                const char* value) {
  if (result == 0 && value[0] != '\0')
    trace.Note(step, true, "WMI %s: %s", query.wmiSource, Quote(value).text);
  else if (result == kWmiTimedOut)
    trace.Note(step, false, "WMI %s: no answer within %d ms", query.wmiSource, waitedMs);
  else if (result == -1)
    trace.Note(step, false, "WMI %s: failed", query.wmiSource);
  else
    trace.Note(step, false, "WMI %s: no value", query.wmiSource);
  if (result == 0 || result == kWmiNoValue)
    trace.Note(step, false, "%s: not started, WMI answered", query.command);
}

}  // namespace kolvex

#if defined(_WIN32)

namespace {

// wmic of the system, never one found first in the program's folder, the
// current directory or the search path.
bool WmicProgram(char* path, UINT size) {
  static const char kTail[] = "\\wbem\\WMIC.exe";
  const UINT n = GetSystemDirectoryA(path, size);
  if (n == 0 || n + sizeof kTail > size) return false;
  std::memcpy(path + n, kTail, sizeof kTail);
  return true;
}

void RunQuery(const kolvex::WmicQuery& query, kolvex::TraceStep step, char* out) {
  const int timeoutMs = kolvex::CommandTimeoutMs();
#if KOLVEX_WMI_FALLBACK
  // The provider wmic would ask, asked here: no process started. wmic only
  // where WMI failed or did not answer in time.
  const int answer = kolvex::ReadWmiValue(query, out, timeoutMs);
  if (kolvex::Trace* trace = kolvex::ActiveTrace())
    kolvex::ExplainWmi(*trace, step, query, answer, timeoutMs, out);
  if (answer == 0 || answer == kolvex::kWmiNoValue) return;
#endif
  char program[MAX_PATH];
  char capture[kolvex::kCaptureSize];
  std::memset(capture, 0, sizeof capture);
  kolvex::CommandOutcome outcome;
  if (WmicProgram(program, sizeof program))
    outcome = kolvex::RunCommand(program, query.command, capture, timeoutMs);
  const kolvex::WmicReading reading = outcome.started
                                          ? kolvex::ParseWmicCapture(capture, query, out)
                                          : kolvex::WmicReading::kNothing;
  if (kolvex::Trace* trace = kolvex::ActiveTrace())
    kolvex::ExplainWmic(*trace, step, query.command, outcome.started, outcome.timedOut, timeoutMs,
                        reading, capture, out);
}

}  // namespace

void GetDiskSerialByWmic(char* out) {
  RunQuery(kolvex::kDiskSerialQuery, kolvex::TraceStep::kDiskSerial, out);
}
void GetCpuSerial(char* out) { RunQuery(kolvex::kCpuIdQuery, kolvex::TraceStep::kCpuId, out); }
void GetBIOSSerial(char* out) {
  RunQuery(kolvex::kBiosSerialQuery, kolvex::TraceStep::kBiosSerial, out);
}

#endif
