// Internals of the Linux collector shared between its source files and tests.
#pragma once

#include "collection_run.h"

#include "kolvex/kolvex.h"
#include "terminal_record.h"

namespace kolvex {

// The probes a collection run calls, one per step. Production points them at
// the exported probe functions; tests put recorded answers in their place.
struct LinuxProbes {
  void (*collectTime)(char* buf);
  int (*addresses)(char* mac1, char* mac2, char* ip1, char* ip2);
  void (*deviceAndVersion)(char* name, char* version);
  void (*diskSerial)(char* serial);
  void (*cpuId)(char* id);
  void (*biosSerial)(char* serial);
};

LinuxProbes& ActiveProbes();
const LinuxProbes& SystemProbes();

// IDE identity, then SCSI unit serial number, then the serials sysfs
// publishes, then lshw; each later probe runs only while the buffer's first
// byte is still NUL.
void ReadDiskSerialChain(char* serial);

}  // namespace kolvex
