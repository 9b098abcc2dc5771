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

struct ParseCase {
  const char* name;
  std::string capture;
  int most;
  const char* expected;
};

class WmicParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(WmicParse, TakesTheFirstValueLine) {
  char out[50];
  std::memset(out, 0, sizeof out);
  ParseWmicCapture(GetParam().capture.c_str(), out, GetParam().most);
  EXPECT_STREQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, WmicParse,
    ::testing::Values(
        ParseCase{"cpu_double_cr", "ProcessorId  \r\r\n0F8BFBFF000A0655  \r\r\n", 16,
                  "0F8BFBFF000A0655"},
        ParseCase{"first_of_two_disks",
                  "SerialNumber\r\r\nS3Z1NB0K123456A\r\r\nWD-WX11A12B3456\r\r\n", 16,
                  "S3Z1NB0K123456A"},
        ParseCase{"disk_cut_to_16", "SerialNumber\r\r\n0025_3886_81B2_41C7_8CE3\r\r\n", 16,
                  "0025_3886_81B2_4"},
        ParseCase{"bios_single_cr", "SerialNumber\r\nPF1ABC2D\r\n", 10, "PF1ABC2D"},
        ParseCase{"bios_stops_at_blank", "SerialNumber\r\nVM-42 1a 2b\r\n", 10, "VM-42"},
        ParseCase{"oem_placeholder", "SerialNumber\r\nTo be filled by O.E.M.\r\n", 10, "To"},
        ParseCase{"bios_cut_to_10", "SerialNumber\r\nABCDEFGHIJKL\r\n", 10, "ABCDEFGHIJ"},
        ParseCase{"value_starts_with_blank", "SerialNumber\r\n  ABC\r\n", 10, ""},
        ParseCase{"no_line_end", "SerialNumber ABC", 10, ""},
        ParseCase{"only_lf", "SerialNumber\nABC\n", 10, ""},
        ParseCase{"nothing_after_header", "SerialNumber\r\n", 10, ""},
        ParseCase{"empty", "", 16, ""},
        // Error reports are no value, whatever their first value line holds.
        ParseCase{"error_code_lines",
                  "ERROR:\r\r\nCode = 0x80041003\r\r\nDescription = Access denied\r\r\n", 16, ""},
        ParseCase{"error_description_only", "SerialNumber\r\nDescription = Invalid class \r\n", 10,
                  ""},
        ParseCase{"error_other_host", "Error: Alias not found.\r\nX\r\n", 10, ""},
        ParseCase{"value_containing_error", "SerialNumber\r\nNOERROR:1\r\n", 10, "NOERROR:1"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

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

struct RecordedCase {
  const char* file;
  int most;
  const char* expected;
};

class RecordedOutput : public ::testing::TestWithParam<RecordedCase> {};

TEST_P(RecordedOutput, YieldsTheValue) {
  const std::string raw = testing::ReadDataFile(GetParam().file);
  ASSERT_TRUE(GetParam().file == std::string("empty.out") || !raw.empty()) << GetParam().file;
  char out[50];
  std::memset(out, 0, sizeof out);
  ParseWmicCapture(Captured(raw).c_str(), out, GetParam().most);
  EXPECT_STREQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordedOutput,
    ::testing::Values(RecordedCase{"ansi-diskdrive.out", 16, "0025_3886_81B2_4"},
                      RecordedCase{"ansi-cpu.out", 16, "0F8BFBFF000A0655"},
                      RecordedCase{"ansi-bios.out", 10, "VM-42"},
                      RecordedCase{"ansi-bios-oem.out", 10, "To"},
                      // An error report is no value.
                      RecordedCase{"ansi-error.out", 10, ""},
                      RecordedCase{"utf16-cpu.out", 16, "178BFBFF00A20F12"},
                      RecordedCase{"wine-diskdrive.out", 16, "WINEHDISK"},
                      RecordedCase{"wine-bios.out", 10, "0"},
                      // Unmarked UTF-16 is not mended: the NUL after the
                      // first letter ends the capture.
                      RecordedCase{"wine-error.out", 10, ""}, RecordedCase{"empty.out", 16, ""}),
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
  ParseWmicCapture(text.c_str(), out, 16);
  EXPECT_EQ(std::string(out), expected);
}

}  // namespace
}  // namespace kolvex
