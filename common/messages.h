// Message texts and summary labels of both collectors.
//
// The programs print these as GBK (code page 936) bytes, byte for byte: the
// receiving side and the operators' consoles expect GBK, so the bytes are
// spelled out here rather than left to the compiler's source charset. The
// comment above each constant shows the text the bytes encode. ASCII runs
// stand in separate literal pieces so that no \x escape swallows a following
// hex-looking letter.
#pragma once

namespace kolvex::msg {

// One text to a line, its bytes beside its comment, however long.
// clang-format off

// --- progress-log messages ---------------------------------------------
// 开始获取终端各种信息
inline constexpr char kMsgCollectStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xd6\xd5\xb6\xcb\xb8\xf7\xd6\xd6\xd0\xc5\xcf\xa2";
// 开始获取终端类型
inline constexpr char kMsgTypeStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xd6\xd5\xb6\xcb\xc0\xe0\xd0\xcd";
// 获取终端类型完成
inline constexpr char kMsgTypeDone[] = "\xbb\xf1\xc8\xa1\xd6\xd5\xb6\xcb\xc0\xe0\xd0\xcd\xcd\xea\xb3\xc9";
// 开始获取系统时间
inline constexpr char kMsgLinuxTimeStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xcf\xb5\xcd\xb3\xca\xb1\xbc\xe4";
// 获取系统时间完成
inline constexpr char kMsgLinuxTimeDone[] = "\xbb\xf1\xc8\xa1\xcf\xb5\xcd\xb3\xca\xb1\xbc\xe4\xcd\xea\xb3\xc9";
// 开始获取采集时间
inline constexpr char kMsgWindowsTimeStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xb2\xc9\xbc\xaf\xca\xb1\xbc\xe4";
// 获取采集时间完成
inline constexpr char kMsgWindowsTimeDone[] = "\xbb\xf1\xc8\xa1\xb2\xc9\xbc\xaf\xca\xb1\xbc\xe4\xcd\xea\xb3\xc9";
// 开始获取IP和MAC信息
inline constexpr char kMsgLinuxAddressStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1" "IP" "\xba\xcd" "MAC" "\xd0\xc5\xcf\xa2";
// 获取IP和MAC信息完成
inline constexpr char kMsgLinuxAddressDone[] = "\xbb\xf1\xc8\xa1" "IP" "\xba\xcd" "MAC" "\xd0\xc5\xcf\xa2\xcd\xea\xb3\xc9";
// 开始获取IP和MAC
inline constexpr char kMsgWindowsAddressStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1" "IP" "\xba\xcd" "MAC";
// 获取IP和MAC完成
inline constexpr char kMsgWindowsAddressDone[] = "\xbb\xf1\xc8\xa1" "IP" "\xba\xcd" "MAC" "\xcd\xea\xb3\xc9";
// 开始获取设备名和系统版本
inline constexpr char kMsgDeviceStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xc9\xe8\xb1\xb8\xc3\xfb\xba\xcd\xcf\xb5\xcd\xb3\xb0\xe6\xb1\xbe";
// 获取设备名和系统版本完成
inline constexpr char kMsgDeviceDone[] = "\xbb\xf1\xc8\xa1\xc9\xe8\xb1\xb8\xc3\xfb\xba\xcd\xcf\xb5\xcd\xb3\xb0\xe6\xb1\xbe\xcd\xea\xb3\xc9";
// 开始获取硬盘序列号
inline constexpr char kMsgDiskStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xd3\xb2\xc5\xcc\xd0\xf2\xc1\xd0\xba\xc5";
// 获取硬盘序列号完成
inline constexpr char kMsgDiskDone[] = "\xbb\xf1\xc8\xa1\xd3\xb2\xc5\xcc\xd0\xf2\xc1\xd0\xba\xc5\xcd\xea\xb3\xc9";
// 开始获取CPU序列号
inline constexpr char kMsgCpuStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1" "CPU" "\xd0\xf2\xc1\xd0\xba\xc5";
// 获取CPU序列号完成
inline constexpr char kMsgCpuDone[] = "\xbb\xf1\xc8\xa1" "CPU" "\xd0\xf2\xc1\xd0\xba\xc5\xcd\xea\xb3\xc9";
// 开始获取BIOS序列号
inline constexpr char kMsgBiosStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1" "BIOS" "\xd0\xf2\xc1\xd0\xba\xc5";
// 获取BIOS序列号完成
inline constexpr char kMsgBiosDone[] = "\xbb\xf1\xc8\xa1" "BIOS" "\xd0\xf2\xc1\xd0\xba\xc5\xcd\xea\xb3\xc9";
// 开始获取系统盘信息
inline constexpr char kMsgSystemDiskStart[] = "\xbf\xaa\xca\xbc\xbb\xf1\xc8\xa1\xcf\xb5\xcd\xb3\xc5\xcc\xd0\xc5\xcf\xa2";
// 获取系统盘信息完成
inline constexpr char kMsgSystemDiskDone[] = "\xbb\xf1\xc8\xa1\xcf\xb5\xcd\xb3\xc5\xcc\xd0\xc5\xcf\xa2\xcd\xea\xb3\xc9";

// --- summary lines (label, ASCII colon and blank, value) ---------------
// 终端类型: %s\n
inline constexpr char kFmtTerminalType[] = "\xd6\xd5\xb6\xcb\xc0\xe0\xd0\xcd" ": %s\n";
// 信息采集时间: %s\n
inline constexpr char kFmtCollectTime[] = "\xd0\xc5\xcf\xa2\xb2\xc9\xbc\xaf\xca\xb1\xbc\xe4" ": %s\n";
// 私网IP1: %s\n
inline constexpr char kFmtIp1[] = "\xcb\xbd\xcd\xf8" "IP1: %s\n";
// 私网IP2: %s\n
inline constexpr char kFmtIp2[] = "\xcb\xbd\xcd\xf8" "IP2: %s\n";
// 网卡MAC地址1: %s\n
inline constexpr char kFmtMac1[] = "\xcd\xf8\xbf\xa8" "MAC" "\xb5\xd8\xd6\xb7" "1: %s\n";
// 网卡MAC地址2: %s\n
inline constexpr char kFmtMac2[] = "\xcd\xf8\xbf\xa8" "MAC" "\xb5\xd8\xd6\xb7" "2: %s\n";
// 设备名: %s\n
inline constexpr char kFmtDeviceName[] = "\xc9\xe8\xb1\xb8\xc3\xfb" ": %s\n";
// 操作系统版本: %s\n
inline constexpr char kFmtOsVersion[] = "\xb2\xd9\xd7\xf7\xcf\xb5\xcd\xb3\xb0\xe6\xb1\xbe" ": %s\n";
// 硬盘序列号: %s\n
inline constexpr char kFmtDiskSerial[] = "\xd3\xb2\xc5\xcc\xd0\xf2\xc1\xd0\xba\xc5" ": %s\n";
// CPU序列号: %s\n
inline constexpr char kFmtCpuId[] = "CPU" "\xd0\xf2\xc1\xd0\xba\xc5" ": %s\n";
// BIOS序列号: %s\n
inline constexpr char kFmtBiosSerial[] = "BIOS" "\xd0\xf2\xc1\xd0\xba\xc5" ": %s\n";
// 系统盘分区信息: %s\n
inline constexpr char kFmtSystemDisk[] = "\xcf\xb5\xcd\xb3\xc5\xcc\xb7\xd6\xc7\xf8\xd0\xc5\xcf\xa2" ": %s\n";
// clang-format on

}  // namespace kolvex::msg
