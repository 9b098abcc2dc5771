// What executeCMD makes of the pipe reads: appends, the NUL rule, the stop
// past 512 characters, the buffer bound and the UTF-16 mend.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_runner.h"

namespace kolvex {
namespace {

constexpr char kGuard = '\x5A';

// A capture buffer with guard bytes behind it.
struct Buffer {
  Buffer() {
    std::memset(bytes, kGuard, sizeof bytes);
    std::memset(bytes, 0, kCaptureSize);
  }
  char* out() { return bytes; }
  bool GuardIntact() const {
    for (size_t i = kCaptureSize; i < sizeof bytes; ++i)
      if (bytes[i] != kGuard) return false;
    return true;
  }
  char bytes[kCaptureSize + 64];
};

std::string Wide(const std::string& ascii, bool mark) {
  std::string out = mark ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

struct ReadsCase {
  const char* name;
  std::vector<std::string> reads;
  std::string expected;
};

class CaptureReads : public ::testing::TestWithParam<ReadsCase> {};

TEST_P(CaptureReads, AppendsWhatEachReadDelivers) {
  Buffer buffer;
  CaptureText capture(buffer.out(), kCaptureSize);
  for (const std::string& read : GetParam().reads)
    capture.Take(read.data(), static_cast<int>(read.size()));
  capture.Finish();
  EXPECT_EQ(std::string(buffer.out()), GetParam().expected);
  EXPECT_EQ(capture.length(), static_cast<int>(GetParam().expected.size()));
  EXPECT_TRUE(buffer.GuardIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Pipe, CaptureReads,
    ::testing::Values(
        ReadsCase{"nothing", {}, ""},
        ReadsCase{"one_read", {"SerialNumber\r\r\nABC\r\r\n"}, "SerialNumber\r\r\nABC\r\r\n"},
        ReadsCase{"two_reads_joined", {"Serial", "Number\r\n"}, "SerialNumber\r\n"},
        ReadsCase{"nul_ends_that_read_only", {std::string("ab\0cd", 5), "ef"}, "abef"},
        ReadsCase{"shorter_later_read", {"0123456789", "xy"}, "0123456789xy"},
        ReadsCase{"empty_read_between", {"ab", "", "cd"}, "abcd"},
        ReadsCase{"wide_with_mark", {Wide("Id\r\nX1 \r\n", true)}, "Id\r\nX1 \r\n"},
        ReadsCase{"mark_in_its_own_read", {"\xFF\xFE", Wide("Id\r\nX1", false)}, "Id\r\nX1"},
        ReadsCase{"mark_split_over_reads", {"\xFF", std::string("\xFE") + Wide("Id", false)}, "Id"},
        ReadsCase{"wide_unit_split_over_reads",
                  {Wide("AB", true).substr(0, 5), std::string(1, '\0')},
                  "AB"},
        ReadsCase{"wide_non_ascii_becomes_question_mark",
                  {std::string("\xFF\xFE"
                               "A\0\x2D\x4E"
                               "B\0",
                               8)},
                  "A?B"},
        ReadsCase{"wide_nul_unit_ends_that_read",
                  {Wide("AB", true) + std::string(2, '\0') + Wide("CD", false), Wide("EF", false)},
                  "ABEF"},
        ReadsCase{"unmarked_ascii_utf16_narrowed", {Wide("Error", false)}, "Error"},
        ReadsCase{"ff_without_fe_is_kept",
                  {"\xFF"
                   "A"},
                  "\xFF"
                  "A"},
        ReadsCase{"lone_ff_then_other_bytes",
                  {"\xFF", "AB"},
                  "\xFF"
                  "AB"},
        ReadsCase{"lone_ff_at_the_end", {"\xFF"}, "\xFF"},
        ReadsCase{"fe_ff_is_not_the_mark",
                  {"\xFE\xFF"
                   "A"},
                  "\xFE\xFF"
                  "A"}),
    [](const ::testing::TestParamInfo<ReadsCase>& info) { return std::string(info.param.name); });

TEST(CaptureStop, ContinuesUpTo512CharactersAndStopsPastThem) {
  Buffer buffer;
  CaptureText capture(buffer.out(), kCaptureSize);
  const std::string block(256, 'a');
  EXPECT_TRUE(capture.Take(block.data(), 256));
  EXPECT_TRUE(capture.Take(block.data(), 256));  // exactly 512: keep reading
  EXPECT_FALSE(capture.Take("b", 1));            // 513: enough
  EXPECT_EQ(capture.length(), 513);
}

TEST(CaptureStop, FullReadsNeverPassTheBuffer) {
  // 512 characters, then a full 512-byte read: 1024 characters would not
  // leave room for the NUL, so the last one is dropped.
  Buffer buffer;
  CaptureText capture(buffer.out(), kCaptureSize);
  const std::string block(kReadBlock, 'x');
  EXPECT_TRUE(capture.Take(block.data(), kReadBlock));
  EXPECT_FALSE(capture.Take(block.data(), kReadBlock));
  EXPECT_EQ(capture.length(), kCaptureSize - 1);
  EXPECT_EQ(std::strlen(buffer.out()), static_cast<size_t>(kCaptureSize - 1));
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(CaptureStop, WideTextCountsNarrowCharacters) {
  Buffer buffer;
  CaptureText capture(buffer.out(), kCaptureSize);
  const std::string first = Wide(std::string(255, 'w'), true);  // 512 bytes
  EXPECT_TRUE(capture.Take(first.data(), static_cast<int>(first.size())));
  const std::string more = Wide(std::string(256, 'v'), false);  // 512 bytes
  EXPECT_TRUE(capture.Take(more.data(), static_cast<int>(more.size())));
  EXPECT_EQ(capture.length(), 511);
  EXPECT_FALSE(capture.Take(more.data(), static_cast<int>(more.size())));
  EXPECT_EQ(capture.length(), 767);
}

TEST(CaptureStop, WideTextNeverPassesTheBuffer) {
  Buffer buffer;
  std::memset(buffer.out(), 'p', 1000);  // 1000 characters already there
  CaptureText capture(buffer.out(), kCaptureSize);
  const std::string wide = Wide(std::string(100, 'q'), true);
  EXPECT_FALSE(capture.Take(wide.data(), static_cast<int>(wide.size())));
  EXPECT_EQ(capture.length(), kCaptureSize - 1);
  EXPECT_EQ(buffer.out()[kCaptureSize - 2], 'q');
  EXPECT_EQ(buffer.out()[kCaptureSize - 1], '\0');
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(CaptureStart, AppendsBehindTextAlreadyInTheBuffer) {
  Buffer buffer;
  std::strcpy(buffer.out(), "head:");
  CaptureText capture(buffer.out(), kCaptureSize);
  capture.Take("tail", 4);
  EXPECT_STREQ(buffer.out(), "head:tail");
}

}  // namespace
}  // namespace kolvex
