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

void ParseWmicCapture(const char* capture, char* out, int most) {
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
  if (executeCMD(query.command, capture) == 0) {
    kolvex::ParseWmicCapture(capture, out, query.most);
    return;
  }
#if KOLVEX_WMI_FALLBACK
  // No wmic on this machine: ask the store it would have read.
  kolvex::ReadWmiValue(query, out);
#endif
}

}  // namespace

void GetDiskSerialByWmic(char* out) { RunQuery(kolvex::kDiskSerialQuery, out); }
void GetCpuSerial(char* out) { RunQuery(kolvex::kCpuIdQuery, out); }
void GetBIOSSerial(char* out) { RunQuery(kolvex::kBiosSerialQuery, out); }

#endif
