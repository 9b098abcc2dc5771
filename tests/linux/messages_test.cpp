// The GBK bytes of every text, against iconv's conversion of the Chinese.
#include <gtest/gtest.h>

#include <string>

#include "messages.h"
#include "test_support.h"

namespace kolvex {
namespace {

TEST(Messages, GbkBytesMatchAnIndependentConversion) {
  const struct {
    const char* bytes;
    const char* utf8;
  } texts[] = {
      {msg::kMsgCollectStart, "开始获取终端各种信息"},
      {msg::kMsgTypeStart, "开始获取终端类型"},
      {msg::kMsgTypeDone, "获取终端类型完成"},
      {msg::kMsgLinuxTimeStart, "开始获取系统时间"},
      {msg::kMsgLinuxTimeDone, "获取系统时间完成"},
      {msg::kMsgWindowsTimeStart, "开始获取采集时间"},
      {msg::kMsgWindowsTimeDone, "获取采集时间完成"},
      {msg::kMsgLinuxAddressStart, "开始获取IP和MAC信息"},
      {msg::kMsgLinuxAddressDone, "获取IP和MAC信息完成"},
      {msg::kMsgWindowsAddressStart, "开始获取IP和MAC"},
      {msg::kMsgWindowsAddressDone, "获取IP和MAC完成"},
      {msg::kMsgDeviceStart, "开始获取设备名和系统版本"},
      {msg::kMsgDeviceDone, "获取设备名和系统版本完成"},
      {msg::kMsgDiskStart, "开始获取硬盘序列号"},
      {msg::kMsgDiskDone, "获取硬盘序列号完成"},
      {msg::kMsgCpuStart, "开始获取CPU序列号"},
      {msg::kMsgCpuDone, "获取CPU序列号完成"},
      {msg::kMsgBiosStart, "开始获取BIOS序列号"},
      {msg::kMsgBiosDone, "获取BIOS序列号完成"},
      {msg::kMsgSystemDiskStart, "开始获取系统盘信息"},
      {msg::kMsgSystemDiskDone, "获取系统盘信息完成"},
      {msg::kFmtTerminalType, "终端类型: %s\n"},
      {msg::kFmtCollectTime, "信息采集时间: %s\n"},
      {msg::kFmtIp1, "私网IP1: %s\n"},
      {msg::kFmtIp2, "私网IP2: %s\n"},
      {msg::kFmtMac1, "网卡MAC地址1: %s\n"},
      {msg::kFmtMac2, "网卡MAC地址2: %s\n"},
      {msg::kFmtDeviceName, "设备名: %s\n"},
      {msg::kFmtOsVersion, "操作系统版本: %s\n"},
      {msg::kFmtDiskSerial, "硬盘序列号: %s\n"},
      {msg::kFmtCpuId, "CPU序列号: %s\n"},
      {msg::kFmtBiosSerial, "BIOS序列号: %s\n"},
      {msg::kFmtSystemDisk, "系统盘分区信息: %s\n"},
  };
  for (const auto& t : texts) EXPECT_EQ(std::string(t.bytes), testing::Gbk(t.utf8)) << t.utf8;
}

}  // namespace
}  // namespace kolvex
