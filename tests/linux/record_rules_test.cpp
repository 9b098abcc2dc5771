// Normalisation, record assembly and flags, on both platforms' rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "terminal_record.h"

namespace kolvex {
namespace {

struct TrimCase {
  const char* what;
  std::string input;  // bytes of the buffer; the rest of it is filled with 'X'
  int len;
  std::string expected;  // the text up to the NUL after trimming
};

class TrimBufferTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimBufferTest, CompactsInPlace) {
  const TrimCase& c = GetParam();
  char buf[64];
  std::memset(buf, 'X', sizeof buf);
  std::memcpy(buf, c.input.data(), c.input.size());
  TrimBuffer(buf, c.len);
  EXPECT_EQ(std::string(buf, strnlen(buf, sizeof buf)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimBufferTest,
    ::testing::Values(TrimCase{"FoldsAndStrips", std::string("  my   host  \0", 14), 14, "my host"},
                      TrimCase{"TabIsNoBlank", std::string("\tabc\0", 5), 5, "\tabc"},
                      TrimCase{"OnlyBlanks", std::string("   \0", 4), 4, ""},
                      TrimCase{"CarriageReturnIsOrdinary", std::string("a \r b\0", 6), 6, "a \r b"},
                      TrimCase{"EmptyStaysEmpty", std::string("\0abc", 4), 4, ""},
                      TrimCase{"SingleLetters", std::string(" a  b \0", 7), 7, "a b"}),
    [](const ::testing::TestParamInfo<TrimCase>& info) { return std::string(info.param.what); });

TEST(TrimBuffer, NonPositiveLengthChangesNothing) {
  for (int len : {0, -1, -100}) {
    char buf[8] = "  ab  ";
    TrimBuffer(buf, len);
    EXPECT_STREQ(buf, "  ab  ") << len;
  }
}

TEST(TrimBuffer, NoNulInRangeStoresNoTerminator) {
  // Ten bytes examined, no NUL among them: the compacted text is followed by
  // whatever the old bytes were.
  char buf[17] = " ab  cd efX12345";
  TrimBuffer(buf, 10);
  EXPECT_EQ(std::string(buf, 10), std::string("ab cd efef", 10));
}

TEST(NormaliseItem, TrimsBeforeCutting) {
  struct {
    const char* raw;
    int width;
    const char* expected;
  } cases[] = {
      {"   abcdefghijk", 9, "abcdefghi"},  // leading blanks never use width
      {"abcdefgh ijk", 9, "abcdefgh "},    // the cut may leave a blank
      {"build-server-07", 9, "build-ser"},
      {"5.15.0-91-generic", 5, "5.15."},
      {"abcdefghi", 9, "abcdefghi"},   // exactly the width
      {"abcdefghij", 9, "abcdefghi"},  // one more is lost
      // Never half a UTF-8 character: the cut goes before it.
      {"b\xc3\xb6rse-b\xc3\xbcro", 9, "b\xc3\xb6rse-b"},
      {"abcdefg\xe2\x82\xac", 9, "abcdefg"},
      {"abcdef\xe2\x82\xac!", 9, "abcdef\xe2\x82\xac"},  // it ends at the width
      {"abcdef\xf0\x9f\x98\x80", 9, "abcdef"},           // three of its four bytes fit
      {"abcdefgh\xb6\xb6", 9, "abcdefgh\xb6"},           // no character: cut at the width
  };
  for (const auto& c : cases) {
    char buf[50] = {0};
    std::strcpy(buf, c.raw);
    NormaliseItem(buf, 50, c.width);
    EXPECT_STREQ(buf, c.expected) << c.raw;
  }
}

TEST(NormaliseItem, FullDiskSerialIsCutWithoutTerminatorFromTrim) {
  char serial[256];
  std::memset(serial, 'Z', 255);
  serial[255] = 'Q';  // beyond the 255 bytes trimmed: must not be read into the item
  const ItemRule& rule = kLinuxRecordRules.items[kDiskSerial];
  NormaliseItem(serial, rule.trimLength, rule.width);
  EXPECT_EQ(std::string(serial), std::string(16, 'Z'));
}

struct RulesRow {
  ItemIndex index;
  int linuxSize, linuxTrim, windowsSize, windowsTrim, width, flag;
};

TEST(RecordRules, ItemTableOfBothPlatforms) {
  const RulesRow rows[] = {
      {kCollectTime, 20, 20, 20, 20, 19, 0x2}, {kIp1, 40, 40, 40, 40, 39, 0x4},
      {kIp2, 40, 40, 40, 40, 39, 0},           {kMac1, 30, 30, 30, 30, 12, 0x8},
      {kMac2, 30, 30, 30, 30, 12, 0},          {kDeviceName, 50, 50, 61, 61, 9, 0x10},
      {kOsVersion, 50, 50, 20, 20, 5, 0x20},   {kDiskSerial, 256, 255, 50, 50, 16, 0x40},
      {kCpuId, 50, 50, 50, 50, 16, 0x80},      {kBiosSerial, 50, 50, 50, 50, 10, 0x100},
  };
  for (const RulesRow& r : rows) {
    const ItemRule& l = kLinuxRecordRules.items[r.index];
    const ItemRule& w = kWindowsRecordRules.items[r.index];
    EXPECT_EQ(l.bufferSize, r.linuxSize) << r.index;
    EXPECT_EQ(l.trimLength, r.linuxTrim) << r.index;
    EXPECT_EQ(w.bufferSize, r.windowsSize) << r.index;
    EXPECT_EQ(w.trimLength, r.windowsTrim) << r.index;
    EXPECT_EQ(l.width, r.width) << r.index;
    EXPECT_EQ(w.width, r.width) << r.index;
    EXPECT_EQ(l.flag, r.flag) << r.index;
    EXPECT_EQ(w.flag, r.flag) << r.index;
  }
  const ItemRule& sys = kWindowsRecordRules.items[kSystemDisk];
  EXPECT_EQ(sys.bufferSize, 25);
  EXPECT_EQ(sys.width, 24);
  EXPECT_EQ(sys.flag, 0x200);
  EXPECT_STREQ(kLinuxRecordRules.terminalType, "2");
  EXPECT_STREQ(kWindowsRecordRules.terminalType, "1");
  EXPECT_EQ(kLinuxRecordRules.itemCount, 10);
  EXPECT_EQ(kWindowsRecordRules.itemCount, 11);
}

// Every item at its width: the longest records of both platforms.
TEST(TerminalRecord, LongestRecordsFitAndCountExactly) {
  for (const RecordRules* rules : {&kLinuxRecordRules, &kWindowsRecordRules}) {
    ItemBuffers items;
    std::memset(&items, 0, sizeof items);
    TerminalRecord record(*rules);
    record.AppendTerminalType();
    for (int i = 0; i < rules->itemCount; ++i) {
      char* buf = items.at(static_cast<ItemIndex>(i));
      std::memset(buf, 'w', static_cast<size_t>(rules->items[i].bufferSize - 1));
      record.AddItem(static_cast<ItemIndex>(i), buf);
    }
    const int expected = rules == &kLinuxRecordRules ? 188 : 213;
    EXPECT_EQ(record.length(), expected);
    EXPECT_EQ(static_cast<int>(std::strlen(record.text())), expected);
    EXPECT_NE(record.text()[expected - 1], '@');
    EXPECT_EQ(MissingItemFlags(*rules, items), 0);

    char out[300];
    std::memset(out, '#', sizeof out);
    int len = -1;
    record.HandOver(out, len);
    EXPECT_EQ(len, expected);
    EXPECT_EQ(out[expected], '\0');
    EXPECT_EQ(out[expected + 1], '#') << "nothing is written past the record's NUL";
  }
}

TEST(TerminalRecord, EmptyItemsKeepTheirSeparators) {
  ItemBuffers items;
  std::memset(&items, 0, sizeof items);
  std::strcpy(items.collectTime, "2026-12-06 09:15:02");
  TerminalRecord record(kWindowsRecordRules);
  record.AppendTerminalType();
  for (int i = 0; i < kWindowsRecordRules.itemCount; ++i)
    record.AddItem(static_cast<ItemIndex>(i), items.at(static_cast<ItemIndex>(i)));
  EXPECT_STREQ(record.text(), "1@2026-12-06 09:15:02@@@@@@@@@@");
  EXPECT_EQ(record.length(), 31);
  EXPECT_EQ(MissingItemFlags(kWindowsRecordRules, items), 0x3FC);
}

// Receivers split on "@": one inside an item, wherever it stands, becomes
// "_" on both platforms, and the record keeps one separator per item.
TEST(TerminalRecord, SeparatorsInsideItemsBecomeTheStandIn) {
  for (const RecordRules* rules : {&kLinuxRecordRules, &kWindowsRecordRules}) {
    ItemBuffers items;
    std::memset(&items, 0, sizeof items);
    std::strcpy(items.diskSerial, "SN@1234");
    std::strcpy(items.biosSerial, "@VM@42_");
    std::strcpy(items.systemDisk, "C@");
    TerminalRecord record(*rules);
    record.AppendTerminalType();
    for (int i = 0; i < rules->itemCount; ++i)
      record.AddItem(static_cast<ItemIndex>(i), items.at(static_cast<ItemIndex>(i)));
    const std::string text = record.text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '@'), rules->itemCount) << text;
    EXPECT_NE(text.find("@SN_1234@@_VM_42_"), std::string::npos) << text;
    EXPECT_EQ(record.length(), static_cast<int>(text.size()));
    EXPECT_STREQ(items.diskSerial, "SN_1234");  // what the summary shows
  }
}

TEST(FormatCollectionTime, FieldsAndBounds) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 1;
  t.tm_mday = 1;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  char buf[24];
  std::memset(buf, '#', sizeof buf);
  FormatCollectionTime(t, buf);
  EXPECT_STREQ(buf, "2026-02-01 09:05:07");

  // A five-digit year would need 20 characters: nothing past the 20 bytes.
  t.tm_year = 10000 - 1900;
  std::memset(buf, '#', sizeof buf);
  FormatCollectionTime(t, buf);
  EXPECT_EQ(buf[20], '#');
  EXPECT_LT(std::strlen(buf), 20u);
}

}  // namespace
}  // namespace kolvex
