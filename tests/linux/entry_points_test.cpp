// The collecting entry points: status header, length, what they leave alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <string>
#include <vector>

#include "LinuxKolvex.h"
#include "command_runner.h"
#include "define.h"
#include "status_header.h"
#include "sysfs.h"
#include "test_support.h"
#include "tool_probes.h"
#include "trace.h"

namespace kolvex {
namespace {

using testing::CaptureStdout;

bool g_complete = true;

void Fill(char* b, const char* text) { std::memcpy(b, text, std::strlen(text)); }

const LinuxProbes kProbes{
    [](char* b) { Fill(b, "2026-01-31 23:59:58"); },
    [](char* mac1, char*, char* ip1, char*) {
      Fill(mac1, "5254001a2b3c");
      Fill(ip1, "192.168.1.23");
      return 0;
    },
    [](char* n, char* v) {
      Fill(n, "host");
      Fill(v, "6.1.0");
    },
    [](char* b) { Fill(b, "DISK"); },
    [](char* b) { Fill(b, "CPU"); },
    [](char* b) { Fill(b, g_complete ? "BIOS" : ""); },
};

std::tm g_now;
const Clock kFixedClock{
    [] { return std::time_t{0}; },
    [](std::time_t, std::tm* out) {
      *out = g_now;
      return true;
    },
    [](timeval* tv) {
      tv->tv_sec = 0;
      tv->tv_usec = 1;
      return 0;
    },
};

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    *probes_ = kProbes;
    *clock_ = kFixedClock;
    g_complete = true;
    g_now = std::tm{};
    g_now.tm_year = 126;  // 2026
    g_now.tm_mon = 0;     // January
    g_now.tm_mday = 31;
    g_now.tm_hour = 23;
    g_now.tm_min = 59;
    g_now.tm_sec = 60;
  }
  testing::ScopedProbes probes_{ActiveProbes()};
  testing::ScopedClock clock_{ActiveClock()};
};

TEST_F(EntryPoints, GetSystemInfoWritesHeaderAndT) {
  for (bool complete : {true, false}) {
    g_complete = complete;
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    int len = -1;
    int flags = -1;
    const std::string shown =
        CaptureStdout([&] { flags = ORVIK_GetSystemInfo(reinterpret_cast<char*>(out), len); });
    EXPECT_EQ(flags, complete ? 0 : 0x100);
    EXPECT_EQ(len, 9);
    const unsigned char expected[9] = {
        1, static_cast<unsigned char>(complete ? '0' : '3'), 26, 1, 31, 23, 59, 60, 'T'};
    EXPECT_EQ(0, std::memcmp(out, expected, 9));
    EXPECT_EQ(out[9], 0xEE) << "nothing past byte 8";
    const std::string record =
        complete ? "2@2026-01-31 23:59:58@192.168.1.23@@5254001a2b3c@@host@6.1.0@DISK@CPU@BIOS"
                 : "2@2026-01-31 23:59:58@192.168.1.23@@5254001a2b3c@@host@6.1.0@DISK@CPU@";
    EXPECT_NE(shown.find("\n\n client data : " + record + "\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - record.size() - 17), "\n client data : " + record + "\n");
  }
}

TEST_F(EntryPoints, UnAesEncodeWritesEightBytes) {
  g_complete = false;
  unsigned char out[16];
  std::memset(out, 0xEE, sizeof out);
  int len = -1;
  int flags = 0;
  CaptureStdout([&] { flags = ORVIK_GetSystemInfoUnAesEncode(reinterpret_cast<char*>(out), len); });
  EXPECT_EQ(flags, 0x100);
  EXPECT_EQ(len, 8);
  const unsigned char expected[8] = {1, '3', 26, 1, 31, 23, 59, 60};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
  EXPECT_EQ(out[8], 0xEE);
}

TEST_F(EntryPoints, StatusIsZeroOnlyWithoutFlags) {
  const struct {
    int flags;
    char status;
  } cases[] = {{0, '0'}, {0x100, '3'}, {0x1FC, '3'}, {0x2, '3'}};
  for (const auto& c : cases) {
    unsigned char header[kStatusHeaderSize];
    BuildStatusHeader(c.flags, g_now, header);
    EXPECT_EQ(header[1], c.status) << c.flags;
  }
}

TEST(EntryPointsClock, DateBytesComeFromTheLocalTimeAroundTheCall) {
  testing::ScopedProbes probes(ActiveProbes());
  probes->addresses = [](char*, char*, char*, char*) { return 0; };
  probes->diskSerial = [](char*) {};
  probes->cpuId = [](char*) {};
  probes->biosSerial = [](char*) {};
  std::time_t before = std::time(nullptr);
  char out[9];
  int len = 0;
  CaptureStdout([&] { ORVIK_GetSystemInfoUnAesEncode(out, len); });
  std::time_t after = std::time(nullptr);
  bool matched = false;
  for (std::time_t t = before; t <= after && !matched; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    const unsigned char expected[6] = {static_cast<unsigned char>(local.tm_year - 100),
                                       static_cast<unsigned char>(local.tm_mon + 1),
                                       static_cast<unsigned char>(local.tm_mday),
                                       static_cast<unsigned char>(local.tm_hour),
                                       static_cast<unsigned char>(local.tm_min),
                                       static_cast<unsigned char>(local.tm_sec)};
    matched = std::memcmp(out + 2, expected, 6) == 0;
  }
  EXPECT_TRUE(matched);
  EXPECT_EQ(out[0], 1);
}

TEST_F(EntryPoints, DateBytesAreZeroWithoutALocalTime) {
  clock_->toLocal = [](std::time_t, std::tm*) { return false; };
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  int len = 0;
  CaptureStdout([&] { ORVIK_GetSystemInfoUnAesEncode(reinterpret_cast<char*>(out), len); });
  const unsigned char expected[8] = {1, '0', 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
}

// The explained run on this machine's kernel and stand-ins: every source
// says what became of it, and only the source whose value an item took is
// marked used.
struct ExplainCase {
  const char* name;
  int openError;          // what opening a disk node answers
  const char* sysfsTree;  // recorded tree under the test data, or none
  const char* dmidecode;  // body of the stand-in, or none on PATH
  const char* timeoutMs;  // KOLVEX_COMMAND_TIMEOUT_MS, or unset
  std::vector<std::string> lines;
  const char* language = nullptr;  // a client's LANGUAGE under setlocale(LC_ALL, "C.UTF-8")
  std::vector<std::string> absent = {};
  bool noDescriptors = false;     // none left for the run: no shell can start
  const char* program = nullptr;  // an executable of the machine's to copy as dmidecode
  bool deviceMemory = false;      // opening /dev/mem succeeds
  bool noXattrs = false;          // the program lies on a file system without extended attributes
};

// A ramfs (no extended attributes) mounted at dir in a mount namespace of
// the test's own, while it lives; none for an empty dir. Needs root.
class ScopedRamfs {
 public:
  explicit ScopedRamfs(const std::string& dir) : dir_(dir) {
    if (dir.empty() || unshare(CLONE_NEWNS) != 0) return;
    mounted_ = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mkdir(dir.c_str(), 0755) == 0 &&
               mount("ramfs", dir.c_str(), "ramfs", 0, nullptr) == 0;
  }
  ~ScopedRamfs() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// The machine's echo as a plain ELF dmidecode, the tables out of reach.
ExplainCase PlainDmidecode(const char* name, const char* line, bool deviceMemory, bool noXattrs) {
  ExplainCase c{name, ENOENT, "sysfs_virtio_mmc", nullptr, nullptr, {line}};
  c.program = "/bin/echo";
  c.deviceMemory = deviceMemory;
  c.noXattrs = noXattrs;
  return c;
}
constexpr char kPlainNotStarted[] =
    "    dmidecode -t 1 | grep \"Serial Number\": not started ($TOOLS/dmidecode would run with "
    "this process's rights, and /dev/mem is not readable)";

int g_openError;

class ExplainedRun : public ::testing::TestWithParam<ExplainCase> {};

TEST_P(ExplainedRun, SaysWhatBecameOfEachSource) {
  const ExplainCase& c = GetParam();
  testing::ScopedKernel kernel(ActiveKernel());
  g_openError = c.openError;
  kernel->open = [](const char*, int) {
    errno = g_openError;
    return -1;
  };
  if (c.deviceMemory)
    kernel->open = [](const char* path, int flags) {
      if (std::strcmp(path, "/dev/mem") == 0) return ::open("/dev/null", flags);
      errno = g_openError;
      return -1;
    };
  testing::FakeToolDir tools;
  if (c.dmidecode != nullptr) tools.Script("dmidecode", c.dmidecode);
  const ScopedRamfs ramfs(c.noXattrs ? tools.dir() + "/ramfs" : std::string());
  if (c.noXattrs && !ramfs.mounted())
    GTEST_SKIP() << "no ramfs in a mount namespace of our own here (needs root)";
  if (c.program != nullptr) tools.Program(c.noXattrs ? "ramfs/dmidecode" : "dmidecode", c.program);
  if (c.noXattrs) symlink("ramfs/dmidecode", (tools.dir() + "/dmidecode").c_str());
  testing::ScopedEnv timeout("KOLVEX_COMMAND_TIMEOUT_MS", c.timeoutMs);
  const std::string root = c.sysfsTree != nullptr
                               ? std::string(KOLVEX_TEST_DATA_DIR) + "/" + c.sysfsTree
                               : std::string(testing::kNoSysfs);
  const testing::ScopedSysfsRoot sysfs(root.c_str());
  testing::ScopedEnv language("LANGUAGE", c.language);
  const std::string savedLocale = setlocale(LC_ALL, nullptr);
  if (c.language != nullptr && setlocale(LC_ALL, "C.UTF-8") != nullptr &&
      std::string(std::strerror(ENOENT)) == "No such file or directory") {
    setlocale(LC_ALL, savedLocale.c_str());
    GTEST_SKIP() << "the C library's messages in " << c.language << " are not installed";
  }
  char out[256] = {0};
  char explanation[16384];
  int len = 0;
  rlimit descriptors{};
  getrlimit(RLIMIT_NOFILE, &descriptors);
  ::testing::internal::CaptureStderr();
  CaptureStdout([&] {
    if (c.noDescriptors) {
      // The undefined-behaviour sanitizer checks a stream's type once per
      // process, probing memory through a pipe it cannot make without a
      // descriptor: one stamp before the limit spares the run that check.
      FormatStamp(std::tm{}, 0);
      const int lowestFree = open("/dev/null", O_RDONLY);
      close(lowestFree);
      rlimit none = descriptors;
      none.rlim_cur = static_cast<rlim_t>(lowestFree);
      setrlimit(RLIMIT_NOFILE, &none);
    }
    ORVIK_GetExplainedSystemInfo(out, len, explanation, sizeof explanation);
    setrlimit(RLIMIT_NOFILE, &descriptors);
  });
  ::testing::internal::GetCapturedStderr();
  setlocale(LC_ALL, savedLocale.c_str());
  const std::vector<std::string> got = testing::SplitLines(explanation);
  for (std::string line : c.lines) {
    size_t at = line.find("$ROOT");
    if (at != std::string::npos) line.replace(at, 5, root);
    at = line.find("$TOOLS");
    if (at != std::string::npos) line.replace(at, 6, tools.dir());
    EXPECT_NE(std::find(got.begin(), got.end(), line), got.end()) << line << "\n" << explanation;
  }
  for (const std::string& line : c.absent)
    EXPECT_EQ(std::find(got.begin(), got.end(), line), got.end()) << line << "\n" << explanation;
}

// The hint for a tool that is not on the search list: where the system
// folders hold it, if they do.
std::string MissingToolHint(const char* tool) {
  char at[PATH_MAX];
  return FindTool(tool, kSystemToolPath, at, sizeof at)
             ? std::string("    hint: not on PATH; it is at ") + at
             : std::string("    hint: install ") + tool;
}

constexpr char kAnsweringDmidecode[] =
    "case \"$2\" in 4) printf '\\tID: 01 02 03 04 05 06 07 08\\n';;"
    " 1) printf '\\tSerial Number: SN-1\\n';; esac\n";

INSTANTIATE_TEST_SUITE_P(
    Sources, ExplainedRun,
    ::testing::Values(
        ExplainCase{
            "permission_and_tool_missing",
            EACCES,
            nullptr,
            kAnsweringDmidecode,
            nullptr,
            {"    /dev/sda identity: open: Permission denied",
             "    /dev/sda SCSI generic: open: Permission denied",
             "    /nonexistent-sysfs/block/vda/serial: not present",
             "    lshw -class disk|grep serial: no value (exit status 1)", "    hint: needs root",
             MissingToolHint("lshw"), "    dmidecode -t 4 | grep ID: \"0102030405060708\" (used)",
             "    CPUID leaf 1: not asked (value found)",
             "    \"lo\" 127.0.0.1 000000000000: skipped (loopback address)"}},
        // A client in another language still gets the plain ASCII texts.
        ExplainCase{"client_locale_translates",
                    ENOENT,
                    nullptr,
                    nullptr,
                    nullptr,
                    {"    /dev/sda identity: open: No such file or directory",
                     "    /nonexistent-sysfs/block/vda/serial: not present"},
                    "zh_CN"},
        ExplainCase{
            "missing_device_sysfs_used",
            ENOENT,
            "sysfs_virtio_mmc",
            nullptr,
            nullptr,
            {"    /dev/hda identity: open: No such file or directory",
             "    $ROOT/block/nvme0n1/device/serial: not present",
             "    $ROOT/block/vda/serial: \"VIRTIO-BLK-SER-42\" (used)",
             "  disk serial = \"VIRTIO-BLK-SER-4\"",
             "    lshw -class disk|grep serial: not run (serial found)",
             "  BIOS serial: empty (missing-item flag 0x100)",
             "    SMBIOS tables, type 1: $ROOT/firmware/dmi/tables/smbios_entry_point: not present",
             "    dmidecode -t 1 | grep \"Serial Number\": not started (dmidecode is not "
             "on the search list)",
             "    hint: this machine's firmware publishes no SMBIOS table"}},
        ExplainCase{
            "timed_out_value_kept",
            ENOENT,
            "sysfs_virtio_mmc",
            "case \"$2\" in 4) printf '\\tID: 01 02 03 04 05 06 07 08\\n';; esac\n"
            "exec /bin/sleep 30\n",
            "300",
            {"    dmidecode -t 4 | grep ID: timed out after 300 ms, value printed in time: "
             "\"0102030405060708\" (used)",
             "    dmidecode -t 1 | grep \"Serial Number\": timed out after 300 ms, no value"}},
        // Tables the kernel published: dmidecode, whatever it would say, is
        // not started.
        ExplainCase{"smbios_tables_read",
                    ENOENT,
                    "sysfs_smbios_q35",
                    kAnsweringDmidecode,
                    nullptr,
                    {"    SMBIOS tables, type 4: \"B10F0600FDFB8B07\" (used)",
                     "    dmidecode -t 4 | grep ID: not started (the tables were read)",
                     "    SMBIOS tables, type 1: \"VMSER-0123456789\" (used)",
                     "    dmidecode -t 1 | grep \"Serial Number\": not started (the tables were "
                     "read)"}},
        // A large server's table: its system structure past the first 4 KiB.
        ExplainCase{"smbios_table_past_4_kib",
                    ENOENT,
                    "sysfs_smbios_large_table",
                    nullptr,
                    nullptr,
                    {"    SMBIOS tables, type 1: \"VMSER-0123456789\" (used)"}},
        // An entry point refused, or a table file that holds no byte, is
        // no table: the tool is asked.
        ExplainCase{"smbios_entry_point_refused",
                    ENOENT,
                    "sysfs_smbios_bad_checksum",
                    kAnsweringDmidecode,
                    nullptr,
                    {"    SMBIOS tables, type 1: $ROOT/firmware/dmi/tables/smbios_entry_point: not "
                     "an entry point dmidecode takes",
                     "    dmidecode -t 1 | grep \"Serial Number\": \"SN-1\" (used)"}},
        ExplainCase{"smbios_table_empty",
                    ENOENT,
                    "sysfs_smbios_empty_table",
                    kAnsweringDmidecode,
                    nullptr,
                    {"    SMBIOS tables, type 1: $ROOT/firmware/dmi/tables/DMI: empty",
                     "    dmidecode -t 1 | grep \"Serial Number\": \"SN-1\" (used)"}},
        // A plain program (no raised rights) reads no more than this
        // process: without tables it is started only where /dev/mem is
        // readable (echo answers no serial). A file system without extended
        // attributes carries no capabilities.
        PlainDmidecode("plain_dmidecode_not_started", kPlainNotStarted, false, false),
        PlainDmidecode("plain_dmidecode_without_xattrs_not_started", kPlainNotStarted, false, true),
        PlainDmidecode("plain_dmidecode_reads_device_memory",
                       "    dmidecode -t 1 | grep \"Serial Number\": no value (exit status 1)",
                       true, false),
        // A tree without firmware/dmi: root is told why, others that root would help.
        ExplainCase{"no_smbios_table",
                    ENOENT,
                    "sysfs_virtio_mmc",
                    "exit 0\n",
                    nullptr,
                    {"    dmidecode -t 1 | grep \"Serial Number\": no value (exit status 1)",
                     geteuid() == 0 ? "    hint: this machine's firmware publishes no SMBIOS table"
                                    : "    hint: needs root"}},
        // Refused by policy rather than by mode bits: root helps all the same.
        ExplainCase{
            "device_not_permitted",
            EPERM,
            nullptr,
            nullptr,
            nullptr,
            {"    /dev/sda identity: open: Operation not permitted", "    hint: needs root"}},
        // Root would have opened the node, but sysfs gave the serial: no hint.
        ExplainCase{"denied_device_sysfs_used",
                    EACCES,
                    "sysfs_virtio_mmc",
                    kAnsweringDmidecode,
                    nullptr,
                    {"    /dev/sda identity: open: Permission denied",
                     "    $ROOT/block/vda/serial: \"VIRTIO-BLK-SER-42\" (used)"},
                    nullptr,
                    {"    hint: needs root"}},
        // No tool ran: a hint about installing one or about root would mislead.
        ExplainCase{
            "shell_cannot_start",
            ENOENT,
            nullptr,
            kAnsweringDmidecode,
            nullptr,
            {"    dmidecode -t 1 | grep \"Serial Number\": not started (Too many open files)"},
            nullptr,
            {MissingToolHint("dmidecode"), MissingToolHint("lshw"), "    hint: needs root"},
            true}),
    [](const ::testing::TestParamInfo<ExplainCase>& info) { return std::string(info.param.name); });

// The widest explanation a run can make, more source lines than are kept
// and every item's value quoted at its widest, fits the bound the published
// KOLVEX_EXPLANATION_SIZE is checked against.
TEST(ExplanationSize, HoldsTheWidestExplanationUncut) {
  Trace trace;
  const std::string wide(300, 'x');
  for (int i = 0; i <= Trace::kMaxLines; ++i)
    trace.Note(TraceStep::kDiskSerial, true, "%s", wide.c_str());
  ItemBuffers items{};
  for (int i = 0; i < kMaxItems; ++i) {
    char* item = items.at(static_cast<ItemIndex>(i));
    std::memset(item, 0x01, static_cast<size_t>(kWindowsRecordRules.items[i].bufferSize) - 1);
  }
  trace.KeepItems(items);
  // The published size is at least this bound (checked where it is built).
  std::vector<char> explanation(kExplanationBound);
  RenderExplanation(trace, kWindowsRecordRules, explanation.data(), explanation.size());
  const std::string text(explanation.data());
  EXPECT_EQ(text.find("(explanation cut here)"), std::string::npos) << text.size();
  EXPECT_NE(text.find("(1 more source lines not kept)"), std::string::npos);
}

// The note that marks a cut takes room only when a line does not fit: one
// byte more than the text (its NUL) holds all of it.
TEST(ExplanationSize, CutOnlyWhenALineDoesNotFit) {
  Trace trace;
  trace.Note(TraceStep::kCpuId, true, "CPUID leaf 1: \"57060500FFFBEBBF\"");
  trace.KeepItems(ItemBuffers{});
  char whole[4096];
  const std::size_t length = RenderExplanation(trace, kLinuxRecordRules, whole, sizeof whole);
  const struct {
    std::size_t size;
    bool cut;
  } sizes[] = {{length + 1, false}, {length + 23, false}, {length, true}};
  for (const auto& c : sizes) {
    std::vector<char> out(c.size);
    const std::size_t written = RenderExplanation(trace, kLinuxRecordRules, out.data(), c.size);
    const std::string text(out.data());
    EXPECT_EQ(written, text.size()) << c.size;
    if (!c.cut) {
      EXPECT_EQ(text, whole) << c.size;
      continue;
    }
    const std::string note = "(explanation cut here)\n";
    ASSERT_GE(text.size(), note.size()) << c.size;
    EXPECT_EQ(text.substr(text.size() - note.size()), note);
    // Whole lines of the text before the note.
    EXPECT_EQ(std::string(whole).rfind(text.substr(0, text.size() - note.size()), 0), 0u);
  }
}

TEST(ApiVersion, ConstantTextAtOneAddress) {
  const char* first = ORVIK_GetKolvexApiVersion();
  EXPECT_STREQ(first, "pelm_tst_1.0_20230419_4066");
  EXPECT_EQ(ORVIK_GetKolvexApiVersion(), first);
}

}  // namespace
}  // namespace kolvex
