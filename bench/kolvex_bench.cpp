// What a collection costs: the run's own text handling, the progress-log
// refresh, and each real probe on this machine.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "LinuxKolvex.h"
#include "cpu_id.h"
#include "disk_probes.h"
#include "define.h"
#include "terminal_record.h"
#include "worked_example.h"

// Every C++ heap allocation of the process, so a run can say how many it made.
// The replacements pair malloc with free by design; GCC cannot see that the
// operators it pairs are these.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static std::atomic<long> g_allocations{0};

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using kolvex::ItemBuffers;
using kolvex::ItemIndex;

// Standard output and error go to /dev/null while a benchmark runs.
class Quiet {
 public:
  Quiet() {
    std::fflush(stdout);
    savedOut_ = dup(1);
    savedErr_ = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 1);
    dup2(null, 2);
    close(null);
  }
  ~Quiet() {
    std::fflush(stdout);
    dup2(savedOut_, 1);
    dup2(savedErr_, 2);
    close(savedOut_);
    close(savedErr_);
  }

 private:
  int savedOut_;
  int savedErr_;
};

void BM_RecordAssembly(benchmark::State& state) {
  const char* raw[] = {
      "2026-03-15 09:30:12", "192.168.1.23",    "10.20.0.7",         "5254001a2b3c",
      "5254001a2b3d",        "build-server-07", "5.15.0-91-generic", "  S3Z9NB0K123456A9QX  ",
      "57060500FFFBEBBF",    "PF1ABC2D"};
  for (auto _ : state) {
    ItemBuffers items;
    std::memset(&items, 0, sizeof items);
    kolvex::TerminalRecord record(kolvex::kLinuxRecordRules);
    record.AppendTerminalType();
    for (int i = 0; i < 10; ++i) {
      char* buf = items.at(static_cast<ItemIndex>(i));
      kolvex::testing::PutText(buf, raw[i]);
      record.AddItem(static_cast<ItemIndex>(i), buf);
    }
    benchmark::DoNotOptimize(record.length());
  }
}
BENCHMARK(BM_RecordAssembly);

void BM_ProgressLogRefresh(benchmark::State& state) {
  timeStick stick;
  const long before = g_allocations.load();
  for (auto _ : state) GetFormatTickCount(stick);
  state.counters["allocs/refresh"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ProgressLogRefresh);

// The whole run in-process with recorded answers: its own cost.
void BM_CollectionRunRecorded(benchmark::State& state) {
  kolvex::LinuxProbes saved = kolvex::ActiveProbes();
  kolvex::ActiveProbes() = kolvex::testing::kWorkedExampleProbes;
  Quiet quiet;
  char out[256];
  int len = 0;
  const long before = g_allocations.load();
  for (auto _ : state) benchmark::DoNotOptimize(ORVIK_GetRealSystemInfo(out, len));
  state.counters["allocs/run"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
  kolvex::ActiveProbes() = saved;
}
BENCHMARK(BM_CollectionRunRecorded);

// The real probes, one by one, on this machine.
void BM_NetworkProbe(benchmark::State& state) {
  for (auto _ : state) {
    char m1[30] = {0}, m2[30] = {0}, i1[40] = {0}, i2[40] = {0};
    benchmark::DoNotOptimize(getLocalMacInfo(m1, m2, i1, i2));
  }
}
BENCHMARK(BM_NetworkProbe);

void BM_Uname(benchmark::State& state) {
  for (auto _ : state) {
    char n[50] = {0}, v[50] = {0};
    GetDeviceNameAndOsVersion(n, v);
    benchmark::DoNotOptimize(n[0]);
  }
}
BENCHMARK(BM_Uname);

template <void (*Probe)(char*)>
void BM_ToolProbe(benchmark::State& state) {
  Quiet quiet;
  for (auto _ : state) {
    char out[256] = {0};
    Probe(out);
    benchmark::DoNotOptimize(out[0]);
  }
}
BENCHMARK(BM_ToolProbe<GetCpuSerial>)->Name("BM_CpuProbe_dmidecode")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolProbe<GetBIOSSerial>)
    ->Name("BM_BiosProbe_dmidecode")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolProbe<GetDiskSerialBylshw>)
    ->Name("BM_DiskProbe_lshw")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolProbe<getIdeTypeDiskId>)->Name("BM_DiskProbe_identity");
BENCHMARK(BM_ToolProbe<GetScsiTypeHardDiskID>)->Name("BM_DiskProbe_scsi");
BENCHMARK(BM_ToolProbe<kolvex::DiskSerialFromSysfs>)->Name("BM_DiskProbe_sysfs");
BENCHMARK(BM_ToolProbe<kolvex::ReadDiskSerialChain>)
    ->Name("BM_DiskChain")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolProbe<kolvex::ReadCpuIdChain>)->Name("BM_CpuStep")->Unit(benchmark::kMillisecond);

// What the runner adds to the commands it starts: each iteration times one
// side, then the other, so both see the same load. "true" gives the fixed
// cost of one command; the run is set against popen of exactly the
// pipelines it starts here.
double PipelineMs(const char* command) {
  const auto start = std::chrono::steady_clock::now();
  if (FILE* pipe = popen(command, "r")) {
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
    }
    pclose(pipe);
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

template <typename Call>
double CallMs(Call call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

bool g_lshwAsked = false;
void NoteLshw(char*) { g_lshwAsked = true; }

void ReportPair(benchmark::State& state, double ours, double bare) {
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = ours / n;
  state.counters["popen_ms"] = bare / n;
  state.counters["ratio"] = ours / bare;
}

void BM_ExecuteCmdAgainstPopen(benchmark::State& state) {
  double ours = 0, bare = 0;
  for (auto _ : state) {
    ours += CallMs([] {
      char out[1024] = {0};
      executeCMD("true", out);
    });
    bare += PipelineMs("true");
  }
  ReportPair(state, ours, bare);
}
BENCHMARK(BM_ExecuteCmdAgainstPopen)->Unit(benchmark::kMillisecond);

void BM_RunAgainstItsPipelines(benchmark::State& state) {
  const char* pipelines[3] = {"dmidecode -t 4 | grep ID", "dmidecode -t 1 | grep \"Serial Number\"",
                              nullptr};
  char serial[256] = {0};
  g_lshwAsked = false;
  kolvex::RunDiskChain(serial, getIdeTypeDiskId, GetScsiTypeHardDiskID, kolvex::DiskSerialFromSysfs,
                       NoteLshw);
  if (g_lshwAsked) pipelines[2] = "lshw -class disk|grep serial";
  Quiet quiet;
  double ours = 0, bare = 0;
  for (auto _ : state) {
    ours += CallMs([] {
      char out[256];
      int len = 0;
      ORVIK_GetRealSystemInfo(out, len);
    });
    for (const char* command : pipelines)
      if (command != nullptr) bare += PipelineMs(command);
  }
  ReportPair(state, ours, bare);
}
BENCHMARK(BM_RunAgainstItsPipelines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
