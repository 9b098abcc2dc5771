#include "collection_run.h"

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <cstdio>
#include <cstring>
#include <new>

#include "messages.h"
#include "trace.h"

namespace kolvex {

// Kept as a grid, three messages to a line.
// clang-format off
const StepMessages kLinuxStepMessages = {
    msg::kMsgCollectStart,      msg::kMsgTypeStart,       msg::kMsgTypeDone,
    msg::kMsgLinuxTimeStart,    msg::kMsgLinuxTimeDone,   msg::kMsgLinuxAddressStart,
    msg::kMsgLinuxAddressDone,  msg::kMsgDeviceStart,     msg::kMsgDeviceDone,
    msg::kMsgDiskStart,         msg::kMsgDiskDone,        msg::kMsgCpuStart,
    msg::kMsgCpuDone,           msg::kMsgBiosStart,       msg::kMsgBiosDone,
    nullptr,                    nullptr,
};

const StepMessages kWindowsStepMessages = {
    msg::kMsgCollectStart,       msg::kMsgTypeStart,         msg::kMsgTypeDone,
    msg::kMsgWindowsTimeStart,   msg::kMsgWindowsTimeDone,   msg::kMsgWindowsAddressStart,
    msg::kMsgWindowsAddressDone, msg::kMsgDeviceStart,       msg::kMsgDeviceDone,
    msg::kMsgDiskStart,          msg::kMsgDiskDone,          msg::kMsgCpuStart,
    msg::kMsgCpuDone,            msg::kMsgBiosStart,         msg::kMsgBiosDone,
    msg::kMsgSystemDiskStart,    msg::kMsgSystemDiskDone,
};
// clang-format on

namespace {

class Run {
 public:
  explicit Run(const CollectorPlatform& platform)
      : p_(platform), rules_(*platform.rules), record_(rules_), items_{} {}

  char* Fresh(ItemIndex index) {
    char* buf = items_.at(index);
    std::memset(buf, 0, static_cast<size_t>(rules_.items[index].bufferSize));
    return buf;
  }
  void Add(ItemIndex index) { record_.AddItem(index, items_.at(index)); }

  int Go(char* out, int& len) {
    const StepMessages& m = *p_.messages;

    p_.logLine(m.collectStart);

    p_.logLine(m.typeStart);
    record_.AppendTerminalType();
    p_.logLine(m.typeDone);

    p_.logLine(m.timeStart);
    p_.collectTime(Fresh(kCollectTime));
    Add(kCollectTime);
    p_.logLine(m.timeDone);

    p_.logLine(m.addressStart);
    char* ip1 = Fresh(kIp1);
    char* ip2 = Fresh(kIp2);
    char* mac1 = Fresh(kMac1);
    char* mac2 = Fresh(kMac2);
    p_.addresses(mac1, mac2, ip1, ip2);
    Add(kIp1);
    Add(kIp2);
    Add(kMac1);
    Add(kMac2);
    p_.logLine(m.addressDone);

    p_.logLine(m.deviceStart);
    char* name = Fresh(kDeviceName);
    p_.deviceAndVersion(name, Fresh(kOsVersion));
    Add(kDeviceName);
    Add(kOsVersion);
    p_.logLine(m.deviceDone);

    Step(m.diskStart, m.diskDone, kDiskSerial, p_.diskSerial);
    Step(m.cpuStart, m.cpuDone, kCpuId, p_.cpuId);
    Step(m.biosStart, m.biosDone, kBiosSerial, p_.biosSerial);
    if (rules_.itemCount > kSystemDisk)
      Step(m.systemDiskStart, m.systemDiskDone, kSystemDisk, p_.systemDisk);

    PrintSummary(rules_, items_);
    if (Trace* trace = ActiveTrace()) trace->KeepItems(items_);
    record_.HandOver(out, len);
    return MissingItemFlags(rules_, items_);
  }

 private:
  void Step(const char* start, const char* done, ItemIndex index, void (*probe)(char*)) {
    p_.logLine(start);
    probe(Fresh(index));
    Add(index);
    p_.logLine(done);
  }

  const CollectorPlatform& p_;
  const RecordRules& rules_;
  TerminalRecord record_;
  ItemBuffers items_;
};

}  // namespace

int RunCollection(const CollectorPlatform& platform, char* out, int& len) {
  Run run(platform);
  return run.Go(out, len);
}

std::recursive_mutex& CollectionLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::mutex& LibraryCallLock() {
  static std::mutex lock;
  return lock;
}

#if !defined(_WIN32)
namespace {

void HoldLibraryCallsForFork() { LibraryCallLock().lock(); }
void ReleaseLibraryCallsAfterFork() { LibraryCallLock().unlock(); }
// The child has only the forking thread: a collection under way on another
// thread of the parent holds a lock that nobody in the child would release.
void StartChildAfresh() {
  LibraryCallLock().unlock();
  new (&CollectionLock()) std::recursive_mutex();
}

// At load, before any collection can take a lock.
[[maybe_unused]] const int g_forkHandlers =
    pthread_atfork(HoldLibraryCallsForFork, ReleaseLibraryCallsAfterFork, StartChildAfresh);

}  // namespace
#endif

}  // namespace kolvex
