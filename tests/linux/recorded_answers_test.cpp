// Decoders and parsers fed with answers recorded on emulated machines (see
// tests/data/README.md for where each came from).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "disk_probes.h"
#include "smbios_tables.h"
#include "test_support.h"
#include "tool_probes.h"

namespace kolvex {
namespace {

std::string ReadFile(const std::string& name) {
  std::ifstream in(std::string(KOLVEX_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// Tool output: everything after the first (provenance) line.
std::string Recorded(const std::string& name) {
  const std::string all = ReadFile(name);
  const size_t eol = all.find('\n');
  return eol == std::string::npos ? std::string() : all.substr(eol + 1);
}

// The bytes of the block "# <block> (N bytes)" of a hex recording.
std::vector<unsigned char> HexBlock(const std::string& name, const std::string& block) {
  std::istringstream lines(ReadFile(name));
  std::vector<unsigned char> bytes;
  std::string line;
  bool inBlock = false;
  while (std::getline(lines, line)) {
    if (line.rfind("# ", 0) == 0) {
      inBlock = line.rfind("# " + block + " (", 0) == 0;
      continue;
    }
    if (!inBlock || line.size() < 6) continue;
    std::istringstream hex(line.substr(6));
    unsigned value;
    while (hex >> std::hex >> value) bytes.push_back(static_cast<unsigned char>(value));
  }
  return bytes;
}

std::string Parse(const std::string& captured, const ToolValueRule& rule, size_t capacity) {
  std::vector<char> out(capacity, '\0');
  ParseToolValue(captured.c_str(), rule, out.data(), capacity);
  return out.data();
}

TEST(RecordedToolOutput, DmidecodeAndLshw) {
  const struct {
    const char* file;
    const ToolValueRule* rule;
    const char* value;
  } cases[] = {
      {"dmidecode_t4_grep.txt", &kCpuIdRule, "EFCDAB8967452301"},
      {"dmidecode_t4.txt", &kCpuIdRule, "EFCDAB8967452301"},
      {"dmidecode_t4_two_sockets_grep.txt", &kCpuIdRule, "EFCDAB8967452301"},
      // arm64 (UEFI SMBIOS, processor family "Other": no signature lines).
      {"dmidecode_t4_arm64_grep.txt", &kCpuIdRule, "EFCDAB8967452301"},
      {"dmidecode_t4_arm64.txt", &kCpuIdRule, "EFCDAB8967452301"},
      {"dmidecode_t1_arm64_grep.txt", &kBiosSerialRule, "A64-SN-7788-XYZ"},
      {"dmidecode_t1_grep.txt", &kBiosSerialRule, "VMSER-0123456789"},
      {"dmidecode_t1_spaces_grep.txt", &kBiosSerialRule, "SYS-42"},
      {"dmidecode_t1_unset.txt", &kBiosSerialRule, "Not"},
      {"lshw_disk_ahci_grep.txt", &kLshwSerialRule, "SATA0123456789ABCD"},
      {"lshw_disk_virtio_scsi_no_serial_grep.txt", &kLshwSerialRule, "LSHWPATH42-ABCDEF"},
      {"lshw_disk_nvme_grep.txt", &kLshwSerialRule, ""},
      {"lshw_disk_none.txt", &kLshwSerialRule, ""},
      // arm64: the virtio-scsi disk is listed before the SATA one.
      {"lshw_disk_arm64_grep.txt", &kLshwSerialRule, "ARM-VSCSI-SER-0042-LONG"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(Recorded(c.file), *c.rule, 256), c.value) << c.file;
}

TEST(RecordedToolOutput, PlainDmidecodeHasTheKeyOnlyWhereGrepWouldFindIt) {
  // The full type 4 listing holds other lines with "ID" in them; the first
  // "ID:" is still the processor ID.
  const std::string full = Recorded("dmidecode_t4.txt");
  ASSERT_NE(full.find("ID:"), std::string::npos);
  EXPECT_EQ(Parse(full, kCpuIdRule, 50), "EFCDAB8967452301");
}

// The tables the kernel published on three machines, read through the sysfs
// root, give what the same machines' pipelines printed.
TEST(RecordedKernelAnswers, SmbiosTablesGiveThePipelinesValues) {
  const struct {
    const char* tree;
    const SmbiosItem* item;
    const char* pipeline;
  } cases[] = {
      {"sysfs_smbios_q35", &kSmbiosProcessorId, "dmidecode_t4_qemu64_grep.txt"},
      {"sysfs_smbios_q35", &kSmbiosSystemSerial, "dmidecode_t1_grep.txt"},
      {"sysfs_smbios_pc", &kSmbiosProcessorId, "dmidecode_t4_two_sockets_grep.txt"},
      {"sysfs_smbios_pc", &kSmbiosSystemSerial, "dmidecode_t1_spaces_grep.txt"},
      {"sysfs_smbios_arm64", &kSmbiosProcessorId, "dmidecode_t4_arm64_grep.txt"},  // 3.x entry
      {"sysfs_smbios_arm64", &kSmbiosSystemSerial, "dmidecode_t1_arm64_grep.txt"},
  };
  for (const auto& c : cases) {
    const std::string root = std::string(KOLVEX_TEST_DATA_DIR) + "/" + c.tree;
    const testing::ScopedSysfsRoot sysfs(root.c_str());
    char value[50] = {0};
    EXPECT_TRUE(ReadSmbiosItem(*c.item, value, sizeof value).accepted) << c.tree;
    const std::string piped = Parse(Recorded(c.pipeline), *c.item->rule, 50);
    EXPECT_FALSE(piped.empty()) << c.pipeline;
    EXPECT_EQ(value, piped) << c.tree << " / " << c.pipeline;
  }
}

TEST(RecordedKernelAnswers, IdentityOfAnAhciDisk) {
  const struct {
    const char* file;
    const char* serial;
  } cases[] = {
      {"identity_ahci_sata.hex", "SATA  0123456789ABCD"},
      {"identity_ahci_sata_arm64.hex", "ARM SATA  0011223344"},
  };
  for (const auto& c : cases) {
    const std::vector<unsigned char> id = HexBlock(c.file, "identity record");
    ASSERT_EQ(id.size(), kIdentitySize) << c.file;
    char serial[21];
    SerialFromIdentity(id.data(), serial);
    EXPECT_STREQ(serial, c.serial) << c.file;
  }
}

TEST(RecordedKernelAnswers, UnitSerialPages) {
  char serial[252];
  const struct {
    const char* file;
    const char* serial;
  } pages[] = {
      {"vpd80_virtio_scsi.hex", "VSCSI-SER-0123456789-LONG"},
      {"vpd80_virtio_scsi_arm64.hex", "ARM-VSCSI-SER-0042-LONG"},
  };
  for (const auto& c : pages) {
    const std::vector<unsigned char> scsi = HexBlock(c.file, "data buffer");
    ASSERT_EQ(scsi.size(), kInquiryDataSize) << c.file;
    SerialFromUnitSerialPage(scsi.data(), scsi.size(), serial);
    EXPECT_STREQ(serial, c.serial) << c.file;
  }

  const std::vector<unsigned char> sata = HexBlock("vpd80_ahci_sata.hex", "data buffer");
  ASSERT_EQ(sata.size(), kInquiryDataSize);
  SerialFromUnitSerialPage(sata.data(), sata.size(), serial);
  EXPECT_NE(std::string(serial).find("0123456789ABCD"), std::string::npos) << serial;
}

TEST(RecordedKernelAnswers, InquiryOfADiskWithoutSerialEndsWithSense) {
  // The outcome fields as the kernel returned them: sense data decides first.
  sg_io_hdr_t header{};
  header.info = 0x1;
  header.status = 0x2;
  header.masked_status = 0x1;
  header.driver_status = 0x8;
  header.sb_len_wr =
      static_cast<unsigned char>(HexBlock("vpd80_virtio_scsi_no_serial.hex", "sense data").size());
  const SgOutcome outcome = DecodeSgOutcome(header);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.senseLength, 18u);
  EXPECT_STREQ(outcome.report, "");
}

}  // namespace
}  // namespace kolvex
