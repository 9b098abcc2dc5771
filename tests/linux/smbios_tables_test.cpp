// The decoded tables against the tool they stand in for: generated tables
// go to the installed dmidecode as a dump (--from-dump: entry point at 0,
// table at 32, the entry point's address rewritten to 32) and to the
// decoder; each item must come out the same.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "command_runner.h"
#include "smbios_tables.h"
#include "tool_probes.h"

namespace kolvex {
namespace {

using Bytes = std::vector<unsigned char>;

// What the generated tables must have covered between them.
enum Cover {
  kEntry3,
  kEntry2,
  kEntryLegacy,
  kBadChecksum,
  kShortStructure,
  kUnendedStrings,
  kZeroIndex,
  kBadIndexSeen,
  kOddBytes,
  kKeyInString,
  kLongCapture,
  kLengthOrCountOff,
  kCoverCount
};

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  std::string Text(bool* cover) {
    static const char* const kPieces[] = {"ID:",  "ID",      "Serial Number:", "Serial Number",
                                          " ",    "Intel",   "X1-42",          "\t",
                                          "\x01", "\x7f",    "\xe4\xb8\xad",   ":",
                                          "Not",  "CPU ID ", "Serial Numbe",   "  a  b "};
    std::string text;
    const int pieces = 1 + Pick(Chance(15) ? 60 : 6);
    for (int i = 0; i < pieces; ++i) text += kPieces[Pick(16)];
    if (Chance(8)) text += std::string(static_cast<std::size_t>(200 + Pick(700)), 'L');
    for (unsigned char c : text)
      if (c < 32 || c >= 127) cover[kOddBytes] = true;
    if (text.find("ID:") != std::string::npos || text.find("Serial Number:") != std::string::npos)
      cover[kKeyInString] = true;
    if (text.size() > 512) cover[kLongCapture] = true;
    return text;
  }

  void Structure(Bytes& table, bool* cover) {
    static const unsigned char kTypes[] = {4, 4, 4, 1, 1, 1, 126, 127, 0, 3, 200};
    const unsigned char type = kTypes[Pick(sizeof kTypes)];
    int length = type == 4 ? 0x30 : type == 1 ? 0x1B : 4 + Pick(20);
    if (Chance(15)) length = 4 + Pick(0x2C);  // often below what the type prints
    if (Chance(3)) {
      length = Pick(4);
      cover[kShortStructure] = true;
    }
    Bytes data(static_cast<std::size_t>(std::max(length, 4)));
    for (auto& b : data) b = static_cast<unsigned char>(random_());
    data[0] = type;
    data[1] = static_cast<unsigned char>(length);
    const int strings = Pick(5);
    for (std::size_t at = 4; at < data.size() && at < 0x1B; ++at) {
      if (Chance(60)) {
        data[at] = static_cast<unsigned char>(Pick(strings + 2));
        if (data[at] == 0) cover[kZeroIndex] = true;
        if (data[at] > strings) cover[kBadIndexSeen] = true;
      }
    }
    table.insert(table.end(), data.begin(), data.begin() + std::max(length, 4));
    for (int i = 0; i < strings; ++i) {
      const std::string text = Text(cover);
      table.insert(table.end(), text.begin(), text.end());
      table.push_back(0);
    }
    if (strings == 0) table.push_back(0);
    table.push_back(0);
  }

  // One entry point of the given kind for table; the address it holds is
  // a physical one, as the kernel's copy has.
  Bytes Entry(int kind, std::size_t tableSize, int count, bool* cover) {
    Bytes entry(32, 0);
    std::uint32_t length = static_cast<std::uint32_t>(tableSize);
    if (Chance(12)) {
      length = static_cast<std::uint32_t>(Pick(static_cast<int>(tableSize) + 40));
      cover[kLengthOrCountOff] = true;
    }
    if (Chance(12)) {
      count = Pick(count + 3);
      cover[kLengthOrCountOff] = true;
    }
    auto put = [&](std::size_t at, std::uint64_t value, int bytes) {
      for (int i = 0; i < bytes; ++i)
        entry[at + static_cast<std::size_t>(i)] = (value >> (8 * i)) & 0xFF;
    };
    if (kind == 0) {
      std::memcpy(entry.data(), "_SM3_", 5);
      entry[6] = Chance(5) ? static_cast<unsigned char>(Pick(0x40)) : 0x18;
      entry[7] = 3;
      entry[8] = static_cast<unsigned char>(Pick(8));
      put(0x0C, length, 4);
      put(0x10, 0xF0000, 8);
      Fix(entry, 5, entry[6]);
      cover[kEntry3] = true;
    } else if (kind == 1) {
      std::memcpy(entry.data(), "_SM_", 4);
      entry[5] = Chance(5) ? static_cast<unsigned char>(Pick(0x40)) : 0x1F;
      entry[6] = 2;
      entry[7] = static_cast<unsigned char>(Pick(9));
      std::memcpy(entry.data() + 0x10, "_DMI_", 5);
      put(0x16, length & 0xFFFF, 2);
      put(0x18, 0xF0000, 4);
      put(0x1C, static_cast<std::uint64_t>(count), 2);
      Fix(entry, 0x10 + 5, 0x0F, 0x10);
      Fix(entry, 4, entry[5]);
      cover[kEntry2] = true;
    } else {
      std::memcpy(entry.data(), "_DMI_", 5);
      entry[0x0E] = 0x21;
      put(0x06, length & 0xFFFF, 2);
      put(0x08, 0xF0000, 4);
      put(0x0C, static_cast<std::uint64_t>(count), 2);
      Fix(entry, 5, 0x0F);
      cover[kEntryLegacy] = true;
    }
    if (Chance(6)) {
      entry[static_cast<std::size_t>(Pick(16))] ^= 0x40;
      cover[kBadChecksum] = true;
    }
    return entry;
  }

  // Sets the checksum byte at at so that the bytes [from, from + length)
  // add up to 0; past the entry's 32 bytes nothing is summed.
  static void Fix(Bytes& entry, std::size_t at, std::size_t length, std::size_t from = 0) {
    if (at < from || at >= from + length || from + length > entry.size()) return;
    entry[at] = 0;
    unsigned sum = 0;
    for (std::size_t i = from; i < from + length; ++i) sum += entry[i];
    entry[at] = static_cast<unsigned char>(0x100 - (sum & 0xFF));
  }

 private:
  std::mt19937 random_;
};

// The dump dmidecode reads: the address rewritten to 32 and every checksum
// moved by what that changed, so that a wrong one stays wrong.
Bytes Dump(const Bytes& entry, const Bytes& table) {
  Bytes dump(entry);
  auto sum = [](const Bytes& bytes, std::size_t from, std::size_t length) {
    unsigned total = 0;
    for (std::size_t i = from; i < from + length && i < 32; ++i) total += bytes[i];
    return total;
  };
  auto keep = [&](std::size_t at, std::size_t from, std::size_t length) {
    if (at >= from && at < from + length)
      dump[at] = static_cast<unsigned char>(dump[at] -
                                            (sum(dump, from, length) - sum(entry, from, length)));
  };
  auto address = [&](std::size_t at, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) dump[at + i] = i == 0 ? 32 : 0;
  };
  if (std::memcmp(entry.data(), "_SM3_", 5) == 0) {
    address(0x10, 8);
    keep(5, 0, entry[6]);
  } else if (std::memcmp(entry.data(), "_SM_", 4) == 0) {
    address(0x18, 4);
    keep(0x15, 0x10, 0x0F);
    keep(4, 0, entry[5]);  // the outer sum covers the inner checksum too
  } else {
    address(0x08, 4);
    keep(5, 0, 0x0F);
  }
  dump.insert(dump.end(), table.begin(), table.end());
  return dump;
}

// Standard output of a shell command line.
std::string Output(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) output.append(block, got);
    pclose(pipe);
  }
  return output;
}

// What the runner captures of a pipeline's output: the lines grep passes
// (a fixed pattern), through the runner's own chunking.
void Capture(const std::string& output, const char* pattern, char* captured) {
  std::string passed;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = output.find('\n', at);
    end = end == std::string::npos ? output.size() : end + 1;
    const std::string line = output.substr(at, end - at);
    if (line.find(pattern) != std::string::npos) passed += line;
    at = end;
  }
  std::size_t length = 0;
  for (std::size_t at = 0; at < passed.size();) {
    const std::size_t chunk = NextChunkLength(passed.data() + at, passed.size() - at, 512, true);
    if (!AppendChunk(captured, kCaptureCapacity, &length, passed.data() + at, chunk, 512)) break;
    at += chunk;
  }
}

TEST(SmbiosTables, AgreeWithTheInstalledDmidecode) {
  if (access("/usr/sbin/dmidecode", X_OK) != 0) GTEST_SKIP() << "dmidecode is not installed";
  // No "ID" in the path: dmidecode names the dump file in a line of its own.
  const std::string dir = "/tmp/kolvex-smbios-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  Generator generate(20261208);
  bool cover[kCoverCount] = {};
  constexpr int kTables = 500;
  std::vector<Bytes> entries, tables;
  for (int n = 0; n < kTables; ++n) {
    Bytes table;
    const int structures = 1 + generate.Pick(8);
    for (int i = 0; i < structures; ++i) generate.Structure(table, cover);
    if (generate.Chance(8)) {
      table.resize(table.size() - 1 - static_cast<std::size_t>(generate.Pick(6)));
      cover[kUnendedStrings] = true;
    }
    entries.push_back(generate.Entry(generate.Pick(3), table.size(), structures, cover));
    tables.push_back(table);
    const Bytes dump = Dump(entries.back(), table);
    std::ofstream(dir + "/" + std::to_string(n), std::ios::binary)
        .write(reinterpret_cast<const char*>(dump.data()),
               static_cast<std::streamsize>(dump.size()));
  }
  // One shell for all: each table's two outputs, each ended by a line of
  // its own that dmidecode cannot print (no byte below 32 reaches its text).
  const std::string output =
      Output("cd " + dir + " && for n in $(seq 0 " + std::to_string(kTables - 1) +
             "); do for t in 4 1; do LC_ALL=C /usr/sbin/dmidecode --from-dump $n -t $t 2>/dev/null;"
             " printf '\\001\\n'; done; done; rm -rf " +
             dir);
  std::size_t at = 0;
  for (int n = 0; n < kTables; ++n) {
    for (const SmbiosItem* item : {&kSmbiosProcessorId, &kSmbiosSystemSerial}) {
      const std::size_t end = output.find("\001\n", at);
      ASSERT_NE(end, std::string::npos) << "dmidecode's output ended before table " << n;
      char captured[kCaptureCapacity] = {};
      Capture(output.substr(at, end - at), item->pattern, captured);
      at = end + 2;
      char expected[50] = {};
      ParseToolValue(captured, *item->rule, expected, sizeof expected);
      char decoded[50] = {};
      SmbiosValue(entries[static_cast<std::size_t>(n)].data(), 32,
                  tables[static_cast<std::size_t>(n)].data(),
                  tables[static_cast<std::size_t>(n)].size(), *item, decoded, sizeof decoded);
      ASSERT_STREQ(decoded, expected) << "table " << n << ", type " << int{item->type};
    }
  }
  for (int c = 0; c < kCoverCount; ++c) EXPECT_TRUE(cover[c]) << "never generated: case " << c;
  std::printf("%d generated tables agree with dmidecode\n", kTables);
}

}  // namespace
}  // namespace kolvex
