// The Windows collection run with recorded probe answers and clocks.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "WindowsKolvex.h"
#include "messages.h"

namespace kolvex {
namespace {

// What the probes of the recorded machine write (nullptr: nothing).
struct Answers {
  bool haveTime = true;
  std::tm time{};
  const char* mac1 = nullptr;
  const char* mac2 = nullptr;
  const char* ip1 = nullptr;
  const char* ip2 = nullptr;
  const char* name = nullptr;
  const char* version = nullptr;
  const char* disk = nullptr;
  const char* cpu = nullptr;
  const char* bios = nullptr;
  const char* systemDisk = nullptr;
};

Answers g_answers;
int g_clockCalls = 0;
std::vector<std::string> g_calls;

// Writes the text without a NUL, as the probes do, never past the buffer.
void Put(char* buf, int size, const char* text) {
  if (text == nullptr) return;
  const size_t n = std::strlen(text);
  if (n > static_cast<size_t>(size)) {
    ADD_FAILURE() << "recorded answer longer than its buffer: " << text;
    return;
  }
  std::memcpy(buf, text, n);
}

const WindowsSystem kRecorded = {
    [](LogClock* c) {
      // 09:15:02 and 47 ms, one millisecond more at every line.
      const int ms = 47 + g_clockCalls++;
      c->hour = 9;
      c->minute = 15;
      c->second = static_cast<unsigned short>(2 + ms / 1000);
      c->milliseconds = static_cast<unsigned short>(ms % 1000);
    },
    [](std::tm* t) {
      *t = g_answers.time;
      return g_answers.haveTime;
    },
    [](char* mac1, char* mac2, char* ip1, char* ip2) {
      g_calls.push_back("adapters");
      Put(mac1, 30, g_answers.mac1);
      Put(mac2, 30, g_answers.mac2);
      Put(ip1, 40, g_answers.ip1);
      Put(ip2, 40, g_answers.ip2);
      return 0;
    },
    [](char* name, char* version) {
      g_calls.push_back("workstation");
      Put(name, 61, g_answers.name);
      Put(version, 20, g_answers.version);
      return 0;
    },
    [](char* b) {
      g_calls.push_back("disk");
      Put(b, 50, g_answers.disk);
    },
    [](char* b) {
      g_calls.push_back("cpu");
      Put(b, 50, g_answers.cpu);
    },
    [](char* b) {
      g_calls.push_back("bios");
      Put(b, 50, g_answers.bios);
    },
    [](char* b) {
      g_calls.push_back("systemdisk");
      Put(b, 25, g_answers.systemDisk);
    },
};

std::tm Time(int year, int month, int day, int h, int m, int s) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  return t;
}

struct Result {
  std::string record;
  int len = -1;
  int flags = -1;
  std::string output;
  std::string tail;  // what lies behind the record's NUL in out
};

Result Collect(const Answers& answers) {
  g_answers = answers;
  g_clockCalls = 0;
  g_calls.clear();
  char out[kWindowsOutSize + 64];
  std::memset(out, '#', sizeof out);
  Result r;
  ::testing::internal::CaptureStdout();
  r.flags = RunWindowsCollection(kRecorded, out, &r.len);
  r.output = ::testing::internal::GetCapturedStdout();
  r.record = out;
  r.tail.assign(out + r.record.size() + 1, out + sizeof out);
  return r;
}

Answers Full() {
  Answers a;
  a.time = Time(2026, 12, 6, 9, 15, 2);
  a.ip1 = "192.168.100.200";
  a.ip2 = "10.0.0.1";
  a.mac1 = "3C7C3FAABBCC";
  a.mac2 = "0A002700000D";
  a.name = "DESKTOP-ABC1234";
  a.version = "10.0";
  a.disk = "S3Z1NB0K123456A";
  a.cpu = "0F8BFBFF000A0655";
  a.bios = "PF1ABC2D";
  a.systemDisk = "C,5A3C19E2,NTFS,237";
  return a;
}

TEST(WindowsRun, AllProbesEmpty) {
  Answers a;
  a.time = Time(2026, 12, 6, 9, 15, 2);
  const Result r = Collect(a);
  EXPECT_EQ(r.record, "1@2026-12-06 09:15:02@@@@@@@@@@");
  EXPECT_EQ(r.len, 31);
  EXPECT_EQ(r.flags, 0x3FC);
}

TEST(WindowsRun, NoLocalTimeFlagsTheTimeToo) {
  Answers a;
  a.haveTime = false;
  const Result r = Collect(a);
  EXPECT_EQ(r.record, "1@@@@@@@@@@@");
  EXPECT_EQ(r.flags, 0x3FE);
}

TEST(WindowsRun, FullTerminal) {
  const Result r = Collect(Full());
  EXPECT_EQ(r.record,
            "1@2026-12-06 09:15:02@192.168.100.200@10.0.0.1@3C7C3FAABBCC@0A002700000D@"
            "DESKTOP-A@10.0@S3Z1NB0K123456A@0F8BFBFF000A0655@PF1ABC2D@C,5A3C19E2,NTFS,237");
  EXPECT_EQ(r.len, static_cast<int>(r.record.size()));
  EXPECT_EQ(r.flags, 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"adapters", "workstation", "disk", "cpu", "bios",
                                               "systemdisk"}));
}

TEST(WindowsRun, EveryItemAtItsWidthGives213Characters) {
  Answers a;
  a.time = Time(2026, 12, 6, 9, 15, 2);
  // Every buffer filled to its last byte without a NUL: TrimBuffer stores
  // none, the cut ends each item.
  static const std::string ip40(40, '1'), mac30(30, 'A'), name61(61, 'N'), version20(20, '9'),
      serial50(50, 'S'), disk25(25, 'D');
  a.ip1 = a.ip2 = ip40.c_str();
  a.mac1 = a.mac2 = mac30.c_str();
  a.name = name61.c_str();
  a.version = version20.c_str();
  a.disk = a.cpu = a.bios = serial50.c_str();
  a.systemDisk = disk25.c_str();
  const Result r = Collect(a);
  EXPECT_EQ(r.len, 213);
  EXPECT_EQ(r.record.size(), 213u);
  EXPECT_EQ(r.record, "1@2026-12-06 09:15:02@" + std::string(39, '1') + "@" + std::string(39, '1') +
                          "@" + std::string(12, 'A') + "@" + std::string(12, 'A') + "@" +
                          std::string(9, 'N') + "@99999@" + std::string(16, 'S') + "@" +
                          std::string(16, 'S') + "@" + std::string(10, 'S') + "@" +
                          std::string(24, 'D'));
  EXPECT_EQ(r.flags, 0);
  // Nothing behind the record's NUL was written.
  EXPECT_EQ(r.tail, std::string(kWindowsOutSize + 64 - 214, '#'));
}

struct ItemCase {
  const char* name;
  const char* Answers::*field;
  const char* given;
  const char* recorded;
  bool last = false;  // the system disk: no "@" behind it
};

class WindowsRunItem : public ::testing::TestWithParam<ItemCase> {};

TEST_P(WindowsRunItem, IsTrimmedThenCut) {
  Answers a = Full();
  a.*(GetParam().field) = GetParam().given;
  const Result r = Collect(a);
  const std::string field = std::string("@") + GetParam().recorded + (GetParam().last ? "" : "@");
  EXPECT_NE(r.record.find(field), std::string::npos) << r.record;
  EXPECT_NE(r.output.find(std::string(": ") + GetParam().recorded + "\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Items, WindowsRunItem,
    ::testing::Values(ItemCase{"device_name", &Answers::name, "DESKTOP-ABC1234", "DESKTOP-A"},
                      ItemCase{"short_version", &Answers::version, "10.0", "10.0"},
                      ItemCase{"long_version", &Answers::version, "10.0.19045", "10.0."},
                      ItemCase{"eight_byte_mac", &Answers::mac1, "0102030405060708",
                               "010203040506"},
                      ItemCase{"blanks_folded_before_cut", &Answers::name, "   ab   cd  ", "ab cd"},
                      ItemCase{"cut_counts_trimmed_text", &Answers::disk, "  S3Z9NB0K123456A9QX  ",
                               "S3Z9NB0K123456A9"},
                      ItemCase{"long_system_disk_last_without_separator", &Answers::systemDisk,
                               "C,FFFFFFFF,ABCDEFGHIJKLMN", "C,FFFFFFFF,ABCDEFGHIJKLM", true}),
    [](const ::testing::TestParamInfo<ItemCase>& info) { return std::string(info.param.name); });

TEST(WindowsRun, LongSystemDiskEndsTheRecord) {
  Answers a = Full();
  a.systemDisk = "C,FFFFFFFF,ABCDEFGHIJKLMN";  // 25 characters, no NUL
  const Result r = Collect(a);
  const std::string end = "@C,FFFFFFFF,ABCDEFGHIJKLM";
  ASSERT_GE(r.record.size(), end.size());
  EXPECT_EQ(r.record.substr(r.record.size() - end.size()), end);
}

TEST(WindowsRun, OneAdapterLeavesTheSecondPairEmptyAndUnflagged) {
  Answers a = Full();
  a.ip2 = nullptr;
  a.mac2 = nullptr;
  const Result r = Collect(a);
  EXPECT_NE(r.record.find("@192.168.100.200@@3C7C3FAABBCC@@DESKTOP-A@"), std::string::npos);
  EXPECT_EQ(r.flags, 0);
}

struct FlagCase {
  const char* name;
  const char* Answers::*field;
  int flag;
};

class WindowsRunFlag : public ::testing::TestWithParam<FlagCase> {};

TEST_P(WindowsRunFlag, EmptyItemSetsItsBit) {
  Answers a = Full();
  a.*(GetParam().field) = "   ";  // only blanks: empty after trimming
  EXPECT_EQ(Collect(a).flags, GetParam().flag);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, WindowsRunFlag,
    ::testing::Values(FlagCase{"ip1", &Answers::ip1, 0x4}, FlagCase{"ip2", &Answers::ip2, 0},
                      FlagCase{"mac1", &Answers::mac1, 0x8}, FlagCase{"mac2", &Answers::mac2, 0},
                      FlagCase{"name", &Answers::name, 0x10},
                      FlagCase{"version", &Answers::version, 0x20},
                      FlagCase{"disk", &Answers::disk, 0x40}, FlagCase{"cpu", &Answers::cpu, 0x80},
                      FlagCase{"bios", &Answers::bios, 0x100},
                      FlagCase{"systemDisk", &Answers::systemDisk, 0x200}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.name); });

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(WindowsRunOutput, SeventeenStampedLinesThenTheSummary) {
  const Result r = Collect(Full());
  const std::vector<std::string> lines = Lines(r.output);
  ASSERT_EQ(lines.size(), 17u + 1 + 12 + 1);

  const char* const messages[17] = {msg::kMsgCollectStart,
                                    msg::kMsgTypeStart,
                                    msg::kMsgTypeDone,
                                    msg::kMsgWindowsTimeStart,
                                    msg::kMsgWindowsTimeDone,
                                    msg::kMsgWindowsAddressStart,
                                    msg::kMsgWindowsAddressDone,
                                    msg::kMsgDeviceStart,
                                    msg::kMsgDeviceDone,
                                    msg::kMsgDiskStart,
                                    msg::kMsgDiskDone,
                                    msg::kMsgCpuStart,
                                    msg::kMsgCpuDone,
                                    msg::kMsgBiosStart,
                                    msg::kMsgBiosDone,
                                    msg::kMsgSystemDiskStart,
                                    msg::kMsgSystemDiskDone};
  for (int i = 0; i < 17; ++i) {
    char expected[128];
    std::snprintf(expected, sizeof expected, "09:15:02.%03d - %s", 47 + i, messages[i]);
    EXPECT_EQ(lines[i], expected) << "line " << i;
  }
  EXPECT_EQ(g_clockCalls, 17);  // a fresh stamp for every line

  EXPECT_EQ(lines[17], "");
  // Every summary value is the record's item at the same place.
  std::vector<std::string> fields;
  std::stringstream record(r.record);
  for (std::string f; std::getline(record, f, '@');) fields.push_back(f);
  ASSERT_EQ(fields.size(), 12u);
  const char* const labels[12] = {msg::kFmtTerminalType, msg::kFmtCollectTime, msg::kFmtIp1,
                                  msg::kFmtIp2,          msg::kFmtMac1,        msg::kFmtMac2,
                                  msg::kFmtDeviceName,   msg::kFmtOsVersion,   msg::kFmtDiskSerial,
                                  msg::kFmtCpuId,        msg::kFmtBiosSerial,  msg::kFmtSystemDisk};
  for (int i = 0; i < 12; ++i) {
    char expected[256];
    std::snprintf(expected, sizeof expected, labels[i], fields[i].c_str());
    EXPECT_EQ(lines[18 + i] + "\n", expected) << "summary line " << i;
  }
  EXPECT_EQ(lines[30], "");
}

TEST(WindowsRunOutput, StampIsZeroFilled) {
  Answers a = Full();
  g_answers = a;
  const WindowsSystem early = {[](LogClock* c) {
                                 c->hour = 0;
                                 c->minute = 5;
                                 c->second = 9;
                                 c->milliseconds = 7;
                               },
                               kRecorded.calendarTime,
                               kRecorded.adapterMacAndIp,
                               kRecorded.deviceNameAndOsVersion,
                               kRecorded.diskSerial,
                               kRecorded.cpuSerial,
                               kRecorded.biosSerial,
                               kRecorded.systemDiskInfo};
  char out[kWindowsOutSize];
  int len = 0;
  ::testing::internal::CaptureStdout();
  RunWindowsCollection(early, out, &len);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(output.rfind(std::string("00:05:09.007 - ") + msg::kMsgCollectStart + "\n", 0), 0u);
  EXPECT_EQ(g_logClock.milliseconds, 7);
}

}  // namespace
}  // namespace kolvex
