// The shell command runner on real commands, the tool-output parsers on
// recorded and made-up output, and the probes through fake tools on PATH.
#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_runner.h"
#include "process_group.h"
#include "cpu_id.h"
#include "kolvex/kolvex.h"
#include "smbios_tables.h"
#include "test_support.h"
#include "tool_probes.h"

namespace kolvex {
namespace {

std::string Capture(const char* command) {
  char out[1024] = {0};
  testing::CaptureStdout([&] { executeCMD(command, out); });
  EXPECT_EQ(out[1023], '\0');
  return out;
}

std::string Line(int length, char fill) { return std::string(length, fill) + "\n"; }

TEST(ExecuteCmd, StopsAfterTheChunkThatPassesFiveHundredTwelve) {
  // Lines of 101 characters: five make 505, the sixth passes 512.
  const std::string out = Capture("for i in 1 2 3 4 5 6 7 8; do printf '%0100d\\n' $i; done");
  EXPECT_EQ(out.size(), 606u);
  EXPECT_EQ(out.substr(505, 101), Line(100, '0').replace(99, 1, "6"));
}

TEST(ExecuteCmd, LongLineArrivesInChunksOf511) {
  const std::string out = Capture("head -c 3000 /dev/zero | tr '\\0' x");
  EXPECT_EQ(out, std::string(1022, 'x'));
}

TEST(ExecuteCmd, ExactlyFiveHundredTwelveReadsOn) {
  // 511 characters, then the line feed alone: 512, so the next line comes too.
  const std::string out = Capture("printf '%0511d\\nabc\\ndef\\n' 0");
  EXPECT_EQ(out, std::string(511, '0') + "\nabc\n");
}

TEST(ExecuteCmd, CapturesOnlyStandardOutputToTheLastByte) {
  struct {
    const char* command;
    const char* captured;
  } cases[] = {
      {"printf abc", "abc"},                              // no final line feed
      {"echo out; echo err >&2", "out\n"},                // standard error not captured
      {"echo partial; exit 3", "partial\n"},              // exit status not looked at
      {"/nonexistent/tool 2>/dev/null", ""},              // nothing printed at all
      {"printf 'ID: 1234'; exec sleep 100", "ID: 1234"},  // the deadline keeps a partial line
  };
  testing::ScopedEnv deadline(kCommandTimeoutVariable, "300");
  for (const auto& c : cases) EXPECT_EQ(Capture(c.command), c.captured) << c.command;
}

TEST(ExecuteCmd, NullOrEmptyArgumentsDoNothing) {
  char out[1024] = "untouched";
  executeCMD(nullptr, out);
  executeCMD("", out);
  EXPECT_STREQ(out, "untouched");
  executeCMD("echo hi", nullptr);  // must not crash
}

TEST(ExecuteCmd, AppendsToWhatTheBufferHolds) {
  char out[1024] = "head:";
  executeCMD("printf tail", out);
  EXPECT_STREQ(out, "head:tail");
}

TEST(ExecuteCmd, NeverPassesTheCaptureBufferWhenItStartsFull) {
  for (const char* command : {
           "head -c 3000 /dev/zero | tr '\\0' x",
           "printf %024d 0",  // 1000 held + 24 printed: exactly the 1024 bytes, no room for the NUL
       }) {
    char out[1100];
    std::memset(out, 'a', 1000);
    out[1000] = '\0';
    std::memset(out + 1001, '#', 99);
    executeCMD(command, out);
    EXPECT_LT(std::strlen(out), 1024u) << command;
    EXPECT_EQ(out[1024], '#') << command;
  }
}

TEST(CommandTimeout, OnlyAPositiveNumberOverridesTheDefault) {
  struct {
    const char* text;
    int deadline;
  } cases[] = {
      {"250", 250},     {"99999999999999", INT_MAX},  // capped, not wrapped
      {nullptr, 30000},                               // unset
      {"", 30000},      {"0", 30000},                 // not positive
      {"-5", 30000},    {" 5", 30000},                // not a plain number
      {"12ms", 30000},  {"1e3", 30000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseCommandTimeout(c.text, 30000), c.deadline) << (c.text ? c.text : "(unset)");
}

TEST(CommandTimeout, ReadAtEachRun) {
  testing::ScopedEnv set(kCommandTimeoutVariable, "1234");
  EXPECT_EQ(CommandTimeoutMs(), 1234);
  setenv(kCommandTimeoutVariable, "junk", 1);
  EXPECT_EQ(CommandTimeoutMs(), kDefaultCommandTimeoutMs);
}

TEST(NextChunkLength, CutsAsALineReadOf511) {
  const std::string longLine(600, 'x');
  struct {
    std::string pending;
    bool ended;
    std::size_t length;
  } cases[] = {
      {"ab\ncd\n", false, 3},  // through the first line feed
      {"abc", false, 0},       // a line still arriving is not cut early
      {"abc", true, 3},        // the last line without a line feed
      {"", true, 0},
      {longLine, false, 511},                      // a long line in pieces of 511
      {std::string(511, 'y') + "\n", false, 511},  // the line feed goes to the next chunk
  };
  for (const auto& c : cases)
    EXPECT_EQ(NextChunkLength(c.pending.data(), c.pending.size(), 512, c.ended), c.length)
        << c.pending.substr(0, 8) << " ended " << c.ended;
}

TEST(GroupFromStat, CountsFieldsFromTheLastParenthesis) {
  EXPECT_EQ(GroupFromStat("4711 (sleep) S 4700 4700 4700 0 -1"), 4700);
  EXPECT_EQ(GroupFromStat("4711 (a) (b c) R 1 99 99 0"), 99);  // a name with ") (" and a blank
  EXPECT_EQ(GroupFromStat("4711 sleep S 1 2"), -1);
  EXPECT_EQ(GroupFromStat("4711 (x) S 1"), -1);  // cut short before the group
  EXPECT_EQ(GroupFromStat(nullptr), -1);
}

struct ParseCase {
  const char* what;
  const ToolValueRule* rule;
  std::string captured;
  std::string value;
};

class ParseToolValueTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseToolValueTest, CutsTheValue) {
  const ParseCase& c = GetParam();
  char out[256];
  std::memset(out, 0, sizeof out);
  ParseToolValue(c.captured.c_str(), *c.rule, out, sizeof out);
  EXPECT_EQ(std::string(out), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseToolValueTest,
    ::testing::Values(
        ParseCase{"CpuId", &kCpuIdRule, "\tID: C3 06 03 00 FF FB EB BF\n", "C3060300FFFBEBBF"},
        ParseCase{"CpuIdFirstSocket", &kCpuIdRule,
                  "\tID: C3 06 03 00 FF FB EB BF\n\tID: 11 22 33 44 55 66 77 88\n",
                  "C3060300FFFBEBBF"},
        ParseCase{"CpuIdOnlyBlanks", &kCpuIdRule, "\tID:    \n", ""},
        ParseCase{"CpuIdCarriageReturn", &kCpuIdRule, "ID: AB CD\r\nID: EF\n", "ABCD"},
        ParseCase{"NoKey", &kCpuIdRule, "\tSignature: Type 0\n", ""},
        ParseCase{"LshwSerial", &kLshwSerialRule,
                  "       serial: S3Z1NB0K123456\n       serial: WD-OTHER\n", "S3Z1NB0K123456"},
        ParseCase{"LshwInnerBlank", &kLshwSerialRule, "       serial: WD-WX11 A2345678\n",
                  "WD-WX11A2345678"},
        ParseCase{"Bios", &kBiosSerialRule, "\tSerial Number: PF1ABC2D\n", "PF1ABC2D"},
        ParseCase{"BiosNotSpecified", &kBiosSerialRule, "\tSerial Number: Not Specified\n", "Not"},
        ParseCase{"BiosFirstWord", &kBiosSerialRule, "\tSerial Number: SYS-42 1a 2b\n", "SYS-42"},
        ParseCase{"BiosNoBlankAfterColon", &kBiosSerialRule, "\tSerial Number:X123\n", "123"},
        ParseCase{"BiosKeyEndsText", &kBiosSerialRule, "\tSerial Number:", ""},
        ParseCase{"BiosKeyThenOneChar", &kBiosSerialRule, "\tSerial Number: ", ""}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.what); });

TEST(ParseToolValue, LongValueIsCutAtTheBuffersCapacity) {
  const std::string captured = "ID: " + std::string(300, 'A') + "\n";
  char out[64];
  std::memset(out, 0, sizeof out);
  std::memset(out + 50, '#', 14);
  ParseToolValue(captured.c_str(), kCpuIdRule, out, 50);
  EXPECT_EQ(std::string(out), std::string(49, 'A'));
  EXPECT_EQ(out[50], '#');
}

class FakeTools : public ::testing::Test {
 protected:
  void Tool(const std::string& name, const std::string& args, const std::string& text) {
    tools_.Tool(name, args, text);
  }
  testing::FakeToolDir tools_;
  testing::ScopedSysfsRoot noTables_{testing::kNoSysfs};
};

TEST_F(FakeTools, ProbesRunTheirCommandLinesThroughGrep) {
  Tool("dmidecode", "-t 4",
       "Processor Information\n\tSocket Designation: CPU 0\n\tType: Central Processor\n"
       "\tID: 63 06 00 00 FF FB 8B 0F\n\tVersion: pc-q35\n");
  char cpu[50] = {0};
  GetCpuSerial(cpu);
  EXPECT_STREQ(cpu, "63060000FFFB8B0F");

  Tool("dmidecode", "-t 1",
       "System Information\n\tManufacturer: QEMU\n\tSerial Number: SN-E2E-0042\n");
  char bios[50] = {0};
  GetBIOSSerial(bios);
  EXPECT_STREQ(bios, "SN-E2E-0042");

  Tool("lshw", "-class disk", "  *-disk\n       product: QEMU HARDDISK\n       serial: QM00001\n");
  char disk[256] = {0};
  GetDiskSerialBylshw(disk);
  EXPECT_STREQ(disk, "QM00001");
}

TEST_F(FakeTools, MissingToolsLeaveItemsEmpty) {
  char cpu[50] = {0}, bios[50] = {0}, disk[256] = {0};
  testing::CaptureStdout([&] {
    GetCpuSerial(cpu);
    GetBIOSSerial(bios);
    GetDiskSerialBylshw(disk);
  });
  EXPECT_STREQ(cpu, "");
  EXPECT_STREQ(bios, "");
  EXPECT_STREQ(disk, "");
}

TEST_F(FakeTools, ValueLongerThanTheBufferStopsAtItsEnd) {
  Tool("dmidecode", "-t 1", "\tSerial Number: " + std::string(120, 'S') + "\n");
  char bios[64];
  std::memset(bios, 0, 50);
  std::memset(bios + 50, '#', 14);
  GetBIOSSerial(bios);
  EXPECT_EQ(std::string(bios), std::string(49, 'S'));
  EXPECT_EQ(bios[50], '#');
}

// A folder on a privileged caller's PATH decides nothing: the tools are
// found in the system folders only. An ordinary caller keeps its PATH.
TEST_F(FakeTools, PlantedToolRunsOnlyForAnOrdinaryCaller) {
  Tool("dmidecode", "-t 4", "\tID: PLANTED\n");
  SetToolSearchPathForTesting(nullptr);  // the rule itself, not the tests' list
  char cpu[50] = {0};
  testing::CaptureStdout([&] { GetCpuSerial(cpu); });
  EXPECT_EQ(std::string(cpu) == "PLANTED", !RunsPrivileged()) << cpu;
  EXPECT_STREQ(ToolSearchPath(), RunsPrivileged() ? kSystemToolPath : tools_.dir().c_str());
}

// Translated tool labels would hide every key: the tools run under LC_ALL=C
// whatever the caller's locale, and the caller's environment stays as it was.
TEST_F(FakeTools, CallersLanguageDoesNotReachTheTools) {
  tools_.Script("lshw",
                "if [ \"$LC_ALL\" = C ]; then echo '       serial: QM00001'\n"
                "else echo '       num\xc3\xa9ro de s\xc3\xa9rie: QM00001'; fi\n");
  tools_.Script(
      "dmidecode",
      "if [ \"$LC_ALL\" = C ]; then echo '\tID: 01 02'; else echo '\tIdentifiant: 01 02'; fi\n");
  auto items = [] {
    char disk[256] = {0}, cpu[50] = {0};
    GetDiskSerialBylshw(disk);
    GetCpuSerial(cpu);
    return std::string(disk) + "@" + cpu;
  };
  std::string french;
  {
    testing::ScopedEnv lang("LANG", "fr_FR.UTF-8");
    testing::ScopedEnv all("LC_ALL", "fr_FR.UTF-8");
    french = items();
    EXPECT_STREQ(getenv("LC_ALL"), "fr_FR.UTF-8");
  }
  testing::ScopedEnv all("LC_ALL", "C");
  EXPECT_EQ(french, items());
  EXPECT_EQ(french, "QM00001@0102");
}

// --- CPUID ------------------------------------------------------------------

TEST(ProcessorId, RegistersAsDmidecodeShowsTheSmbiosProcessorId) {
  // dmidecode -t 4 on that processor: "ID: C3 06 03 00 FF FB EB BF".
  char id[20];
  std::memset(id, '#', sizeof id);
  FormatProcessorId(0x000306C3, 0xBFEBFBFF, id);
  EXPECT_STREQ(id, "C3060300FFFBEBBF");
  EXPECT_EQ(id[17], '#');
}

#if defined(__x86_64__)
TEST(ProcessorId, ThisProcessorsLeafOne) {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  ASSERT_NE(__get_cpuid(1, &eax, &ebx, &ecx, &edx), 0);
  char id[50] = {0};
  ASSERT_TRUE(ProcessorIdFromCpuid(id));
  ASSERT_EQ(std::strlen(id), 16u) << id;
  // Read back byte by byte: the low byte of each register comes first.
  unsigned long regs[2] = {0, 0};
  for (int i = 0; i < 8; ++i) {
    const unsigned long byte = std::strtoul(std::string(id + 2 * i, 2).c_str(), nullptr, 16);
    regs[i / 4] |= byte << (8 * (i % 4));
  }
  EXPECT_EQ(regs[0], eax);
  EXPECT_EQ(regs[1], edx);
}
#endif

// The run's CPU step: dmidecode first; CPUID only where it gives nothing.
TEST_F(FakeTools, CpuStepWithAndWithoutSmbios) {
  Tool("dmidecode", "-t 4", "\tID: EF CD AB 89 67 45 23 01\n");
  char smbios[50] = {0};
  ReadCpuIdChain(smbios);
  EXPECT_STREQ(smbios, "EFCDAB8967452301");

  tools_.Script("dmidecode", "echo '/dev/mem: Permission denied' >&2\nexit 1\n");
  char id[50] = {0};
  ReadCpuIdChain(id);
#if KOLVEX_KERNEL_SOURCES && defined(__x86_64__)
  char direct[50] = {0};
  ASSERT_TRUE(ProcessorIdFromCpuid(direct));
  EXPECT_STREQ(id, direct);
#else
  EXPECT_STREQ(id, "");
#endif
}

// Where the kernel publishes no tables, dmidecode runs only if it could
// read more than this process: a plain program with our rights could not.
TEST_F(FakeTools, DmidecodeThatCouldReadMoreIsStarted) {
  char path[PATH_MAX];
  const std::string tool = tools_.dir() + "/dmidecode";
  const int memory = open("/dev/mem", O_RDONLY | O_CLOEXEC);
  if (memory >= 0) close(memory);
  EXPECT_EQ(ExamineDmidecode(path, sizeof path), DmidecodeReach::kNotFound);
  tools_.Script("dmidecode", "exit 0\n");  // a wrapper may call sudo
  EXPECT_EQ(ExamineDmidecode(path, sizeof path), DmidecodeReach::kScript);
  ASSERT_EQ(std::system(("/bin/cp /bin/true '" + tool + "'").c_str()), 0);
  EXPECT_EQ(ExamineDmidecode(path, sizeof path),
            memory >= 0 ? DmidecodeReach::kDeviceMemory : DmidecodeReach::kPlain);
  EXPECT_EQ(std::string(path), tool);
  chmod(tool.c_str(), 02755);
  EXPECT_EQ(ExamineDmidecode(path, sizeof path), DmidecodeReach::kRaisedRights);
  chmod(tool.c_str(), 0755);
  // cap_sys_rawio, permitted and effective, as setcap would write it.
  const unsigned char rawio[20] = {0x01, 0, 0, 0x02, 0, 0, 0x02, 0};
  if (setxattr(tool.c_str(), "security.capability", rawio, sizeof rawio, 0) == 0) {
    EXPECT_EQ(ExamineDmidecode(path, sizeof path), DmidecodeReach::kCapabilities);
  }
}

// Where dmidecode was not started, the hint names what would get the item:
// root for denied tables, whether or not the tool is on the search list.
TEST(HintForUnstartedPipeline, NamesWhatWouldHelp) {
  const SmbiosRead denied{{SysfsState::kUnreadable, EACCES, 0}, "DMI", false};
  const SmbiosRead absent{{SysfsState::kMissing, ENOENT, 0}, "DMI", false};
  const auto notFound = DmidecodeReach::kNotFound;
  EXPECT_EQ(HintForUnstartedPipeline(denied, notFound, false), SmbiosHint::kNeedsRoot);
  EXPECT_EQ(HintForUnstartedPipeline(absent, notFound, false), SmbiosHint::kNoTables);
  EXPECT_EQ(HintForUnstartedPipeline(absent, notFound, true), SmbiosHint::kWhereToolIs);
}

}  // namespace
}  // namespace kolvex
