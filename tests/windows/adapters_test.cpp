// The adapter walk over recorded adapter lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "adapters.h"

namespace kolvex {
namespace {

AdapterAnswer Adapter(std::vector<unsigned char> mac, const char* ip) {
  AdapterAnswer a;
  std::memset(&a, 0, sizeof a);
  a.addressLength = static_cast<unsigned>(mac.size());
  if (!mac.empty()) std::memcpy(a.address, mac.data(), std::min(mac.size(), sizeof a.address));
  std::memcpy(a.ipAddress, ip, std::min(std::strlen(ip), sizeof a.ipAddress - 1));
  return a;
}

const AdapterAnswer kA = Adapter({0x00, 0x15, 0x5D, 0x01, 0x02, 0x03}, "0.0.0.0");
const AdapterAnswer kB = Adapter({0x3C, 0x7C, 0x3F, 0xAA, 0xBB, 0xCC}, "192.168.1.23");
const AdapterAnswer kC = Adapter({0x0A, 0x00, 0x27, 0x00, 0x00, 0x0D}, "10.0.2.15");
const AdapterAnswer kD = Adapter({0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, "172.16.0.9");

struct Picked {
  std::string mac1, mac2, ip1, ip2;
  bool operator==(const Picked& o) const {
    return mac1 == o.mac1 && mac2 == o.mac2 && ip1 == o.ip1 && ip2 == o.ip2;
  }
};

void PrintTo(const Picked& p, std::ostream* os) {
  *os << "{" << p.mac1 << ", " << p.mac2 << ", " << p.ip1 << ", " << p.ip2 << "}";
}

Picked Walk(const std::vector<AdapterAnswer>& list) {
  char mac1[30] = {}, mac2[30] = {}, ip1[40] = {}, ip2[40] = {};
  PickAdapters(list.data(), list.size(), mac1, mac2, ip1, ip2);
  return {mac1, mac2, ip1, ip2};
}

struct WalkCase {
  const char* name;
  std::vector<AdapterAnswer> list;
  Picked expected;
};

class AdapterWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(AdapterWalk, TakesTheFirstTwoWithAnAddress) {
  EXPECT_EQ(Walk(GetParam().list), GetParam().expected);
}

std::vector<AdapterAnswer> Unaddressed(int n) {
  std::vector<AdapterAnswer> list;
  for (int i = 0; i < n; ++i)
    list.push_back(Adapter({0x02, 0, 0, 0, 0, static_cast<unsigned char>(i)}, "0.0.0.0"));
  return list;
}

std::vector<AdapterAnswer> Then(std::vector<AdapterAnswer> list, std::vector<AdapterAnswer> more) {
  list.insert(list.end(), more.begin(), more.end());
  return list;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AdapterWalk,
    ::testing::Values(
        WalkCase{"worked_example",
                 {kA, kB, kC, kD},
                 {"3C7C3FAABBCC", "0A002700000D", "192.168.1.23", "10.0.2.15"}},
        WalkCase{"only_one_usable", {kA, kB}, {"3C7C3FAABBCC", "", "192.168.1.23", ""}},
        WalkCase{"empty_list", {}, {"", "", "", ""}},
        WalkCase{"all_unaddressed", Unaddressed(3), {"", "", "", ""}},
        // The 17th adapter is never looked at.
        WalkCase{"seventeenth_not_looked_at", Then(Unaddressed(16), {kB, kC}), {"", "", "", ""}},
        WalkCase{"sixteenth_still_looked_at",
                 Then(Unaddressed(15), {kB, kC}),
                 {"3C7C3FAABBCC", "", "192.168.1.23", ""}},
        WalkCase{"no_hardware_address",
                 {Adapter({}, "10.1.1.1"), kB},
                 {"", "3C7C3FAABBCC", "10.1.1.1", "192.168.1.23"}},
        WalkCase{"eight_byte_address",
                 {Adapter({1, 2, 3, 4, 5, 6, 7, 0xFF}, "10.1.1.1")},
                 {"01020304050607FF", "", "10.1.1.1", ""}},
        // Any other text than "0.0.0.0" counts as an address.
        WalkCase{"loopback_counts", {Adapter({0xAB}, "127.0.0.1")}, {"AB", "", "127.0.0.1", ""}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(AdapterWalkBounds, ClaimedLengthBeyondTheEntryIsCut) {
  AdapterAnswer a = Adapter({1, 2, 3, 4, 5, 6, 7, 8}, "10.0.0.1");
  a.addressLength = 200;
  EXPECT_EQ(Walk({a}).mac1, "0102030405060708");
}

TEST(AdapterWalkBounds, AddressTextWithoutNulIsCut) {
  AdapterAnswer a = Adapter({1}, "");
  std::memset(a.ipAddress, '9', sizeof a.ipAddress);
  char mac1[30] = {}, mac2[30] = {}, ip2[40] = {};
  char ip1[40 + 8];
  std::memset(ip1, 0, 40);
  std::memset(ip1 + 40, '#', 8);
  PickAdapters(&a, 1, mac1, mac2, ip1, ip2);
  EXPECT_EQ(std::string(ip1), std::string(15, '9'));
  EXPECT_EQ(std::string(ip1 + 40, 8), std::string(8, '#'));
}

}  // namespace
}  // namespace kolvex
