// The decoded tables against the tool they stand in for: generated tables
// go to the installed dmidecode as a dump (--from-dump: the entry point at
// 0, holding the address 32, the table at 32) and to the decoder; each item
// must come out the same.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "command_runner.h"
#include "smbios_tables.h"
#include "test_support.h"
#include "tool_probes.h"

namespace kolvex {
namespace {

using Bytes = std::vector<unsigned char>;

// What the generated tables must have covered between them.
enum Cover {
  kSm3,
  kSm2,
  kLegacy,
  kBadSum,
  kShort,
  kUnended,
  kZeroIndex,
  kBadIndex,
  kOddByte,
  kKeyInString,
  kPast512,
  kLengthOrCount,
  kCovers
};

class Generator {
 public:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  bool cover[kCovers] = {};

  std::string Text() {
    static const char* const kPieces[] = {
        "ID:", "ID",   "Serial Number:", "Serial Number", " ",  "X1-42",
        "\t",  "\x01", "\x7f",           "\xe4\xb8\xad",  "Not"};
    std::string text;
    for (int i = 1 + Pick(Chance(15) ? 60 : 6); i > 0; --i) text += kPieces[Pick(11)];
    if (Chance(8)) text += std::string(static_cast<std::size_t>(200 + Pick(700)), 'L');
    for (unsigned char c : text) cover[kOddByte] |= c < 32 || c >= 127;
    cover[kKeyInString] |=
        text.find("ID:") != std::string::npos || text.find("Serial Number:") != std::string::npos;
    cover[kPast512] |= text.size() > 512;
    return text;
  }

  void Structure(Bytes& table) {
    static const unsigned char kTypes[] = {4, 4, 4, 1, 1, 1, 126, 127, 0, 200};
    const unsigned char type = kTypes[Pick(sizeof kTypes)];
    int length = type == 4 ? 0x30 : type == 1 ? 0x1B : 4 + Pick(20);
    if (Chance(15)) length = 4 + Pick(0x2C);  // often below what the type prints
    if (Chance(3)) cover[kShort] = (length = Pick(4), true);
    Bytes data(static_cast<std::size_t>(std::max(length, 4)));
    for (auto& b : data) b = static_cast<unsigned char>(random_());
    data[0] = type;
    data[1] = static_cast<unsigned char>(length);
    const int strings = Pick(5);
    for (std::size_t at = 4; at < data.size() && at < 0x1B; ++at) {
      if (!Chance(60)) continue;
      data[at] = static_cast<unsigned char>(Pick(strings + 2));
      cover[kZeroIndex] |= data[at] == 0;
      cover[kBadIndex] |= data[at] > strings;
    }
    table.insert(table.end(), data.begin(), data.begin() + std::max(length, 4));
    for (int i = 0; i < strings; ++i) {
      const std::string text = Text();
      table.insert(table.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    if (strings == 0) table.push_back(0);
    table.push_back(0);
  }

  // An entry point of one of the three kinds in the dump's form.
  Bytes Entry(std::size_t tableSize, int count) {
    Bytes entry(32, 0);
    auto put = [&](std::size_t at, std::uint64_t value, std::size_t bytes) {
      for (std::size_t i = 0; i < bytes; ++i) entry[at + i] = (value >> (8 * i)) & 0xFF;
    };
    auto sum = [&](std::size_t at, std::size_t from, std::size_t length) {
      unsigned total = 0;
      for (std::size_t i = from; i < from + length && i < 32; ++i) total += entry[i];
      if (at >= from && at < from + length)
        entry[at] = static_cast<unsigned char>(entry[at] - total);
    };
    std::uint64_t length = tableSize;
    if (Chance(12))
      cover[kLengthOrCount] =
          (length = static_cast<std::uint64_t>(Pick(static_cast<int>(tableSize) + 40)), true);
    if (Chance(12)) cover[kLengthOrCount] = (count = Pick(count + 3), true);
    const int kind = Pick(3);
    cover[kind == 0 ? kSm3 : kind == 1 ? kSm2 : kLegacy] = true;
    if (kind == 0) {
      std::memcpy(entry.data(), "_SM3_\0\x18\x03", 8);
      if (Chance(5)) entry[6] = static_cast<unsigned char>(Pick(0x40));
      put(0x0C, length, 4);
      put(0x10, 32, 8);
      sum(5, 0, entry[6]);
    } else if (kind == 1) {
      std::memcpy(entry.data(), "_SM_\0\x1f\x02\x08", 8);
      if (Chance(5)) entry[5] = static_cast<unsigned char>(Pick(0x40));
      std::memcpy(entry.data() + 0x10, "_DMI_", 5);
      put(0x16, length & 0xFFFF, 2);
      put(0x18, 32, 4);
      put(0x1C, static_cast<std::uint64_t>(count), 2);
      sum(0x15, 0x10, 0x0F);
      if (Chance(5)) cover[kBadSum] = (entry[0x16] ^= 0x40, true);  // the inner sum alone
      sum(4, 0, entry[5]);
    } else {
      std::memcpy(entry.data(), "_DMI_", 5);
      entry[0x0E] = 0x21;
      put(0x06, length & 0xFFFF, 2);
      put(0x08, 32, 4);
      put(0x0C, static_cast<std::uint64_t>(count), 2);
      sum(5, 0, 0x0F);
    }
    if (Chance(6)) cover[kBadSum] = (entry[static_cast<std::size_t>(Pick(32))] ^= 0x40, true);
    return entry;
  }

 private:
  std::mt19937 random_{20261208};
};

TEST(SmbiosTables, AgreeWithTheInstalledDmidecode) {
  if (access("/usr/sbin/dmidecode", X_OK) != 0) GTEST_SKIP() << "dmidecode is not installed";
  // No "ID" in the path: dmidecode names the dump file in a line of its own.
  const std::string dir = "/tmp/kolvex-smbios-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  Generator generate;
  constexpr int kTables = 500;
  std::vector<Bytes> entries, tables;
  for (int n = 0; n < kTables; ++n) {
    Bytes table;
    const int structures = 1 + generate.Pick(8);
    for (int i = 0; i < structures; ++i) generate.Structure(table);
    if (generate.Chance(8)) {
      table.resize(table.size() - 1 - static_cast<std::size_t>(generate.Pick(6)));
      generate.cover[kUnended] = true;
    }
    entries.push_back(generate.Entry(table.size(), structures));
    tables.push_back(table);
    std::ofstream dump(dir + "/" + std::to_string(n), std::ios::binary);
    dump.write(reinterpret_cast<const char*>(entries.back().data()), 32);
    dump.write(reinterpret_cast<const char*>(table.data()),
               static_cast<std::streamsize>(table.size()));
  }
  // One shell for all; each output ends with a line dmidecode cannot print.
  const std::string output = testing::RunCommand(
      "cd " + dir + " && for n in $(seq 0 " + std::to_string(kTables - 1) +
      "); do for t in 4 1; do LC_ALL=C /usr/sbin/dmidecode --from-dump $n -t $t 2>/dev/null;"
      " printf '\\001\\n'; done; done; rm -rf " +
      dir);
  std::size_t at = 0;
  for (int n = 0; n < kTables; ++n) {
    for (const SmbiosItem* item : {&kSmbiosProcessorId, &kSmbiosSystemSerial}) {
      const std::size_t end = output.find("\001\n", at);
      ASSERT_NE(end, std::string::npos) << "dmidecode's output ended before table " << n;
      // The lines grep passes, read as the runner reads the pipeline.
      std::string passed;
      for (std::size_t line = at, next; line < end; line = next) {
        next = output.find('\n', line) + 1;
        if (output.substr(line, next - line).find(item->pattern) != std::string::npos)
          passed += output.substr(line, next - line);
      }
      at = end + 2;
      char captured[kCaptureCapacity] = {};
      std::size_t length = 0;
      for (std::size_t p = 0, chunk; p < passed.size(); p += chunk) {
        chunk = NextChunkLength(passed.data() + p, passed.size() - p, 512, true);
        if (!AppendChunk(captured, sizeof captured, &length, passed.data() + p, chunk, 512)) break;
      }
      char expected[50] = {};
      ParseToolValue(captured, *item->rule, expected, sizeof expected);
      char decoded[50] = {};
      const std::size_t i = static_cast<std::size_t>(n);
      SmbiosValue(entries[i].data(), 32, tables[i].data(), tables[i].size(), *item, decoded,
                  sizeof decoded);
      ASSERT_STREQ(decoded, expected) << "table " << n << ", type " << int{item->type};
    }
  }
  for (int c = 0; c < kCovers; ++c) EXPECT_TRUE(generate.cover[c]) << "never generated: " << c;
  std::printf("%d generated tables agree with dmidecode\n", kTables);
}

}  // namespace
}  // namespace kolvex
