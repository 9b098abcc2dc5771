// A client of libkolvex as a third party would write it: links the shared
// library, calls every entry point once and reports what came back in lines
// starting with "kolvex-e2e " so the checker can find them among the
// collector's own output on the same stream.
//
//   kolvex-e2e version <text> same-address=<0|1>
//   kolvex-e2e <call> t0=<epoch> t1=<epoch> flags=0x<hex> len=<n> ...
//   kolvex-e2e pipelines cpu=[<value>] bios=[<value>]
//
// The real collection's line also counts the processes it started.
// t0/t1 bracket the call on the machine's clock; the checker uses them to
// bound the collection time and the status header's time bytes.
#include <kolvex/kolvex.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Bytes the entry points must not touch are preset to this value, so a write
// past the documented extent shows up in the dump.
constexpr unsigned char kGuard = 0xEE;
constexpr size_t kDumpBytes = 16;

void DumpBytes(const char* label, const unsigned char* p, size_t n) {
  std::printf(" %s=", label);
  for (size_t i = 0; i < n; ++i) std::printf("%s%02x", i ? ":" : "", p[i]);
}

// ORVIK_GetSystemInfo and ORVIK_GetSystemInfoUnAesEncode share a signature.
void CallHeaderEntryPoint(const char* name, int (*entry)(char*, int&)) {
  unsigned char out[64];
  std::memset(out, kGuard, sizeof out);
  int len = -1;
  std::time_t t0 = std::time(nullptr);
  int flags = entry(reinterpret_cast<char*>(out), len);
  std::time_t t1 = std::time(nullptr);
  std::fflush(stdout);
  std::printf("kolvex-e2e %s t0=%lld t1=%lld flags=0x%x len=%d", name, static_cast<long long>(t0),
              static_cast<long long>(t1), static_cast<unsigned>(flags), len);
  DumpBytes("bytes", out, kDumpBytes);
  std::printf("\n");
  std::fflush(stdout);
}

// The last process ID the kernel handed out, as /proc/loadavg tells.
long LastPid() {
  long last = -1;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%*s %*s %*s %*s %ld", &last) != 1) last = -1;
    std::fclose(f);
  }
  return last;
}

// Processes started since last: every ID handed out since, but those of
// kernel threads (children of kthreadd, 2) that the guest's kernel started
// meanwhile. An ID that is gone was a process that has ended. -1 when the
// count is not to be had.
int StartedSince(long last) {
  const long now = LastPid();
  if (last < 0 || now < last) return -1;
  int started = 0;
  for (long pid = last + 1; pid <= now; ++pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    long parent = -1;
    if (FILE* f = std::fopen(path, "r")) {
      if (std::fscanf(f, "%*d (%*[^)]) %*c %ld", &parent) != 1) parent = -1;
      std::fclose(f);
    }
    if (parent != 2) ++started;
  }
  return started;
}

}  // namespace

int main() {
  const char* version = ORVIK_GetKolvexApiVersion();
  const char* again = ORVIK_GetKolvexApiVersion();
  std::printf("kolvex-e2e version %s same-address=%d\n", version ? version : "(null)",
              version == again ? 1 : 0);
  std::fflush(stdout);

  // The record buffer starts as non-zero junk: the collector must write the
  // terminating NUL itself rather than rely on the caller's zero fill.
  char record[1000];
  std::memset(record, 'J', sizeof record);
  int len = -1;
  std::time_t t0 = std::time(nullptr);
  const long lastPid = LastPid();
  int flags = ORVIK_GetRealSystemInfo(record, len);
  const int started = StartedSince(lastPid);
  std::time_t t1 = std::time(nullptr);
  record[sizeof record - 1] = '\0';
  std::fflush(stdout);
  std::printf(
      "kolvex-e2e real t0=%lld t1=%lld flags=0x%x len=%d strlen=%zu started=%d record=[%s]\n",
      static_cast<long long>(t0), static_cast<long long>(t1), static_cast<unsigned>(flags), len,
      std::strlen(record), started, record);
  std::fflush(stdout);

  CallHeaderEntryPoint("info", ORVIK_GetSystemInfo);
  CallHeaderEntryPoint("unaes", ORVIK_GetSystemInfoUnAesEncode);

  // What the two dmidecode pipelines yield here, through the published
  // probes that still run them.
  char cpu[50] = {0};
  char bios[50] = {0};
  GetCpuSerial(cpu);
  GetBIOSSerial(bios);
  std::printf("kolvex-e2e pipelines cpu=[%s] bios=[%s]\n", cpu, bios);
  return 0;
}
