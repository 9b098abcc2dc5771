// getLocalMacInfo against the real kernel: each case runs in a fresh network
// namespace whose interfaces, hardware and IPv4 addresses the case chooses.
// Needs the right to create network namespaces (root); skips otherwise.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kolvex/kolvex.h"
#include "test_support.h"
#include "trace.h"

namespace kolvex {
namespace {

constexpr int kSkipped = 77;

// Runs setup (shell commands) and then body in a child process inside a new
// network namespace; returns what body wrote, or sets skipReason.
std::string InNamespace(const std::string& setup, std::string (*body)(), std::string* skipReason) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    if (unshare(CLONE_NEWNET) != 0) _exit(kSkipped);
    const std::string script = "set -e\nexec >/dev/null 2>&1\nip link set lo up\n" + setup;
    if (std::system(script.c_str()) != 0) _exit(3);
    const std::string result = body();
    if (write(fds[1], result.data(), result.size()) < 0) _exit(4);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kSkipped)
    *skipReason = "cannot create a network namespace (needs root): " + std::string(strerror(EPERM));
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    out = "child failed with status " + std::to_string(status) + ": " + out;
  return out;
}

// "result|mac1|mac2|ip1|ip2" of one probe call on zero-filled buffers.
std::string ProbeOnce() {
  char mac1[30] = {0}, mac2[30] = {0}, ip1[40] = {0}, ip2[40] = {0};
  const int result = getLocalMacInfo(mac1, mac2, ip1, ip2);
  return std::to_string(result) + "|" + mac1 + "|" + mac2 + "|" + ip1 + "|" + ip2;
}

// A veth pair: the kernel registers the peer first, so "first" is listed
// before "second".
std::string Pair(const std::string& first, const std::string& firstMac, const std::string& firstIp,
                 const std::string& second, const std::string& secondMac,
                 const std::string& secondIp) {
  return "ip link add " + second + " address " + secondMac + " type veth peer name " + first +
         " address " + firstMac + "\n" + "ip addr add " + firstIp + "/24 dev " + first + "\n" +
         "ip addr add " + secondIp + "/24 dev " + second + "\n";
}

// The lines an explained probe call notes, one per line.
std::string ExplainedProbe() {
  Trace trace;
  {
    ScopedTrace on(trace);
    ProbeOnce();
  }
  std::string lines;
  for (int i = 0; i < trace.lineCount(); ++i) lines += std::string(trace.line(i).text) + "\n";
  return lines;
}

struct NetCase {
  const char* name;
  std::string setup;
  std::string expected;
  std::string (*body)() = ProbeOnce;
};

class NetnsProbe : public ::testing::TestWithParam<NetCase> {};

TEST_P(NetnsProbe, TakesTheFirstTwoUsableFromTheEnd) {
  std::string skip;
  const std::string got = InNamespace(GetParam().setup, GetParam().body, &skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  EXPECT_EQ(got, GetParam().expected);
}

std::string ManyInterfaces() {
  // 18 interfaces n00..n17 after lo: the list has room for lo and n00..n14.
  std::string s;
  for (int k = 0; k < 9; ++k) {
    char a[8], b[8], ma[24], mb[24], ia[16], ib[16];
    std::snprintf(a, sizeof a, "n%02d", 2 * k);
    std::snprintf(b, sizeof b, "n%02d", 2 * k + 1);
    std::snprintf(ma, sizeof ma, "02:00:00:00:00:%02x", 2 * k);
    std::snprintf(mb, sizeof mb, "02:00:00:00:00:%02x", 2 * k + 1);
    std::snprintf(ia, sizeof ia, "10.1.%d.1", 2 * k);
    std::snprintf(ib, sizeof ib, "10.1.%d.1", 2 * k + 1);
    s += Pair(a, ma, ia, b, mb, ib);
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    RealKernel, NetnsProbe,
    ::testing::Values(
        NetCase{"OnlyLoopback", "", "0||||"},
        NetCase{"OneUsable",
                "ip link add eth0 address 00:1a:2b:3c:4d:5e type veth peer name peer0\n"
                "ip addr add 192.168.7.20/24 dev eth0\n",
                "0|001a2b3c4d5e||192.168.7.20|"},
        NetCase{"WalkFromTheLast",
                Pair("eth0", "02:00:00:00:00:10", "10.0.0.10", "eth1", "02:00:00:00:00:11",
                     "10.0.1.11") +
                    "ip link add eth2 address 02:00:00:00:00:12 type veth peer name eth3\n"
                    "ip link set eth3 down\n"
                    "ip addr add 10.0.2.12/24 dev eth2\n",
                // eth3 has no address and is not listed; eth2 is the last entry.
                "0|020000000012|020000000011|10.0.2.12|10.0.1.11"},
        NetCase{"LoopbackRangeIsTakenZeroHardwareIsNot",
                "ip tuntap add tun0 mode tun\n"
                "ip addr add 10.9.9.9/32 dev tun0\n"
                "ip link add v0 address 02:aa:bb:cc:dd:01 type veth peer name v1\n"
                "ip addr add 127.0.1.1/8 dev v0\n"
                "ip link add v2 address 02:aa:bb:cc:dd:02 type veth peer name v3\n"
                "ip addr add 127.0.0.2/8 dev v2\n",
                // listed lo, v0, v2, tun0: tun0 (no hardware address) is skipped.
                "0|02aabbccdd02|02aabbccdd01|127.0.0.2|127.0.1.1"},
        NetCase{"DownInterfaceStillCounts",
                "ip link add d0 address 02:00:00:00:0d:00 type veth peer name d1\n"
                "ip addr add 172.16.5.5/16 dev d0\n"
                "ip link set d0 down\n",
                "0|020000000d00||172.16.5.5|"},
        NetCase{"SecondAddressAnswersWithThePrimary",
                "ip link add v0 address 02:00:00:00:0a:00 type veth peer name v1\n"
                "ip addr add 10.0.0.1/24 dev v0\n"
                "ip addr add 10.0.0.2/24 dev v0\n",
                // Both entries of v0 are asked by name: the primary answers twice.
                "0|020000000a00|020000000a00|10.0.0.1|10.0.0.1"},
        NetCase{"OnlySixteenEntriesAreSeen", ManyInterfaces(),
                "0|02000000000e|02000000000d|10.1.14.1|10.1.13.1"},
        NetCase{"NameWithEscapesIsQuotedInTheExplanation",
                "e=$(printf 'e\\033[31mRED\\033[2J')\n"
                "ip link add \"$e\" address 02:00:00:00:0e:01 type veth peer name p0\n"
                "ip addr add 10.3.0.1/24 dev \"$e\"\n",
                "interface list: 2 address entries, walked from the last\n"
                "\"e\\x1b[31mRED\\x1b[2J\" 10.3.0.1 020000000e01: taken as address 1\n"
                "\"lo\" 127.0.0.1 000000000000: skipped (loopback address)\n",
                ExplainedProbe}),
    [](const ::testing::TestParamInfo<NetCase>& info) { return std::string(info.param.name); });

std::string RunProgram() {
  return testing::RunCommand("PATH=/nonexistent " KOLVEXFORLINUX_PATH " 2>/dev/null");
}

TEST(NetnsProgram, RecordCarriesTheAddressesOfTheNamespace) {
  std::string skip;
  const std::string out = InNamespace(
      Pair("lan0", "52:54:00:1a:2b:3c", "192.168.1.23", "lan1", "52:54:00:1a:2b:3d", "10.20.0.7"),
      RunProgram, &skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  const size_t at = out.find("CollectData = [");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string record = out.substr(at);
  // lan1 is listed last, so it is the first pair.
  EXPECT_NE(record.find("@10.20.0.7@192.168.1.23@5254001a2b3d@5254001a2b3c@"), std::string::npos)
      << record;
}

}  // namespace
}  // namespace kolvex
