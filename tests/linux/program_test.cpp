// The built kolvexforlinux, run as a user would run it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "cpu_id.h"
#include "test_support.h"

namespace kolvex {
namespace {

using testing::Gbk;
using testing::SplitLines;

// "HH:MM:SS:" then 1 to 6 digits without a leading zero (unless just "0").
bool IsStamped(const std::string& line) {
  const size_t dash = line.find(" - ");
  if (dash == std::string::npos || dash < 10 || dash > 15 || dash + 3 >= line.size()) return false;
  for (size_t i : {0, 1, 3, 4, 6, 7})
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  if (line[2] != ':' || line[5] != ':' || line[8] != ':') return false;
  const std::string usec = line.substr(9, dash - 9);
  for (char c : usec)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return usec == "0" || usec[0] != '0';
}

// Standard output of "kolvexforlinux ARGS" (ARGS may redirect) with no tool
// in reach: PATH holds no folder. Root's tools are looked for in the system
// folders whatever PATH says, so as root the program runs as nobody, from a
// copy that any user may run. Under user-mode emulation the loader and the
// runtime libraries come from QEMU_LD_PREFIX, which may lie where nobody
// cannot enter (a checkout in root's home): the copy gets them too.
std::string RunProgramWithoutTools(const std::string& args) {
  const std::string program = KOLVEXFORLINUX_PATH;
  if (geteuid() != 0) return testing::RunCommand("env PATH=/nonexistent " + program + " " + args);
  char tmpl[] = "/tmp/kolvex-program-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  const std::string dir = tmpl;
  const std::string from = program.substr(0, program.rfind('/'));
  testing::RunCommand("cp '" + program + "' '" + from + "'/libkolvex.so* '" + dir +
                      "' && chmod 755 '" + dir + "'");
  std::string runtime;
  if (const char* prefix = getenv("QEMU_LD_PREFIX"); prefix != nullptr && *prefix != '\0') {
    // The loader and the shared libraries of lib/, lib/TRIPLET/ and
    // usr/lib/TRIPLET/ (kernel modules and gconv lie deeper).
    testing::RunCommand(
        "cd '" + std::string(prefix) + "' && mkdir '" + dir +
        "/runtime' && find lib usr/lib -maxdepth 2 -name '*.so*' ! -type d 2>/dev/null |"
        " xargs -r cp -a --parents -t '" +
        dir + "/runtime' 2>/dev/null; true");
    runtime = "QEMU_LD_PREFIX='" + dir + "/runtime' ";
  }
  const std::string out = testing::RunCommand(
      "setpriv --reuid=65534 --regid=65534 --clear-groups env " + runtime +
      "PATH=/nonexistent LD_LIBRARY_PATH='" + dir + "' '" + dir + "/kolvexforlinux' " + args);
  testing::RunCommand("rm -rf '" + dir + "'");
  return out;
}

TEST(Program, PrintsBannerLogSummaryAndRecord) {
  // The disk, CPU and BIOS tools are kept out of reach so the run is quick
  // and the same on every machine; the host's own name and kernel still show.
  const std::string out = RunProgramWithoutTools("2>/dev/null");
  const std::vector<std::string> lines = SplitLines(out);
  ASSERT_EQ(lines.size(), 1u + 15 + 1 + 11 + 1 + 1) << out;
  EXPECT_EQ(lines[0], "kolvex for linux version 1.1.2");
  for (int i = 1; i <= 15; ++i) EXPECT_TRUE(IsStamped(lines[i])) << lines[i];
  EXPECT_EQ(lines[16], "");
  EXPECT_EQ(lines[17], Gbk("终端类型: 2"));
  EXPECT_EQ(lines[28], "");

  const std::string prefix = "CollectData = [";
  ASSERT_EQ(lines[29].rfind(prefix, 0), 0u) << lines[29];
  ASSERT_EQ(lines[29].back(), ']');
  const std::string record = lines[29].substr(prefix.size(), lines[29].size() - prefix.size() - 1);
  size_t separators = 0;
  for (char c : record) separators += c == '@';
  EXPECT_EQ(separators, 10u);
  ASSERT_GT(record.size(), 22u);
  EXPECT_EQ(record.substr(0, 2), "2@");
  EXPECT_EQ(record[6], '-');
  EXPECT_EQ(record[12], ' ');
  EXPECT_EQ(record[21], '@') << record;

  // Host name and kernel release as uname gives them, cut to 9 and 5.
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  const std::string name = std::string(host).substr(0, 9);
  EXPECT_NE(record.find("@" + name + "@"), std::string::npos) << record;
  EXPECT_EQ(lines[23], Gbk("设备名: ") + name);
  // Without the tools the BIOS serial is empty; the CPU ID is then the
  // processor's CPUID answer where the build reads it, else empty too.
#if KOLVEX_KERNEL_SOURCES && defined(__x86_64__)
  char cpu[50] = {0};
  ASSERT_TRUE(ProcessorIdFromCpuid(cpu));
  const std::string tail = std::string("@") + cpu + "@";
#else
  const std::string tail = "@@";
#endif
  EXPECT_EQ(record.substr(record.size() - tail.size()), tail) << record;
}

struct OptionCase {
  const char* args;
  const char* firstLine;
  int status;
};

class ProgramOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ProgramOption, AnswersWithoutCollecting) {
  const std::string out =
      RunProgramWithoutTools(std::string(GetParam().args) + " 2>&1; echo rc=$?");
  const std::vector<std::string> lines = SplitLines(out);
  ASSERT_GE(lines.size(), 2u) << out;
  EXPECT_EQ(lines[0], GetParam().firstLine);
  EXPECT_EQ(lines.back(), "rc=" + std::to_string(GetParam().status));
  EXPECT_EQ(out.find("kolvex for linux version"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Options, ProgramOption,
    ::testing::Values(
        OptionCase{"--help", "Usage: kolvexforlinux [--explain | --help | --version]", 0},
        OptionCase{"--version", "kolvexforlinux 1.1.2", 0},
        OptionCase{"--explain --help", "Usage: kolvexforlinux [--explain | --help | --version]", 0},
        OptionCase{"--explain -x", "kolvexforlinux: unrecognized option '-x'", 2},
        OptionCase{"explain", "kolvexforlinux: unrecognized option 'explain'", 2},
        // Help wins over version, version over explain, in either order.
        OptionCase{"--version --help", "Usage: kolvexforlinux [--explain | --help | --version]", 0},
        OptionCase{"--explain --version", "kolvexforlinux 1.1.2", 0},
        // The Windows program's spellings are not the Linux program's.
        OptionCase{"/explain", "kolvexforlinux: unrecognized option '/explain'", 2},
        OptionCase{"'/?'", "kolvexforlinux: unrecognized option '/?'", 2}),
    [](const ::testing::TestParamInfo<OptionCase>& info) {
      std::string name;
      for (const char* c = info.param.args; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return name;
    });

// --help and the manual page cannot drift: every option and exit status of
// the page is in the usage text, every option of the usage text is in the
// page, and the usage text names the page.
TEST(Program, HelpListsTheManualPagesOptionsAndExitStatuses) {
  std::ifstream page(KOLVEX_TEST_DATA_DIR "/../../docs/kolvexforlinux.1");
  ASSERT_TRUE(page) << "docs/kolvexforlinux.1";
  std::vector<std::string> pageOptions, statuses;
  std::string section, previous, line;
  while (std::getline(page, line)) {
    if (line.rfind(".SH ", 0) == 0) section = line.substr(4);
    if (previous == ".TP" && line.rfind(".B ", 0) == 0) {
      std::string term;
      for (char c : line.substr(3))
        if (c != '\\') term += c;
      if (section == "OPTIONS") pageOptions.push_back(term);
      if (section == "EXIT STATUS") statuses.push_back(term);
    }
    previous = line;
  }
  ASSERT_FALSE(pageOptions.empty());
  ASSERT_FALSE(statuses.empty());
  const std::string help = testing::RunCommand(KOLVEXFORLINUX_PATH " --help");
  for (const std::string& option : pageOptions)
    EXPECT_NE(help.find("\n  " + option + " "), std::string::npos) << option << " in\n" << help;
  for (const std::string& status : statuses)
    EXPECT_NE(help.find(" " + status + " "), std::string::npos) << "exit status " << status;
  std::vector<std::string> helpOptions;
  for (const std::string& helpLine : SplitLines(help))
    if (helpLine.rfind("  --", 0) == 0)
      helpOptions.push_back(helpLine.substr(2, helpLine.find(' ', 2) - 2));
  EXPECT_EQ(helpOptions, pageOptions) << help;
  EXPECT_NE(help.find("man kolvexforlinux"), std::string::npos) << help;
}

TEST(Program, ExplainKeepsTheFrameAndExplainsAfterTheRecord) {
  const std::string plain = RunProgramWithoutTools("2>/dev/null");
  const std::string out = RunProgramWithoutTools("--explain 2>/dev/null");
  const std::vector<std::string> lines = SplitLines(out);
  ASSERT_GT(lines.size(), 32u) << out;
  EXPECT_EQ(lines[0], "kolvex for linux version 1.1.2");
  for (int i = 1; i <= 15; ++i) EXPECT_TRUE(IsStamped(lines[i])) << lines[i];
  ASSERT_EQ(lines[29].rfind("CollectData = [", 0), 0u) << lines[29];
  // Same summary as without the option, but for the collection time.
  const std::vector<std::string> plainLines = SplitLines(plain);
  ASSERT_EQ(plainLines.size(), 30u) << plain;
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 19, lines.begin() + 28),
            std::vector<std::string>(plainLines.begin() + 19, plainLines.begin() + 28));
  EXPECT_EQ(lines[30], "");
  EXPECT_EQ(lines[31].rfind("Explanation:", 0), 0u) << lines[31];
  const std::string explanation = out.substr(out.find("Explanation:"));
  EXPECT_NE(explanation.find("uname node name: \""), std::string::npos) << explanation;
  for (unsigned char c : explanation) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
}

}  // namespace
}  // namespace kolvex
