// Device name and OS version from a recorded workstation answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "workstation.h"

namespace kolvex {
namespace {

struct WorkstationCase {
  const char* name;
  std::string computerName;  // as converted to UTF-8
  unsigned major;
  unsigned minor;
  std::string expectedName;
  const char* expectedVersion;
};

class Workstation : public ::testing::TestWithParam<WorkstationCase> {};

TEST_P(Workstation, FillsNameAndVersion) {
  char text[kComputerNameTextSize];
  std::memset(text, 0, sizeof text);
  std::memcpy(text, GetParam().computerName.data(),
              std::min(GetParam().computerName.size(), sizeof text));
  char name[kDeviceNameSize + 8];
  char version[kOsVersionSize + 8];
  std::memset(name, 0, kDeviceNameSize);
  std::memset(name + kDeviceNameSize, '#', 8);
  std::memset(version, 0, kOsVersionSize);
  std::memset(version + kOsVersionSize, '#', 8);

  FormatWorkstation(text, GetParam().major, GetParam().minor, name, version);
  EXPECT_EQ(std::string(name), GetParam().expectedName);
  EXPECT_STREQ(version, GetParam().expectedVersion);
  EXPECT_EQ(std::string(name + kDeviceNameSize, 8), std::string(8, '#'));
  EXPECT_EQ(std::string(version + kOsVersionSize, 8), std::string(8, '#'));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Workstation,
    ::testing::Values(
        WorkstationCase{"worked_example", "WORKSTATION-07", 10, 0, "WORKSTATION-07", "10.0"},
        WorkstationCase{"windows_7", "PC", 6, 1, "PC", "6.1"},
        WorkstationCase{"utf8_kept", "\xE5\xB7\xA5\xE4\xBD\x9C\xE7\xAB\x99", 10, 0,
                        "\xE5\xB7\xA5\xE4\xBD\x9C\xE7\xAB\x99", "10.0"},
        // A text that fills all 60 bytes keeps 59 characters.
        WorkstationCase{"full_text", std::string(60, 'N'), 10, 0, std::string(59, 'N'), "10.0"},
        // ... but never half a UTF-8 character.
        WorkstationCase{"full_text_cut_before_a_character", std::string(58, 'N') + "\xC3\xB6", 10,
                        0, std::string(58, 'N'), "10.0"},
        // Absurd numbers stay within the 20-byte version buffer.
        WorkstationCase{"huge_numbers", "PC", 0x80000000u, 0x80000000u, "PC",
                        "-2147483648.-214748"}),
    [](const ::testing::TestParamInfo<WorkstationCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace kolvex
