// The Windows probes against the answers of a real Windows API (wine's,
// in CI). The Sandbox cases check values that wine_sandbox.sh arranged and
// passes in KOLVEX_EXPECT_* variables; run without them they are skipped.
#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "adapters.h"
#include "command_deadline.h"
#include "command_runner.h"
#include "kolvex/kolvex_c.h"
#include "test_data.h"
#include "system_disk.h"
#include "wmic_probes.h"
#include "terminal_record.h"
#include "trace.h"
#include "workstation.h"
#if KOLVEX_WMI_FALLBACK
#include "wmi_query.h"
#endif

namespace kolvex {
namespace {

std::string OwnFolder() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string folder(self);
  return folder.erase(folder.find_last_of("\\/") + 1);
}

std::string Child(const std::string& args) {
  return "\"" + OwnFolder() + "kolvex_test_child.exe\" " + args;
}

// The number of open handles of this process, by asking about every
// handle value in the range a test process uses. (GetProcessHandleCount is
// no help: wine answers 0.)
int OpenHandles() {
  int open = 0;
  for (std::uintptr_t value = 4; value < 16384; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

struct Captured {
  int result;
  std::string text;
  bool guardIntact;
  bool handlesReturned;  // every handle executeCMD took was closed again
};

struct ExecuteJob {
  std::string command;
  char out[kCaptureSize + 32];
  int result;
  int before;
  int after;
};

// A thread procedure is WINAPI (stdcall on x86), which a lambda cannot be.
DWORD WINAPI RunExecuteJob(void* p) {
  ExecuteJob* j = static_cast<ExecuteJob*>(p);
  j->before = OpenHandles();
  j->result = executeCMD(j->command.c_str(), j->out);
  j->after = OpenHandles();
  return 0;
}

// executeCMD on a worker thread, so that a child that never ends fails the
// test instead of hanging it.
Captured Execute(const std::string& command) {
  ExecuteJob job;
  job.command = command;
  std::memset(job.out, 0, kCaptureSize);
  std::memset(job.out + kCaptureSize, '#', 32);
  job.result = -2;
  HANDLE worker = CreateThread(nullptr, 0, RunExecuteJob, &job, 0, nullptr);
  if (worker == nullptr) return {-3, "", false, false};
  if (WaitForSingleObject(worker, 60000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "executeCMD(%s) did not return within 60 s\n", command.c_str());
    std::fflush(stderr);
    ExitProcess(99);
  }
  CloseHandle(worker);
  return {job.result, job.out, std::string(job.out + kCaptureSize, 32) == std::string(32, '#'),
          job.before == job.after};
}

struct CommandCase {
  const char* name;
  std::string args;
  std::string expected;
};

class ExecuteCmd : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ExecuteCmd, CapturesStandardOutputAndError) {
  const Captured c = Execute(Child(GetParam().args));
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.text, GetParam().expected);
  EXPECT_TRUE(c.guardIntact);
  EXPECT_TRUE(c.handlesReturned);
}

INSTANTIATE_TEST_SUITE_P(
    Children, ExecuteCmd,
    ::testing::Values(CommandCase{"nothing", "", ""},
                      CommandCase{"stdout_then_stderr", "out Serial err Number", "SerialNumber"},
                      CommandCase{"stderr_only", "err oops", "oops"},
                      CommandCase{"exit_code_ignored", "out abc exit 7", "abc"},
                      CommandCase{"exactly_512", "fill 512", std::string(512, 'x')},
                      CommandCase{"recorded_utf16_mended",
                                  "file \"" KOLVEX_TEST_DATA_DIR "/utf16-cpu.out\"",
                                  "ProcessorId       \r\n178BFBFF00A20F12  \r\n\r\n"},
                      CommandCase{"recorded_ansi_kept",
                                  "file \"" KOLVEX_TEST_DATA_DIR "/ansi-cpu.out\"",
                                  "ProcessorId       \r\r\n0F8BFBFF000A0655  \r\r\n\r\r\n"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST(ExecuteCmdLimits, StopsPast512AndTheChildStillEnds) {
  // Far more than a pipe holds: the child must get a broken pipe once we
  // stop reading, or the wait would never return.
  const Captured c = Execute(Child("fill 4000000"));
  EXPECT_EQ(c.result, 0);
  EXPECT_GT(c.text.size(), 512u);
  EXPECT_LE(c.text.size(), static_cast<size_t>(kCaptureSize - 1));
  EXPECT_EQ(c.text.find_first_not_of('x'), std::string::npos);
  EXPECT_TRUE(c.guardIntact);
  EXPECT_TRUE(c.handlesReturned);
}

TEST(ExecuteCmdLimits, ProgramThatCannotStart) {
  const Captured c = Execute("kolvex-no-such-program-4711 get serialnumber");
  EXPECT_EQ(c.result, -1);
  EXPECT_EQ(c.text, "");
  EXPECT_TRUE(c.handlesReturned);
}

// A child that never ends, or leaves a child of its own holding the pipe,
// is ended at the deadline with everything it started; what it wrote in
// time is kept.
TEST(ExecuteCmdLimits, DeadlineEndsTheChildAndItsChildren) {
  struct {
    const char* args;
    const char* printed;
  } cases[] = {
      {"out ID: sleep 600000", "ID:"},  // answers, then never exits
      {"out ID: spawn 600000", "ID:"},  // exits; its child holds the pipe
  };
  // Long enough for wine to start the child and let it print, which takes
  // seconds on a loaded machine. Set in the C runtime's copy, which getenv
  // reads, and cleared on every way out.
  constexpr ULONGLONG kDeadlineMs = 10000;
  struct Deadline {
    Deadline() { _putenv_s(kCommandTimeoutVariable, "10000"); }
    ~Deadline() { _putenv_s(kCommandTimeoutVariable, ""); }
  } deadline;
  for (const auto& c : cases) {
    const ULONGLONG start = GetTickCount64();
    const Captured r = Execute(Child(c.args));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(r.result, 0) << c.args;
    ASSERT_EQ(r.text.rfind(c.printed, 0), 0u) << c.args << ": " << r.text;
    EXPECT_GE(took, kDeadlineMs) << c.args;
    EXPECT_LT(took, kDeadlineMs + 10000) << c.args;
    EXPECT_TRUE(r.handlesReturned) << c.args;
    const std::string spawned = r.text.substr(std::strlen(c.printed));
    if (spawned.empty()) continue;
    HANDLE grandchild = OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(spawned.c_str(), nullptr, 10));
    if (grandchild != nullptr) {
      EXPECT_EQ(WaitForSingleObject(grandchild, 5000), WAIT_OBJECT_0)
          << "still running: " << c.args;
      CloseHandle(grandchild);
    }
  }
}

// kolvex.dll as a client loads it: two threads collecting at once take
// turns, each getting what a collection alone gets (the time aside).
using CollectFunction = int(KOLVEX_CALL*)(char*, size_t, unsigned char*);

std::string CollectWithoutTime(CollectFunction collect) {
  char record[KOLVEX_RECORD_SIZE] = {};
  const int flags = collect(record, sizeof record, nullptr);
  const std::string text(record);
  const size_t time = text.find('@') + 1;  // the record's second item
  return std::to_string(flags) + " " + text.substr(0, time) + text.substr(text.find('@', time));
}

TEST(DllThreads, CollectionsTakeTurns) {
  HMODULE dll = LoadLibraryA(KOLVEX_DLL_PATH);
  ASSERT_NE(dll, nullptr);
  const auto collect = reinterpret_cast<CollectFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(dll, "kolvex_collect")));
  ASSERT_NE(collect, nullptr);
  const std::string alone = CollectWithoutTime(collect);
  std::string other;
  std::thread thread([&] { other = CollectWithoutTime(collect); });
  EXPECT_EQ(CollectWithoutTime(collect), alone);
  thread.join();
  EXPECT_EQ(other, alone);
  FreeLibrary(dll);
}

// wine's own wmic: UTF-16 with a byte-order mark into a pipe.
struct ProbeCase {
  const char* name;
  void (*probe)(char*);
  const char* pattern;
};

class WineWmic : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(WineWmic, YieldsTheValueThroughTheMend) {
  if (std::getenv("KOLVEX_NO_WMIC") != nullptr) GTEST_SKIP() << "wmic switched off";
  char out[50];
  std::memset(out, 0, sizeof out);
  GetParam().probe(out);
  EXPECT_TRUE(std::regex_match(out, std::regex(GetParam().pattern))) << out;
}

INSTANTIATE_TEST_SUITE_P(Probes, WineWmic,
                         ::testing::Values(ProbeCase{"disk", GetDiskSerialByWmic, "WINEHDISK"},
                                           ProbeCase{"cpu", GetCpuSerial, "[0-9A-F]{16}"},
                                           ProbeCase{"bios", GetBIOSSerial, "0"}),
                         [](const ::testing::TestParamInfo<ProbeCase>& info) {
                           return std::string(info.param.name);
                         });

#if KOLVEX_WMI_FALLBACK

// What wmic would have printed first, taken from a wmic capture.
std::string WmicValue(const WmicQuery& query) {
  char capture[kCaptureSize] = {};
  if (executeCMD(query.command, capture) != 0) return "<no wmic>";
  char out[50] = {};
  ParseWmicCapture(capture, query, out);
  return out;
}

class Wmi : public ::testing::TestWithParam<const WmicQuery*> {};

TEST_P(Wmi, AgreesWithWmic) {
  if (std::getenv("KOLVEX_NO_WMIC") != nullptr) GTEST_SKIP() << "wmic switched off";
  char out[50];
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(ReadWmiValue(*GetParam(), out, kDefaultCommandTimeoutMs), 0);
  EXPECT_EQ(std::string(out), WmicValue(*GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Queries, Wmi,
                         ::testing::Values(&kDiskSerialQuery, &kCpuIdQuery, &kBiosSerialQuery),
                         [](const ::testing::TestParamInfo<const WmicQuery*>& info) {
                           return testing::CaseName(info.param->command);
                         });

TEST(WmiApartment, LeavesNoApartmentBehind) {
  char out[50] = {};
  ASSERT_EQ(ReadWmiValue(kDiskSerialQuery, out, kDefaultCommandTimeoutMs), 0);
  // Nothing initialised any more: a fresh start of COM says S_OK.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_OK);
  if (SUCCEEDED(again)) CoUninitialize();
}

// A GUI host's thread, in a single-threaded apartment: the three items come
// from WMI in this process, no process is started (the job the test puts
// its process into for good counts every one: a test process of its own),
// and the apartment stays the host's. One WMI query first, outside the
// job: wine starts its COM and WMI services on first use, where Windows
// runs them all along.
TEST(WmiFirst, CollectsInTheCallersSingleThreadedApartmentStartingNoProcess) {
  char warm[50] = {};
  ASSERT_EQ(ReadWmiValue(kBiosSerialQuery, warm, kDefaultCommandTimeoutMs), 0);
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  ASSERT_NE(job, nullptr);
  ASSERT_TRUE(AssignProcessToJobObject(job, GetCurrentProcess()));
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION before = {}, after = {};
  ASSERT_TRUE(QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &before,
                                        sizeof before, nullptr));
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  char disk[50] = {}, cpu[50] = {}, bios[50] = {};
  GetDiskSerialByWmic(disk);
  GetCpuSerial(cpu);
  GetBIOSSerial(bios);
  ASSERT_TRUE(QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &after,
                                        sizeof after, nullptr));
  EXPECT_EQ(after.TotalProcesses - before.TotalProcesses, 0u);
  EXPECT_STRNE(disk, "");
  EXPECT_TRUE(std::regex_match(cpu, std::regex("[0-9A-F]{16}"))) << cpu;
  EXPECT_STREQ(bios, "0");
  // The caller's apartment is still there.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);
  if (SUCCEEDED(again)) CoUninitialize();
  CoUninitialize();
  CloseHandle(job);
}

TEST(WmiApartment, KeepsTheCallersMultithreadedApartment) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  char out[50] = {};
  EXPECT_EQ(ReadWmiValue(kCpuIdQuery, out, kDefaultCommandTimeoutMs), 0);
  const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(again, S_FALSE);
  if (SUCCEEDED(again)) CoUninitialize();
  CoUninitialize();
}

TEST(WmiFallback, TakesOverWhenWmicCannotStart) {
  if (std::getenv("KOLVEX_NO_WMIC") == nullptr) GTEST_SKIP() << "wmic is there";
  char capture[kCaptureSize] = {};
  ASSERT_EQ(executeCMD(kDiskSerialQuery.command, capture), -1);
  char disk[50] = {}, cpu[50] = {}, bios[50] = {};
  GetDiskSerialByWmic(disk);
  GetCpuSerial(cpu);
  GetBIOSSerial(bios);
  char expected[50] = {};
  ASSERT_EQ(ReadWmiValue(kDiskSerialQuery, expected, kDefaultCommandTimeoutMs), 0);
  EXPECT_STREQ(disk, expected);
  EXPECT_TRUE(std::regex_match(cpu, std::regex("[0-9A-F]{16}"))) << cpu;
  EXPECT_STREQ(bios, "0");
}

// A WMI service that never answers costs the item its deadline, no more:
// the item stays empty and the explanation says why.
TEST(WmiFallback, HungQueryEndsWithTheDeadline) {
  if (std::getenv("KOLVEX_NO_WMIC") == nullptr) GTEST_SKIP() << "wmic is there";
  static HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(release, nullptr);
  const WmiReader real = ReplaceWmiReader([](const WmicQuery&, char* text, int) {
    WaitForSingleObject(release, INFINITE);
    std::strcpy(text, "LATE");
    return 0;
  });
  _putenv_s(kCommandTimeoutVariable, "3000");
  static Trace trace;  // too large for the stack
  char cpu[50] = {};
  const ULONGLONG start = GetTickCount64();
  {
    ScopedTrace on(trace);
    GetCpuSerial(cpu);
  }
  const ULONGLONG took = GetTickCount64() - start;
  _putenv_s(kCommandTimeoutVariable, "");
  ReplaceWmiReader(real);
  SetEvent(release);  // the worker ends on its own and frees its buffers
  EXPECT_STREQ(cpu, "");
  EXPECT_LT(took, 3000u + 1000u);
  static char text[24 * 1024];
  RenderExplanation(trace, kWindowsRecordRules, text, sizeof text);
  EXPECT_NE(std::strstr(text, "no answer within"), nullptr) << text;
}

#endif

// --- values arranged by wine_sandbox.sh ---------------------------------

const char* Expect(const char* name) {
  const char* value = std::getenv(name);
  return value;
}

TEST(Sandbox, Adapters) {
  const char* expected = Expect("KOLVEX_EXPECT_ADAPTERS");
  if (expected == nullptr) GTEST_SKIP() << "not in a sandbox";
  char mac1[30] = {}, mac2[30] = {}, ip1[40] = {}, ip2[40] = {};
  const int result = GetAdapterMacAndIp(mac1, mac2, ip1, ip2);
  if (std::string(expected) == "unreadable") {
    // Only loopback: the list cannot be read and nothing is written.
    EXPECT_EQ(result, -1);
    EXPECT_STREQ(mac1, "");
    EXPECT_STREQ(ip1, "");
    return;
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(std::string(mac1) + "," + ip1 + "," + mac2 + "," + ip2, expected);
}

TEST(Sandbox, FirstBlockNeedsTheRetry) {
  if (Expect("KOLVEX_EXPECT_RETRY") == nullptr) GTEST_SKIP() << "not in a sandbox";
  // One adapter entry already takes more than 704 bytes here, so the
  // values of the Adapters case came through the second, larger block.
  void* block = HeapAlloc(GetProcessHeap(), 0, kFirstAdapterBlock);
  ASSERT_NE(block, nullptr);
  ULONG size = kFirstAdapterBlock;
  EXPECT_EQ(GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(block), &size),
            static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_GT(size, kFirstAdapterBlock);
  HeapFree(GetProcessHeap(), 0, block);
}

TEST(Sandbox, ComputerNameAndVersion) {
  const char* expected = Expect("KOLVEX_EXPECT_COMPUTER");
  if (expected == nullptr) GTEST_SKIP() << "not in a sandbox";
  char name[61] = {}, version[20] = {};
  EXPECT_EQ(GetDeviceNameAndOsVersion(name, version), 0);
  EXPECT_STREQ(name, expected);
  EXPECT_TRUE(std::regex_match(version, std::regex("[0-9]+\\.[0-9]+"))) << version;
}

TEST(Sandbox, SystemDisk) {
  const char* expected = Expect("KOLVEX_EXPECT_SYSTEM_DISK");
  if (expected == nullptr) GTEST_SKIP() << "not in a sandbox";
  char out[kSystemDiskSize + 8];
  std::memset(out, 0, kSystemDiskSize);
  std::memset(out + kSystemDiskSize, '#', 8);
  GetSystemDiskInfo(out);
  EXPECT_STREQ(out, expected);
  EXPECT_EQ(std::string(out + kSystemDiskSize, 8), std::string(8, '#'));
}

}  // namespace
}  // namespace kolvex
