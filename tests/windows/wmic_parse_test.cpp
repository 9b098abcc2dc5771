// The wmic value parse and the value rules it shares with the WMI answers,
// on made-up text and on recorded wmic output.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "command_runner.h"
#include "test_data.h"
#include "wmic_probes.h"

namespace kolvex {
namespace {

struct ValueCase {
  const char* text;
  int most;
  const char* expected;
};

class FirstValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(FirstValue, StopsAtBlankLineEndOrLimit) {
  char out[50];
  std::memset(out, 0, sizeof out);
  const int copied = CopyFirstValue(GetParam().text, out, GetParam().most);
  EXPECT_STREQ(out, GetParam().expected);
  EXPECT_EQ(copied, static_cast<int>(std::strlen(GetParam().expected)));
}

INSTANTIATE_TEST_SUITE_P(Rules, FirstValue,
                         ::testing::Values(ValueCase{"PF1ABC2D", 10, "PF1ABC2D"},
                                           ValueCase{"VM-42 1a 2b", 10, "VM-42"},
                                           ValueCase{"ABCDEFGHIJKL", 10, "ABCDEFGHIJ"},
                                           ValueCase{"0F8BFBFF000A0655", 16, "0F8BFBFF000A0655"},
                                           ValueCase{"0F8BFBFF000A0655X", 16, "0F8BFBFF000A0655"},
                                           ValueCase{"AB\rCD", 16, "AB"},
                                           ValueCase{"AB\nCD", 16, "AB"},
                                           ValueCase{"AB\tCD", 16, "AB\tCD"},  // a tab is no stop
                                           ValueCase{" ABC", 16, ""}, ValueCase{"", 16, ""}),
                         [](const ::testing::TestParamInfo<ValueCase>& info) {
                           return testing::CaseName(info.param.text);
                         });

TEST(FirstValue, WritesNoNulOfItsOwn) {
  char out[8];
  std::memset(out, '#', sizeof out);
  CopyFirstValue("AB CD", out, 7);
  EXPECT_EQ(std::string(out, 4), "AB##");
}

// Recorded output as executeCMD would capture it (in pipe reads of 512
// bytes), then parsed.
std::string Captured(const std::string& raw) {
  char out[kCaptureSize];
  std::memset(out, 0, sizeof out);
  CaptureText capture(out, kCaptureSize);
  for (size_t at = 0; at < raw.size(); at += kReadBlock) {
    const size_t n = std::min<size_t>(kReadBlock, raw.size() - at);
    if (!capture.Take(raw.data() + at, static_cast<int>(n))) break;
  }
  capture.Finish();
  return out;
}

const WmicQuery* const kDisk = &kDiskSerialQuery;
const WmicQuery* const kCpu = &kCpuIdQuery;
const WmicQuery* const kBios = &kBiosSerialQuery;

struct ParseCase {
  const char* name;
  std::string output;  // as wmic writes it into the pipe
  const WmicQuery* query;
  const char* expected;
  WmicReading reading = WmicReading::kValue;
};

class WmicParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(WmicParse, TakesTheFirstValueLine) {
  char out[50];
  std::memset(out, 0, sizeof out);
  const WmicReading reading =
      ParseWmicCapture(Captured(GetParam().output).c_str(), *GetParam().query, out);
  EXPECT_STREQ(out, GetParam().expected);
  EXPECT_EQ(reading, GetParam().reading);
}

constexpr WmicReading kNone = WmicReading::kNothing;
constexpr WmicReading kReport = WmicReading::kReport;

INSTANTIATE_TEST_SUITE_P(
    Captures, WmicParse,
    ::testing::Values(
        ParseCase{"cpu_double_cr", "ProcessorId  \r\r\n0F8BFBFF000A0655  \r\r\n", kCpu,
                  "0F8BFBFF000A0655"},
        ParseCase{"first_of_two_disks",
                  "SerialNumber\r\r\nS3Z1NB0K123456A\r\r\nWD-WX11A12B3456\r\r\n", kDisk,
                  "S3Z1NB0K123456A"},
        ParseCase{"disk_cut_to_16", "SerialNumber\r\r\n0025_3886_81B2_41C7_8CE3\r\r\n", kDisk,
                  "0025_3886_81B2_4"},
        ParseCase{"bios_single_cr", "SerialNumber\r\nPF1ABC2D\r\n", kBios, "PF1ABC2D"},
        ParseCase{"bios_stops_at_blank", "SerialNumber\r\nVM-42 1a 2b\r\n", kBios, "VM-42"},
        ParseCase{"oem_placeholder", "SerialNumber\r\nTo be filled by O.E.M.\r\n", kBios, "To"},
        ParseCase{"bios_cut_to_10", "SerialNumber\r\nABCDEFGHIJKL\r\n", kBios, "ABCDEFGHIJ"},
        ParseCase{"value_starts_with_blank", "SerialNumber\r\n  ABC\r\n", kBios, "", kNone},
        ParseCase{"no_line_end", "SerialNumber ABC", kBios, "", kNone},
        ParseCase{"only_lf", "SerialNumber\nABC\n", kBios, "", kNone},
        ParseCase{"nothing_after_header", "SerialNumber\r\n", kBios, "", kNone},
        ParseCase{"empty", "", kDisk, "", kNone},
        // Error reports are no value, whatever their first value line holds.
        ParseCase{"error_code_lines",
                  "ERROR:\r\r\nCode = 0x80041003\r\r\nDescription = Access denied\r\r\n", kCpu, "",
                  kReport},
        ParseCase{"error_description_only", "SerialNumber\r\nDescription = Invalid class \r\n",
                  kBios, "", kReport},
        ParseCase{"error_other_host", "Error: Alias not found.\r\nX\r\n", kBios, "", kReport},
        ParseCase{"value_containing_error", "SerialNumber\r\nNOERROR:1\r\n", kBios, "NOERROR:1"},
        // Translated reports: no header, so no value, whatever the language.
        // "节点 - KOLVEX-PC", "错误:", "描述 = 无效类" in GBK.
        ParseCase{"report_chinese_gbk",
                  "\xBD\xDA\xB5\xE3 - KOLVEX-PC\r\r\n\xB4\xED\xCE\xF3:\r\r\n"
                  "\xC3\xE8\xCA\xF6 = \xCE\xDE\xD0\xA7\xC0\xE0 \r\r\n",
                  kDisk, "", kReport},
        ParseCase{"report_german",
                  "Knoten - KOLVEX-PC\r\r\nFEHLER:\r\r\nBeschreibung = Ung\x81ltige Klasse \r\r\n",
                  kCpu, "", kReport},
        // wine's own error text: UTF-16 without a byte-order mark.
        ParseCase{"report_utf16_unmarked",
                  std::string("E\0r\0r\0o\0r\0:\0 \0A\0l\0i\0a\0s\0\n\0", 26), kBios, "", kReport}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

struct RecordedCase {
  const char* file;
  const WmicQuery* query;
  const char* expected;
};

class RecordedOutput : public ::testing::TestWithParam<RecordedCase> {};

TEST_P(RecordedOutput, YieldsTheValue) {
  const std::string raw = testing::ReadDataFile(GetParam().file);
  ASSERT_TRUE(GetParam().file == std::string("empty.out") || !raw.empty()) << GetParam().file;
  char out[50];
  std::memset(out, 0, sizeof out);
  ParseWmicCapture(Captured(raw).c_str(), *GetParam().query, out);
  EXPECT_STREQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, RecordedOutput,
                         ::testing::Values(RecordedCase{"ansi-diskdrive.out", kDisk,
                                                        "0025_3886_81B2_4"},
                                           RecordedCase{"ansi-cpu.out", kCpu, "0F8BFBFF000A0655"},
                                           RecordedCase{"ansi-bios.out", kBios, "VM-42"},
                                           RecordedCase{"ansi-bios-oem.out", kBios, "To"},
                                           // An error report is no value.
                                           RecordedCase{"ansi-error.out", kBios, ""},
                                           RecordedCase{"utf16-cpu.out", kCpu, "178BFBFF00A20F12"},
                                           RecordedCase{"wine-diskdrive.out", kDisk, "WINEHDISK"},
                                           RecordedCase{"wine-bios.out", kBios, "0"},
                                           // Unmarked UTF-16 is read as such: a report.
                                           RecordedCase{"wine-error.out", kBios, ""},
                                           RecordedCase{"empty.out", kDisk, ""}),
                         [](const ::testing::TestParamInfo<RecordedCase>& info) {
                           return testing::CaseName(info.param.file);
                         });

TEST(RecordedOutput, WineCpuIdIsTheSecondLine) {
  const std::string raw = testing::ReadDataFile("wine-cpu.out");
  const std::string text = Captured(raw);
  ASSERT_EQ(text.rfind("ProcessorId", 0), 0u) << text;
  const size_t start = text.find("\r\n") + 2;
  const std::string expected = text.substr(start, text.find(' ', start) - start);
  ASSERT_EQ(expected.size(), 16u);
  char out[50];
  std::memset(out, 0, sizeof out);
  ParseWmicCapture(text.c_str(), kCpuIdQuery, out);
  EXPECT_EQ(std::string(out), expected);
}

}  // namespace
}  // namespace kolvex
