// The Linux collection run and its two own probes (time, uname).
#include "LinuxKolvex.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "collection_run.h"
#include "cpu_id.h"
#include "define.h"
#include "kernel_calls.h"
#include "smbios_tables.h"
#include "terminal_record.h"
#include "trace.h"

KOLVEX_API timeStick g_sys;

namespace kolvex {

namespace {

int ReadAddresses(char* mac1, char* mac2, char* ip1, char* ip2) {
  return getLocalMacInfo(mac1, mac2, ip1, ip2);
}

constexpr LinuxProbes kSystemProbes{GetLinuxSysTime,     ReadAddresses,  GetDeviceNameAndOsVersion,
                                    ReadDiskSerialChain, ReadCpuIdChain, ReadBiosSerialChain};
LinuxProbes g_probes = kSystemProbes;

// The shared run calls probes without results; these forward to whatever
// the probe table holds at the time of the call.
void CollectTimeStep(char* buf) { g_probes.collectTime(buf); }
void AddressStep(char* mac1, char* mac2, char* ip1, char* ip2) {
  g_probes.addresses(mac1, mac2, ip1, ip2);
}
void DeviceStep(char* name, char* version) { g_probes.deviceAndVersion(name, version); }
void DiskStep(char* serial) { g_probes.diskSerial(serial); }
void CpuStep(char* id) { g_probes.cpuId(id); }
void BiosStep(char* serial) { g_probes.biosSerial(serial); }

const CollectorPlatform kLinuxPlatform{
    &kLinuxRecordRules, &kLinuxStepMessages,
    LogProgress,        CollectTimeStep,
    AddressStep,        DeviceStep,
    DiskStep,           CpuStep,
    BiosStep,           nullptr,
};

// Host names and kernel releases reach 64 characters; the run's buffers hold
// 50 bytes, so each copy keeps at most 49 and its NUL.
constexpr size_t kUnameCopyMax = 49;

void CopyCut(char* dst, const char* src) {
  const size_t n = strnlen(src, kUnameCopyMax);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

LinuxProbes& ActiveProbes() { return g_probes; }
const LinuxProbes& SystemProbes() { return kSystemProbes; }

}  // namespace kolvex

void GetLinuxSysTime(char* buf) {
  const kolvex::Clock& clock = kolvex::ActiveClock();
  std::tm local{};
  if (!clock.toLocal(clock.now(), &local)) {
    KOLVEX_TRACE(kCollectTime, false, "local time: none to be had");
    return;
  }
  kolvex::FormatCollectionTime(local, buf);
  KOLVEX_TRACE(kCollectTime, true, "local time: %s", kolvex::Quote(buf).text);
}

void GetDeviceNameAndOsVersion(char* name, char* version) {
  struct utsname info;
  std::memset(&info, 0, sizeof info);
  if (kolvex::ActiveKernel().uname(&info) != 0) {
    KOLVEX_TRACE(kDeviceAndVersion, false, "uname: %s", kolvex::DescribeError(errno).text);
    return;
  }
  kolvex::CopyCut(name, info.nodename);
  kolvex::CopyCut(version, info.release);
  KOLVEX_TRACE(kDeviceAndVersion, name[0] != '\0', "uname node name: %s",
               kolvex::Quote(info.nodename).text);
  KOLVEX_TRACE(kDeviceAndVersion, version[0] != '\0', "uname release: %s",
               kolvex::Quote(info.release).text);
}

int ORVIK_GetRealSystemInfo(char* out, int& len) {
  std::lock_guard<std::recursive_mutex> hold(kolvex::CollectionLock());
  return kolvex::RunCollection(kolvex::kLinuxPlatform, out, len);
}
