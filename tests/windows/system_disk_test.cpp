// The system-disk description from recorded volume answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "system_disk.h"
#include "test_data.h"

namespace kolvex {
namespace {

struct DriveCase {
  const char* directory;
  bool found;
  const char* drive;
  const char* root;
};

class SystemDrive : public ::testing::TestWithParam<DriveCase> {};

TEST_P(SystemDrive, TakesLetterColonAndRoot) {
  char drive[3] = "";
  char root[4] = "";
  ASSERT_EQ(SystemDriveOf(GetParam().directory, drive, root), GetParam().found);
  if (!GetParam().found) return;
  EXPECT_STREQ(drive, GetParam().drive);
  EXPECT_STREQ(root, GetParam().root);
}

INSTANTIATE_TEST_SUITE_P(Directories, SystemDrive,
                         ::testing::Values(DriveCase{"C:\\Windows\\system32", true, "C:", "C:\\"},
                                           DriveCase{"D:\\WINDOWS\\system32", true, "D:", "D:\\"},
                                           DriveCase{"E:\\x", true, "E:", "E:\\"},
                                           DriveCase{"E:\\", false, "", ""},
                                           DriveCase{"", false, "", ""}),
                         [](const ::testing::TestParamInfo<DriveCase>& info) {
                           return testing::CaseName(info.param.directory);
                         });

VolumeAnswers Volume(std::uint64_t bytes, std::uint32_t serial, const char* fs) {
  VolumeAnswers v;
  std::memset(&v, 0, sizeof v);
  v.sizeKnown = true;
  v.totalBytes = bytes;
  v.serialKnown = true;
  v.serial = serial;
  std::memcpy(v.fileSystem, fs, std::min(std::strlen(fs), sizeof v.fileSystem - 1));
  return v;
}

struct FormatCase {
  const char* name;
  char drive;
  VolumeAnswers volume;
  const char* expected;
};

class SystemDiskText : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SystemDiskText, IsBoundedByTheItemBuffer) {
  char out[kSystemDiskSize + 16];
  std::memset(out, 0, kSystemDiskSize);
  std::memset(out + kSystemDiskSize, '#', 16);
  FormatSystemDisk(GetParam().drive, GetParam().volume, out, kSystemDiskSize);
  EXPECT_STREQ(out, GetParam().expected);
  EXPECT_EQ(std::string(out + kSystemDiskSize, 16), std::string(16, '#'));
}

VolumeAnswers Unknown(VolumeAnswers v, bool size, bool serial) {
  if (!size) v.sizeKnown = false;
  if (!serial) v.serialKnown = false;
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SystemDiskText,
    ::testing::Values(
        FormatCase{"worked_example", 'C', Volume(255405674496ull, 0x5A3C19E2, "NTFS"),
                   "C,5A3C19E2,NTFS,237"},
        FormatCase{"serial_without_leading_zeros", 'C', Volume(255405674496ull, 0x0012ABCD, "NTFS"),
                   "C,12ABCD,NTFS,237"},
        FormatCase{"other_drive", 'D', Volume(3ull << 30, 0xBEEF, "FAT32"), "D,BEEF,FAT32,3"},
        FormatCase{"under_one_gib", 'C', Volume((1ull << 30) - 1, 0x1, "NTFS"), "C,1,NTFS,0"},
        FormatCase{"size_unknown", 'C', Unknown(Volume(5ull << 30, 0xA, "NTFS"), false, true),
                   "C,A,NTFS,0"},
        FormatCase{"serial_unknown", 'C', Unknown(Volume(5ull << 30, 0xA, "NTFS"), true, false),
                   "C,,NTFS,5"},
        FormatCase{"file_system_unknown", 'C', Volume(5ull << 30, 0xA, ""), "C,A,,5"},
        // Longest that fits: 8-digit serial, 5-letter name, 5-digit size.
        FormatCase{"fits_exactly", 'C', Volume(99999ull << 30, 0xFFFFFFFF, "exFAT"),
                   "C,FFFFFFFF,exFAT,99999"},
        // A 15-letter name would need 32 characters; the first 24 stay, as
        // the run's cut would keep them.
        FormatCase{"long_file_system_name", 'C',
                   Volume(99999ull << 30, 0xFFFFFFFF, "ABCDEFGHIJKLMNO"),
                   "C,FFFFFFFF,ABCDEFGHIJKLM"}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

TEST(SystemDiskText, FileSystemNameWithoutNulStaysInItsField) {
  VolumeAnswers v = Volume(1ull << 30, 0x1, "");
  std::memset(v.fileSystem, 'Z', sizeof v.fileSystem);
  char out[64];
  std::memset(out, 0, sizeof out);
  FormatSystemDisk('C', v, out, sizeof out);
  EXPECT_EQ(std::string(out), "C,1," + std::string(16, 'Z') + ",1");
}

}  // namespace
}  // namespace kolvex
