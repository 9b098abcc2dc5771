// Disk serial decoders on bytes, and every branch of the probes through a
// stand-in device layer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "disk_probes.h"
#include "kolvex/kolvex.h"
#include "test_support.h"

namespace kolvex {
namespace {

using testing::CaptureStdout;

// --- decoders ---------------------------------------------------------------

std::vector<unsigned char> IdentityWithSerial(const std::string& field) {
  std::vector<unsigned char> id(kIdentitySize, 0);
  std::memcpy(id.data() + kIdentitySerialOffset, field.data(), field.size());
  // Model text right after the serial field: must never leak into it.
  std::memcpy(id.data() + 46, "FWREV001QEMU HARDDISK", 21);
  return id;
}

TEST(SerialFromIdentity, TakesUpToTwentyBytesUpToTheFirstNul) {
  const struct {
    std::string field;
    std::string serial;
  } cases[] = {
      {"    WD-WMC4N0123456", "    WD-WMC4N0123456"},  // padding kept
      {std::string(20, ' '), std::string(20, ' ')},
      {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOPQRST"},  // no NUL at all
      {std::string("QM0\0"
                   "0001",
                   8),
       "QM0"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char serial[32];
    std::memset(serial, '#', sizeof serial);
    SerialFromIdentity(IdentityWithSerial(c.field).data(), serial);
    EXPECT_EQ(std::string(serial), c.serial);
  }
}

std::vector<unsigned char> Page(int length, const std::string& serial) {
  std::vector<unsigned char> page(kInquiryDataSize, 0);
  page[1] = 0x80;
  page[3] = static_cast<unsigned char>(length);
  std::memcpy(page.data() + 4, serial.data(), std::min(serial.size(), page.size() - 4));
  return page;
}

TEST(SerialFromUnitSerialPage, PageLengthBoundsTheSerial) {
  const std::string full(251, 'S');
  const struct {
    int length;
    std::string content;
    std::string serial;
    std::size_t received = kInquiryDataSize;
  } cases[] = {
      {0, "IGNORED", ""},
      {8, "SER-0042tail", "SER-0042"},
      {251, full, full},
      {252, full, full},  // more than the transfer holds: only 251 bytes exist
      {255, full, full},
      {10, std::string("AB\0CD", 5), "AB"},
      // A short sysfs read: the bytes after the 9 received are not the page.
      {20, "SHORTjunkjunkjunkjun", "SHORT", 9},
  };
  for (const auto& c : cases) {
    char serial[300];
    std::memset(serial, '#', sizeof serial);
    SerialFromUnitSerialPage(Page(c.length, c.content).data(), c.received, serial);
    EXPECT_EQ(std::string(serial), c.serial) << c.length;
    EXPECT_EQ(serial[c.serial.size() + 1], '#') << "nothing past the serial's NUL";
  }
}

TEST(FillSgIoHeader, FieldsOfAnInquiry) {
  unsigned char cdb[6] = {0x12, 1, 0x80, 0, 0xff, 0};
  unsigned char data[255], sense[32];
  sg_io_hdr_t h;
  std::memset(&h, 0xAB, sizeof h);
  FillSgIoHeader(h, cdb, 6, SG_DXFER_FROM_DEV, data, 255, sense, 32);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, -3);
  EXPECT_EQ(h.cmd_len, 6);
  EXPECT_EQ(h.mx_sb_len, 32);
  EXPECT_EQ(h.iovec_count, 0);
  EXPECT_EQ(h.dxfer_len, 255u);
  EXPECT_EQ(h.dxferp, data);
  EXPECT_EQ(h.cmdp, cdb);
  EXPECT_EQ(h.sbp, sense);
  EXPECT_EQ(h.timeout, 164u);
  EXPECT_EQ(h.flags, 0u);
  EXPECT_EQ(h.pack_id, 0);
  EXPECT_EQ(h.usr_ptr, nullptr);
  EXPECT_EQ(h.info, 0u);
}

TEST(DecodeSgOutcome, ResultCodesAndReports) {
  const struct {
    unsigned info, sbLenWr, status, masked, host, driver;
    int result;
    unsigned sense;
    const char* report;
  } cases[] = {
      {0, 0, 0, 0, 0, 0, 0, 0, ""},
      {SG_INFO_CHECK, 18, 0x02, 0x01, 0, 0x08, 0, 18, ""},  // sense wins
      {SG_INFO_CHECK, 0, 0x02, 0x01, 0, 0, -2, 0, "status=0x2\nmasked_status=0x1\n"},
      {0, 0, 0, 0, 0x7, 0x8, -3, 0, "host_status=0x7\n"},
      {0, 0, 0, 0, 0, 0x1c, -4, 0, "driver_status=0x1c\n"},
  };
  for (const auto& c : cases) {
    sg_io_hdr_t h{};
    h.info = c.info;
    h.sb_len_wr = static_cast<unsigned char>(c.sbLenWr);
    h.status = static_cast<unsigned char>(c.status);
    h.masked_status = static_cast<unsigned char>(c.masked);
    h.host_status = static_cast<unsigned short>(c.host);
    h.driver_status = static_cast<unsigned short>(c.driver);
    const SgOutcome o = DecodeSgOutcome(h);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.senseLength, c.sense);
    EXPECT_STREQ(o.report, c.report);
  }
}

// --- stand-in device layer --------------------------------------------------

struct FakeDisk {
  bool opens = true;
  int identityErrno = 0;       // non-zero: HDIO_GET_IDENTITY refused
  std::string identitySerial;  // the 20-byte field
  int sgVersion = 30536;       // -1: the request fails
  std::vector<unsigned char> page;
  unsigned char senseBytes = 0;  // written by the inquiry
  unsigned char maskedStatus = 0;
};

struct FakeKernel {
  std::map<std::string, FakeDisk> disks;
  std::map<int, std::string> open;  // descriptor → path
  std::vector<std::string> calls;
  int nextFd = 100;
};
FakeKernel* g_fake = nullptr;

int FakeOpen(const char* path, int flags) {
  g_fake->calls.push_back(std::string("open ") + path + (flags == O_RDWR ? " rw" : " ro"));
  auto it = g_fake->disks.find(path);
  if (it == g_fake->disks.end() || !it->second.opens) return -1;
  g_fake->open[g_fake->nextFd] = path;
  return g_fake->nextFd++;
}

int FakeClose(int fd) {
  g_fake->calls.push_back("close " + g_fake->open.at(fd));
  g_fake->open.erase(fd);
  return 0;
}

int FakeIoctl(int fd, unsigned long request, void* arg) {
  FakeDisk& d = g_fake->disks.at(g_fake->open.at(fd));
  if (request == HDIO_GET_IDENTITY) {
    g_fake->calls.push_back("identity " + g_fake->open[fd]);
    if (d.identityErrno != 0) return -1;
    std::vector<unsigned char> id = IdentityWithSerial(d.identitySerial);
    std::memcpy(arg, id.data(), id.size());
    return 0;
  }
  if (request == SG_GET_VERSION_NUM) {
    if (d.sgVersion < 0) return -1;
    *static_cast<int*>(arg) = d.sgVersion;
    return 0;
  }
  if (request == SG_IO) {
    g_fake->calls.push_back("inquiry " + g_fake->open[fd]);
    auto* h = static_cast<sg_io_hdr_t*>(arg);
    if (!d.page.empty())
      std::memcpy(h->dxferp, d.page.data(), std::min<size_t>(d.page.size(), h->dxfer_len));
    if (d.senseBytes) {
      h->info = SG_INFO_CHECK;
      h->sb_len_wr = d.senseBytes;
    }
    h->masked_status = d.maskedStatus;
    h->status = static_cast<unsigned char>(d.maskedStatus << 1);
    return 0;
  }
  return -1;
}

class DiskProbes : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    kernel_->open = FakeOpen;
    kernel_->close = FakeClose;
    kernel_->ioctl = FakeIoctl;
  }
  void TearDown() override {
    EXPECT_TRUE(fake_.open.empty()) << "a descriptor was left open";
    g_fake = nullptr;
  }
  std::string Calls() const {
    std::string all;
    for (const std::string& c : fake_.calls) all += c + "; ";
    return all;
  }
  FakeKernel fake_;
  testing::ScopedKernel kernel_{ActiveKernel()};
};

TEST_F(DiskProbes, IdentityOfSda) {
  fake_.disks["/dev/sda"].identitySerial = "QM00001             ";
  char serial[256] = {0};
  getIdeTypeDiskId(serial);
  EXPECT_STREQ(serial, "QM00001             ");
  EXPECT_EQ(Calls(), "open /dev/sda ro; identity /dev/sda; close /dev/sda; ");
}

TEST_F(DiskProbes, IdentityFallsBackToHdaOnlyWhenSdaCannotOpen) {
  fake_.disks["/dev/hda"].identitySerial = "HDA-SERIAL";
  char serial[256] = {0};
  getIdeTypeDiskId(serial);
  EXPECT_STREQ(serial, "HDA-SERIAL");

  fake_.calls.clear();
  fake_.disks["/dev/sda"].identityErrno = EINVAL;
  char again[256] = {0};
  getIdeTypeDiskId(again);
  EXPECT_STREQ(again, "");
  EXPECT_EQ(Calls(), "open /dev/sda ro; identity /dev/sda; close /dev/sda; ");
}

TEST_F(DiskProbes, ScsiVersionThreshold) {
  fake_.disks["/dev/sda"].sgVersion = 29999;
  EXPECT_EQ(open_scsi_device("/dev/sda"), -1);
  fake_.disks["/dev/sda"].sgVersion = -1;
  EXPECT_EQ(open_scsi_device("/dev/sda"), -1);
  fake_.disks["/dev/sda"].sgVersion = 30000;
  const int fd = open_scsi_device("/dev/sda");
  EXPECT_GE(fd, 0);
  FakeClose(fd);
  EXPECT_EQ(fake_.calls[0], "open /dev/sda rw");
}

TEST_F(DiskProbes, ScsiSerialOfSda) {
  fake_.disks["/dev/sda"].page = Page(12, "SCSI-SER-042");
  char serial[256] = {0};
  GetScsiTypeHardDiskID(serial);
  EXPECT_STREQ(serial, "SCSI-SER-042");
  EXPECT_EQ(Calls(), "open /dev/sda rw; inquiry /dev/sda; close /dev/sda; ");
}

TEST_F(DiskProbes, ScsiTriesHdaWhenSdaIsNotAccepted) {
  fake_.disks["/dev/sda"].sgVersion = 20000;
  fake_.disks["/dev/hda"].page = Page(3, "HDA");
  char serial[256] = {0};
  GetScsiTypeHardDiskID(serial);
  EXPECT_STREQ(serial, "HDA");
}

TEST_F(DiskProbes, InquiryWithSenseLeavesBufferAndDoesNotTryHda) {
  fake_.disks["/dev/sda"].page = Page(4, "JUNK");
  fake_.disks["/dev/sda"].senseBytes = 18;
  fake_.disks["/dev/hda"].page = Page(3, "HDA");
  char serial[256] = {0};
  GetScsiTypeHardDiskID(serial);
  EXPECT_STREQ(serial, "");
  EXPECT_EQ(Calls(), "open /dev/sda rw; inquiry /dev/sda; close /dev/sda; ");
}

TEST_F(DiskProbes, CheckConditionWithoutSenseIsReported) {
  fake_.disks["/dev/sda"].maskedStatus = 0x01;
  int fd = open_scsi_device("/dev/sda");
  char serial[256] = {0};
  int result = 0;
  const std::string out =
      CaptureStdout([&] { result = scsi_inquiry_unit_serial_number(fd, serial); });
  FakeClose(fd);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(out, "status=0x2\nmasked_status=0x1\n");
  EXPECT_STREQ(serial, "");
}

TEST_F(DiskProbes, FailedRequestReturnsMinusOne) {
  fake_.disks["/dev/sda"];
  kernel_->ioctl = [](int, unsigned long, void*) {
    errno = EIO;
    return -1;
  };
  int fd = FakeOpen("/dev/sda", O_RDWR);
  unsigned char cdb[6] = {0x12, 1, 0x80, 0, 0xff, 0};
  unsigned char data[255], sense[32];
  unsigned int dlen = 255, slen = 32;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(scsi_io(fd, cdb, 6, SG_DXFER_FROM_DEV, data, &dlen, sense, &slen), -1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("SG_IO ioctl failed"), std::string::npos);
  EXPECT_EQ(slen, 0u);
  FakeClose(fd);
}

TEST_F(DiskProbes, NoDiskNodesLeaveTheBufferEmpty) {
  char serial[256] = {0};
  getIdeTypeDiskId(serial);
  GetScsiTypeHardDiskID(serial);
  EXPECT_STREQ(serial, "");
  EXPECT_EQ(Calls(), "open /dev/sda ro; open /dev/hda ro; open /dev/sda rw; open /dev/hda rw; ");
}

// --- the serials sysfs publishes -------------------------------------------

std::string Recorded(const std::string& tree, const std::string& attribute) {
  std::ifstream in(std::string(KOLVEX_TEST_DATA_DIR) + "/" + tree + "/" + attribute,
                   std::ios::binary);
  EXPECT_TRUE(in.good()) << tree << "/" << attribute;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A sysfs tree of a few attributes in a fresh folder, made the sysfs root
// while it lives. An attribute given as kDirectory is a folder, which opens
// but refuses the read.
const std::string kDirectory = "<dir>";
class SysfsTree {
 public:
  explicit SysfsTree(const std::map<std::string, std::string>& attributes) {
    char dir[] = "/tmp/kolvex-sysfs-XXXXXX";
    root_ = ::mkdtemp(dir);
    for (const auto& [path, content] : attributes) {
      const std::string full = root_ + "/" + path;
      testing::RunCommand("mkdir -p '" + full.substr(0, full.rfind('/')) + "'");
      if (content == kDirectory) {
        ::mkdir(full.c_str(), 0755);
      } else {
        std::ofstream(full, std::ios::binary) << content;
      }
    }
    saved_ = SysfsRoot();
    SetSysfsRoot(root_.c_str());
  }
  ~SysfsTree() {
    SetSysfsRoot(saved_);
    testing::RunCommand("rm -rf '" + root_ + "'");
  }

 private:
  std::string root_;
  const char* saved_;
};

TEST(SysfsSerial, FirstSourceWithASerialWinsEachOutcomeNamed) {
  const std::string sata = Recorded("sysfs_ahci_sata", "block/sda/device/vpd_pg80");
  const std::string nvme = Recorded("sysfs_nvme", "block/nvme0n1/device/serial");
  const std::string multipath =
      Recorded("sysfs_nvme_multipath_virtio", "block/nvme0n1/device/serial");
  const std::string vda = Recorded("sysfs_virtio_mmc", "block/vda/serial");
  const std::string mmc = Recorded("sysfs_virtio_mmc", "block/mmcblk0/device/serial");
  const std::string sda = "block/sda/device/vpd_pg80", nv = "block/nvme0n1/device/serial",
                    vd = "block/vda/serial", mm = "block/mmcblk0/device/serial";
  using S = SysfsState;
  const S F = S::kFound, E = S::kEmpty, M = S::kMissing, U = S::kUnreadable;
  const struct {
    const char* what;
    std::map<std::string, std::string> tree;
    std::string serial;
    S outcomes[4];  // per source: sda page, NVMe, virtio, eMMC/SD
  } cases[] = {
      {"SATA page alone", {{sda, sata}}, "SATA  0123456789ABCD", {F, M, M, M}},
      {"NVMe alone, kernel padding kept", {{nv, nvme}}, "NVME-SER-0001       ", {M, F, M, M}},
      {"NVMe multipath node", {{nv, multipath}}, "NVME-SER-0002       ", {M, F, M, M}},
      {"virtio alone, no line feed", {{vd, vda}}, "VIRTIO-BLK-SER-42", {M, M, F, M}},
      {"card alone", {{mm, mmc}}, mmc.substr(0, mmc.size() - 1), {M, M, M, F}},
      {"order: page before NVMe", {{sda, sata}, {nv, nvme}}, "SATA  0123456789ABCD", {F, F, M, M}},
      {"order: NVMe before virtio",
       {{nv, multipath}, {vd, vda}},
       "NVME-SER-0002       ",
       {M, F, F, M}},
      {"order: virtio before card", {{vd, vda}, {mm, mmc}}, "VIRTIO-BLK-SER-42", {M, M, F, F}},
      {"page of length 0",
       {{sda, std::string("\0\x80\0\0", 4)}, {vd, vda}},
       "VIRTIO-BLK-SER-42",
       {E, M, F, M}},
      {"attribute of a line feed only", {{nv, "\n"}, {vd, vda}}, "VIRTIO-BLK-SER-42", {M, E, F, M}},
      {"empty attribute", {{vd, ""}, {mm, mmc}}, mmc.substr(0, mmc.size() - 1), {M, M, E, F}},
      {"unreadable attribute",
       {{sda, kDirectory}, {nv, nvme}},
       "NVME-SER-0001       ",
       {U, F, M, M}},
      {"a line feed ends the value", {{vd, "AB\nCD\n"}}, "AB", {M, M, F, M}},
      {"blanks are no value: chain goes on",
       {{sda, std::string("\0\x80\0\x04    ", 8)}, {vd, "    \n"}, {mm, mmc}},
       mmc.substr(0, mmc.size() - 1),
       {E, M, E, F}},
      {"control bytes become blanks, CR ends",
       {{vd, "AB\x1b[2J\x1b]0;x\aCD\r\nEF\n"}},
       "AB [2J ]0;x CD",
       {M, M, F, M}},
      {"DEL becomes a blank", {{vd, "AB\177CD\n"}}, "AB CD", {M, M, F, M}},
      {"nothing at all", {}, "", {M, M, M, M}},
  };
  for (const auto& c : cases) {
    SysfsTree tree(c.tree);
    for (int i = 0; i < 4; ++i) {
      char serial[256];
      std::memset(serial, '#', sizeof serial);
      const SysfsRead read = ReadSysfsSerial(kSysfsSerialSources[i], serial);
      EXPECT_EQ(read.state, c.outcomes[i]) << c.what << ", source " << i;
      EXPECT_EQ(read.error != 0, read.state == M || read.state == U) << c.what << ", source " << i;
      if (read.state != F) {
        EXPECT_EQ(serial[0], '#') << c.what << ": written though not found";
      }
    }
    char serial[256] = {0};
    DiskSerialFromSysfs(serial);
    EXPECT_EQ(std::string(serial), c.serial) << c.what;
  }
}

// --- the chain --------------------------------------------------------------

std::string g_chain;
const char* g_ideAnswer;
const char* g_scsiAnswer;
const char* g_sysfsAnswer;
void Ide(char* s) {
  g_chain += "ide ";
  std::strcpy(s, g_ideAnswer);
}
void Scsi(char* s) {
  g_chain += "scsi ";
  std::strcpy(s, g_scsiAnswer);
}
void Sysfs(char* s) {
  g_chain += "sysfs ";
  std::strcpy(s, g_sysfsAnswer);
}
void Lshw(char* s) {
  g_chain += "lshw ";
  std::strcpy(s, "LSHW");
}

TEST(DiskChain, LaterProbesRunOnlyWhileTheFirstByteIsNul) {
  const struct {
    const char* ide;
    const char* scsi;
    const char* sysfs;  // nullptr: no sysfs link
    const char* calls;
    const char* serial;
  } cases[] = {
      {"IDE", "SCSI", "SYSFS", "ide ", "IDE"},
      {"", "SCSI", "SYSFS", "ide scsi ", "SCSI"},
      {"", "", "SYSFS", "ide scsi sysfs ", "SYSFS"},
      {"", "", "", "ide scsi sysfs lshw ", "LSHW"},
      {"", "", nullptr, "ide scsi lshw ", "LSHW"},
      {"                    ", "SCSI", "SYSFS", "ide ", "                    "},  // blanks end it
  };
  for (const auto& c : cases) {
    g_chain.clear();
    g_ideAnswer = c.ide;
    g_scsiAnswer = c.scsi;
    g_sysfsAnswer = c.sysfs;
    char serial[256] = {0};
    RunDiskChain(serial, Ide, Scsi, c.sysfs ? Sysfs : nullptr, Lshw);
    EXPECT_EQ(g_chain, c.calls);
    EXPECT_STREQ(serial, c.serial);
  }
}

// The run's own chain on a machine with an NVMe disk only: no disk node
// answers, so sysfs decides, and lshw (a logging stand-in) never starts;
// built without the kernel sources, lshw decides as before.
TEST_F(DiskProbes, RunsChainOnAnNvmeOnlyMachine) {
  SysfsTree tree(std::map<std::string, std::string>{
      {"block/nvme0n1/device/serial", "NVME-SER-0001       \n"}});
  testing::FakeToolDir tools;
  tools.Script("lshw", "echo started >> '" + tools.dir() + "/lshw.log'\necho '  serial: LSHW-1'\n");
  char serial[256] = {0};
  ReadDiskSerialChain(serial);
  const bool lshwStarted = ::access((tools.dir() + "/lshw.log").c_str(), F_OK) == 0;
#if KOLVEX_KERNEL_SOURCES
  EXPECT_STREQ(serial, "NVME-SER-0001       ");
  EXPECT_FALSE(lshwStarted);
#else
  EXPECT_STREQ(serial, "LSHW-1");
  EXPECT_TRUE(lshwStarted);
#endif
}

}  // namespace
}  // namespace kolvex
