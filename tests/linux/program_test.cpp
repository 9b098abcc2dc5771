// The built kolvexforlinux, run as a user would run it.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include <unistd.h>

#include "test_support.h"

namespace kolvex {
namespace {

using testing::Gbk;
using testing::SplitLines;

std::string RunProgram(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(Program, PrintsBannerLogSummaryAndRecord) {
  // The disk, CPU and BIOS tools are kept out of reach so the run is quick
  // and the same on every machine; the host's own name and kernel still show.
  const std::string out =
      RunProgram("env PATH=/nonexistent " KOLVEXFORLINUX_PATH " 2>/dev/null");
  const std::vector<std::string> lines = SplitLines(out);
  ASSERT_EQ(lines.size(), 1u + 15 + 1 + 11 + 1 + 1) << out;
  EXPECT_EQ(lines[0], "kolvex for linux version 1.1.2");
  const std::regex stamped("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]:(0|[1-9][0-9]{0,5}) - .+$");
  for (int i = 1; i <= 15; ++i) EXPECT_TRUE(std::regex_match(lines[i], stamped)) << lines[i];
  EXPECT_EQ(lines[16], "");
  EXPECT_EQ(lines[17], Gbk("终端类型: 2"));
  EXPECT_EQ(lines[28], "");

  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[29], m, std::regex(R"(^CollectData = \[(.*)\]$)")));
  const std::string record = m[1];
  size_t separators = 0;
  for (char c : record) separators += c == '@';
  EXPECT_EQ(separators, 10u);
  EXPECT_TRUE(std::regex_search(record, std::regex(R"(^2@\d{4}-\d\d-\d\d \d\d:\d\d:\d\d@)")))
      << record;

  // Host name and kernel release as uname gives them, cut to 9 and 5.
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  const std::string name = std::string(host).substr(0, 9);
  EXPECT_NE(record.find("@" + name + "@"), std::string::npos) << record;
  EXPECT_EQ(lines[23], Gbk("设备名: ") + name);
  // Without the tools the three tool items are empty: the record ends "@@@"
  // unless a disk answered the kernel requests.
  EXPECT_EQ(record.substr(record.size() - 2), "@@");
}

}  // namespace
}  // namespace kolvex
