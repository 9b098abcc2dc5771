#include "wmic_probes.h"

#include <cstring>

#include "command_runner.h"

#if defined(_WIN32) && KOLVEX_WMI_FALLBACK
#include "wmi_query.h"
#endif

namespace kolvex {

const WmicQuery kDiskSerialQuery = {"wmic diskdrive get serialnumber",
                                    L"SELECT SerialNumber FROM Win32_DiskDrive", L"SerialNumber",
                                    16};
const WmicQuery kCpuIdQuery = {"wmic CPU get ProcessorID",
                               L"SELECT ProcessorId FROM Win32_Processor", L"ProcessorId", 16};
const WmicQuery kBiosSerialQuery = {"wmic bios get serialnumber",
                                    L"SELECT SerialNumber FROM Win32_BIOS", L"SerialNumber", 10};

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

void ParseWmicCapture(const char* capture, char* out, int most) {
  if (IsWmicErrorReport(capture)) return;
  const char* lineEnd = std::strstr(capture, "\r\n");
  if (lineEnd == nullptr) return;
  CopyFirstValue(lineEnd + 2, out, most);
}

}  // namespace kolvex

#if defined(_WIN32)

namespace {

void RunQuery(const kolvex::WmicQuery& query, char* out) {
  char capture[kolvex::kCaptureSize];
  std::memset(capture, 0, sizeof capture);
  if (executeCMD(query.command, capture) == 0 && !kolvex::IsWmicErrorReport(capture)) {
    kolvex::ParseWmicCapture(capture, out, query.most);
    return;
  }
#if KOLVEX_WMI_FALLBACK
  // No wmic on this machine, or one that reported a failure: ask the store
  // it would have read.
  kolvex::ReadWmiValue(query, out);
#endif
}

}  // namespace

void GetDiskSerialByWmic(char* out) { RunQuery(kolvex::kDiskSerialQuery, out); }
void GetCpuSerial(char* out) { RunQuery(kolvex::kCpuIdQuery, out); }
void GetBIOSSerial(char* out) { RunQuery(kolvex::kBiosSerialQuery, out); }

#endif
