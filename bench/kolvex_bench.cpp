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
#include <string>

#include "LinuxKolvex.h"
#include "cpu_id.h"
#include "disk_probes.h"
#include "define.h"
#include "sysfs.h"
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

// A whole collection over the SMBIOS tables recorded on the sata_ahci
// machine and a recorded virtio disk serial, through the sysfs root: no
// process at all. Beside it, in the same iterations, the two dmidecode
// pipelines it replaces, over the same tables (a dump of them).
class RecordedTree {
 public:
  RecordedTree() {
    char dir[] = "/tmp/kolvex-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    root_ = dir;
    const std::string data = KOLVEX_TEST_DATA_DIR;
    const std::string tables = data + "/sysfs_smbios_q35/firmware";
    ok_ = symlink(tables.c_str(), (root_ + "/firmware").c_str()) == 0 &&
          symlink((data + "/sysfs_virtio_mmc/block").c_str(), (root_ + "/block").c_str()) == 0;
    // dmidecode's dump layout: the entry point at 0 with its table address
    // (and so its two checksums) changed to 32, the table at 32.
    std::string entry = Slurp(tables + "/dmi/tables/smbios_entry_point");
    const std::string table = Slurp(tables + "/dmi/tables/DMI");
    ok_ = ok_ && entry.size() == 31 && entry.compare(0, 4, "_SM_") == 0;
    if (!ok_) return;
    const auto sumOf = [&](std::size_t from, std::size_t n) {
      unsigned sum = 0;
      for (std::size_t i = from; i < from + n; ++i) sum += static_cast<unsigned char>(entry[i]);
      return sum;
    };
    entry.replace(0x18, 4, std::string("\x20\0\0\0", 4));
    entry[0x15] = static_cast<char>(entry[0x15] - sumOf(0x10, 0x0F));
    entry[0x04] = static_cast<char>(entry[0x04] - sumOf(0, static_cast<unsigned char>(entry[5])));
    entry.resize(32, '\0');
    dump_ = root_ + "/dump";
    std::FILE* f = std::fopen(dump_.c_str(), "wb");
    ok_ = f != nullptr && std::fwrite(entry.data(), 1, 32, f) == 32 &&
          std::fwrite(table.data(), 1, table.size(), f) == table.size();
    if (f != nullptr) std::fclose(f);
  }
  ~RecordedTree() {
    if (!root_.empty()) std::system(("rm -rf '" + root_ + "'").c_str());
  }
  bool ok() const { return ok_; }
  const std::string& root() const { return root_; }
  const std::string& dump() const { return dump_; }

 private:
  static std::string Slurp(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      char block[4096];
      std::size_t got;
      while ((got = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, got);
      std::fclose(f);
    }
    return bytes;
  }
  std::string root_;
  std::string dump_;
  bool ok_ = false;
};

void BM_CollectionOverRecordedTables(benchmark::State& state) {
  RecordedTree tree;
  if (!tree.ok()) {
    state.SkipWithError("the recorded tables could not be laid out");
    return;
  }
  const std::string cpu = "dmidecode --from-dump " + tree.dump() + " -t 4 | grep ID";
  const std::string bios =
      "dmidecode --from-dump " + tree.dump() + " -t 1 | grep \"Serial Number\"";
  const char* saved = kolvex::SysfsRoot();
  kolvex::SetSysfsRoot(tree.root().c_str());
  double ours = 0, bare = 0;
  {
    Quiet quiet;
    for (auto _ : state) {
      ours += CallMs([] {
        char out[256];
        int len = 0;
        ORVIK_GetRealSystemInfo(out, len);
      });
      bare += PipelineMs(cpu.c_str()) + PipelineMs(bios.c_str());
    }
  }
  kolvex::SetSysfsRoot(saved);
  ReportPair(state, ours, bare);
}
BENCHMARK(BM_CollectionOverRecordedTables)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
