// The Linux run with recorded answers in place of the probes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "LinuxKolvex.h"
#include "messages.h"
#include "test_support.h"

namespace kolvex {
namespace {

using testing::CaptureStdout;
using testing::Gbk;
using testing::ScopedProbes;
using testing::SplitLines;

// What the probes of one invented terminal leave in their buffers.
struct Terminal {
  const char* time = "";
  const char* ip1 = "";
  const char* ip2 = "";
  const char* mac1 = "";
  const char* mac2 = "";
  const char* name = "";
  const char* version = "";
  const char* disk = "";
  const char* cpu = "";
  const char* bios = "";
};
Terminal g_terminal;

void Put(char* buf, const char* text) { std::memcpy(buf, text, std::strlen(text)); }

const LinuxProbes kRecordedProbes{
    [](char* b) { Put(b, g_terminal.time); },
    [](char* mac1, char* mac2, char* ip1, char* ip2) {
      Put(mac1, g_terminal.mac1);
      Put(mac2, g_terminal.mac2);
      Put(ip1, g_terminal.ip1);
      Put(ip2, g_terminal.ip2);
      return 0;
    },
    [](char* n, char* v) {
      Put(n, g_terminal.name);
      Put(v, g_terminal.version);
    },
    [](char* b) { Put(b, g_terminal.disk); },
    [](char* b) { Put(b, g_terminal.cpu); },
    [](char* b) { Put(b, g_terminal.bios); },
};

struct RunResult {
  std::string record;
  int len = -1;
  int flags = -1;
  std::string stdoutText;
};

RunResult Collect(const Terminal& terminal) {
  ScopedProbes probes(ActiveProbes());
  *probes = kRecordedProbes;
  g_terminal = terminal;
  RunResult r;
  char out[1000];
  std::memset(out, '#', sizeof out);
  r.stdoutText = CaptureStdout([&] { r.flags = ORVIK_GetRealSystemInfo(out, r.len); });
  r.record = out;
  EXPECT_EQ(out[r.record.size() + 1], '#') << "nothing written past the record's NUL";
  return r;
}

Terminal Complete() {
  Terminal t;
  t.time = "2026-03-15 09:30:12";
  t.ip1 = "192.168.1.23";
  t.ip2 = "10.20.0.7";
  t.mac1 = "5254001a2b3c";
  t.mac2 = "5254001a2b3d";
  t.name = "build-server-07";
  t.version = "5.15.0-91-generic";
  t.disk = "  S3Z9NB0K123456A9QX  ";
  t.cpu = "57060500FFFBEBBF";
  t.bios = "PF1ABC2D";
  return t;
}

struct RecordCase {
  const char* what;
  Terminal terminal;
  const char* record;
  int flags;
};

Terminal OneInterfaceNoDisk() {
  Terminal t = Complete();
  t.ip2 = "";
  t.mac2 = "";
  t.disk = "";
  return t;
}
Terminal OnlyTime() {
  Terminal t;
  t.time = "2026-03-15 09:30:12";
  return t;
}
Terminal NoBios() {
  Terminal t = Complete();
  t.bios = "   ";
  return t;
}

class WorkedRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(WorkedRecords, RecordLengthAndFlags) {
  const RecordCase& c = GetParam();
  RunResult r = Collect(c.terminal);
  EXPECT_EQ(r.record, c.record);
  EXPECT_EQ(r.len, static_cast<int>(std::strlen(c.record)));
  EXPECT_EQ(r.flags, c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, WorkedRecords,
    ::testing::Values(
        RecordCase{"complete", Complete(),
                   "2@2026-03-15 09:30:12@192.168.1.23@10.20.0.7@5254001a2b3c@5254001a2b3d@"
                   "build-ser@5.15.@S3Z9NB0K123456A9@57060500FFFBEBBF@PF1ABC2D",
                   0},
        RecordCase{"one interface, no disk", OneInterfaceNoDisk(),
                   "2@2026-03-15 09:30:12@192.168.1.23@@5254001a2b3c@@build-ser@5.15.@@"
                   "57060500FFFBEBBF@PF1ABC2D",
                   0x40},
        RecordCase{"only the time", OnlyTime(), "2@2026-03-15 09:30:12@@@@@@@@@", 0x1FC},
        RecordCase{"blank BIOS serial", NoBios(),
                   "2@2026-03-15 09:30:12@192.168.1.23@10.20.0.7@5254001a2b3c@5254001a2b3d@"
                   "build-ser@5.15.@S3Z9NB0K123456A9@57060500FFFBEBBF@",
                   0x100}),
    [](const ::testing::TestParamInfo<RecordCase>& info) {
      std::string name;
      for (const char* c = info.param.what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

TEST(CollectionRun, WorkedRecordLengths) {
  EXPECT_EQ(Collect(Complete()).len, 129);
  EXPECT_EQ(Collect(OneInterfaceNoDisk()).len, 92);
}

TEST(CollectionRun, ProgressLogThenSummaryOfNormalisedItems) {
  RunResult r = Collect(Complete());
  const std::vector<std::string> lines = SplitLines(r.stdoutText);
  ASSERT_EQ(lines.size(), 15u + 1 + 11 + 1) << r.stdoutText;

  const char* messages[] = {
      "开始获取终端各种信息", "开始获取终端类型",         "获取终端类型完成",
      "开始获取系统时间",     "获取系统时间完成",         "开始获取IP和MAC信息",
      "获取IP和MAC信息完成",  "开始获取设备名和系统版本", "获取设备名和系统版本完成",
      "开始获取硬盘序列号",   "获取硬盘序列号完成",       "开始获取CPU序列号",
      "获取CPU序列号完成",    "开始获取BIOS序列号",       "获取BIOS序列号完成"};
  for (int i = 0; i < 15; ++i) {
    const std::string suffix = " - " + Gbk(messages[i]);
    ASSERT_GE(lines[i].size(), suffix.size() + 10) << i;
    EXPECT_EQ(lines[i].substr(lines[i].size() - suffix.size()), suffix) << i;
    EXPECT_EQ(lines[i][8], ':') << "stamp HH:MM:SS: " << lines[i];
  }
  EXPECT_EQ(lines[15], "");
  const std::string summary[] = {
      Gbk("终端类型: 2"),
      Gbk("信息采集时间: 2026-03-15 09:30:12"),
      Gbk("私网IP1: 192.168.1.23"),
      Gbk("私网IP2: 10.20.0.7"),
      Gbk("网卡MAC地址1: 5254001a2b3c"),
      Gbk("网卡MAC地址2: 5254001a2b3d"),
      Gbk("设备名: build-ser"),
      Gbk("操作系统版本: 5.15."),
      Gbk("硬盘序列号: S3Z9NB0K123456A9"),
      Gbk("CPU序列号: 57060500FFFBEBBF"),
      Gbk("BIOS序列号: PF1ABC2D"),
  };
  for (int i = 0; i < 11; ++i) EXPECT_EQ(lines[16 + i], summary[i]) << i;
  EXPECT_EQ(lines[27], "");
}

TEST(CollectionRun, EmptyItemsPrintLabelAndBlankOnly) {
  RunResult r = Collect(OnlyTime());
  const std::vector<std::string> lines = SplitLines(r.stdoutText);
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[17], Gbk("信息采集时间: 2026-03-15 09:30:12"));
  EXPECT_EQ(lines[26], Gbk("BIOS序列号: "));
}

TEST(CollectionRun, SecondRunStartsFresh) {
  Collect(Complete());
  RunResult r = Collect(OnlyTime());
  EXPECT_EQ(r.record, "2@2026-03-15 09:30:12@@@@@@@@@");
}

}  // namespace
}  // namespace kolvex
