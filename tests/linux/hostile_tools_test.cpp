// Whole collections while the tools print hostile output: the run completes
// and every item stays within its width.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LinuxKolvex.h"
#include "test_support.h"

namespace kolvex {
namespace {

std::vector<std::string> Fields(const std::string& record) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t at = record.find('@', start);
    fields.push_back(record.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return fields;
    start = at + 1;
  }
}

struct Hostile {
  const char* name;
  const char* script;  // body of dmidecode and lshw alike
};

class HostileTools : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileTools, RunCompletesWithinWidths) {
  testing::FakeToolDir tools;
  tools.Script("dmidecode", GetParam().script);
  tools.Script("lshw", GetParam().script);
  testing::ScopedProbes probes(ActiveProbes());
  // Keep the disk chain on the lshw path whatever disks this machine has.
  probes->diskSerial = GetDiskSerialBylshw;

  char out[1000];
  std::memset(out, '#', sizeof out);
  int len = -1;
  testing::CaptureStdout([&] { ORVIK_GetRealSystemInfo(out, len); });
  const std::string record(out);
  ASSERT_LE(record.size(), 188u);
  EXPECT_EQ(static_cast<int>(record.size()), len);
  const std::vector<std::string> fields = Fields(record);
  // A value may hold "@" itself, so count fields only when none does.
  const size_t widths[] = {1, 19, 39, 39, 12, 12, 9, 5, 16, 16, 10};
  if (fields.size() == 11) {
    for (size_t i = 0; i < 11; ++i) EXPECT_LE(fields[i].size(), widths[i]) << i << ": " << record;
  }
  EXPECT_EQ(out[record.size() + 1], '#');
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, HostileTools,
    ::testing::Values(
        Hostile{"MegabyteOnOneLine",
                "printf 'ID: '; printf 'Serial Number: '; printf 'serial: '\n"
                "head -c 1048576 /dev/zero | /usr/bin/tr '\\0' 'A'\n"},
        Hostile{"NoLineFeeds", "printf 'ID: 1 2 3 Serial Number: X serial: Y'\n"},
        Hostile{"NulBytes", "printf 'ID: AB\\000CD\\nSerial Number: \\000x\\nserial: \\000\\n'\n"},
        Hostile{"NonAscii",
                "printf 'ID: \\377\\376\\201\\100 @@\\nSerial Number: \\344\\270\\255\\346\\226\\207 "
                "x\\nserial: \\351\\223\\276\\n'\n"},
        Hostile{"OnlyStandardError", "echo 'ID: ERR' >&2; echo 'Serial Number: ERR' >&2\n"},
        Hostile{"ExitsNonZero", "echo 'ID: 01 02'; echo 'Serial Number: S1'; echo 'serial: D1'; exit 1\n"},
        Hostile{"ManyKeysManyLines",
                "i=0; while [ $i -lt 2000 ]; do echo \"ID: $i Serial Number: $i serial: $i\"; "
                "i=$((i+1)); done\n"}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

TEST(HostileTools, StandardErrorAndExitStatusDoNotLeak) {
  testing::FakeToolDir tools;
  tools.Script("dmidecode", "echo 'ID: 01 02'; echo 'Serial Number: S1 x'; echo noise >&2; exit 1\n");
  char cpu[50] = {0}, bios[50] = {0};
  ::testing::internal::CaptureStderr();
  GetCpuSerial(cpu);
  GetBIOSSerial(bios);
  ::testing::internal::GetCapturedStderr();
  EXPECT_STREQ(cpu, "0102");
  EXPECT_STREQ(bios, "S1");
}

}  // namespace
}  // namespace kolvex
