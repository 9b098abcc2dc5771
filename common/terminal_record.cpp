#include "terminal_record.h"

#include <cstring>

#include "messages.h"
#include "run_output.h"

namespace kolvex {

namespace {

// Item sizes shared by both platforms; the Windows record differs in the
// device name, OS version and disk serial buffers and adds the system disk.
constexpr ItemRule kTimeRule{20, 20, 19, 0x2};
constexpr ItemRule kIp1Rule{40, 40, 39, 0x4};
constexpr ItemRule kIp2Rule{40, 40, 39, 0};
constexpr ItemRule kMac1Rule{30, 30, 12, 0x8};
constexpr ItemRule kMac2Rule{30, 30, 12, 0};
constexpr ItemRule kCpuRule{50, 50, 16, 0x80};
constexpr ItemRule kBiosRule{50, 50, 10, 0x100};

const char* const kSummaryFormats[kMaxItems] = {
    msg::kFmtCollectTime, msg::kFmtIp1,        msg::kFmtIp2,        msg::kFmtMac1,
    msg::kFmtMac2,        msg::kFmtDeviceName, msg::kFmtOsVersion,  msg::kFmtDiskSerial,
    msg::kFmtCpuId,       msg::kFmtBiosSerial, msg::kFmtSystemDisk,
};

}  // namespace

const RecordRules kLinuxRecordRules = {
    C_LIN_VER,
    10,
    {kTimeRule,
     kIp1Rule,
     kIp2Rule,
     kMac1Rule,
     kMac2Rule,
     {50, 50, 9, 0x10},
     {50, 50, 5, 0x20},
     // The disk serial is trimmed over 255 of its 256 bytes.
     {256, 255, 16, 0x40},
     kCpuRule,
     kBiosRule,
     {0, 0, 0, 0}},
};

const RecordRules kWindowsRecordRules = {
    "1",
    11,
    {kTimeRule,
     kIp1Rule,
     kIp2Rule,
     kMac1Rule,
     kMac2Rule,
     {61, 61, 9, 0x10},
     {20, 20, 5, 0x20},
     {50, 50, 16, 0x40},
     kCpuRule,
     kBiosRule,
     {25, 25, 24, 0x200}},
};

void TrimBuffer(char* buf, int len) {
  if (len <= 0) return;
  int write = 0;
  bool pendingSpace = false;
  bool started = false;
  for (int read = 0; read < len; ++read) {
    const char c = buf[read];
    if (c == ' ') {
      pendingSpace = true;
      continue;
    }
    if (c == '\0') {
      buf[write] = '\0';
      return;
    }
    if (pendingSpace && started) buf[write++] = ' ';
    buf[write++] = c;
    pendingSpace = false;
    started = true;
  }
}

int CharacterCut(const char* text, int width) {
  const auto byte = [text](int i) { return static_cast<unsigned char>(text[i]); };
  const auto continues = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  if (width <= 0 || !continues(byte(width))) return width;
  // A character has at most three bytes after its first.
  for (int start = width - 1; start >= 0 && start >= width - 3; --start) {
    const unsigned char c = byte(start);
    if (continues(c)) continue;
    const int length = c >= 0xC2 && c <= 0xDF   ? 2
                       : c >= 0xE0 && c <= 0xEF ? 3
                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                : 0;
    return start + length > width ? start : width;
  }
  return width;
}

void NormaliseItem(char* item, int trimLength, int width) {
  TrimBuffer(item, trimLength);
  item[CharacterCut(item, width)] = '\0';
}

char* ItemBuffers::at(ItemIndex index) {
  return const_cast<char*>(static_cast<const ItemBuffers*>(this)->at(index));
}

const char* ItemBuffers::at(ItemIndex index) const {
  switch (index) {
    case kCollectTime:
      return collectTime;
    case kIp1:
      return ip1;
    case kIp2:
      return ip2;
    case kMac1:
      return mac1;
    case kMac2:
      return mac2;
    case kDeviceName:
      return deviceName;
    case kOsVersion:
      return osVersion;
    case kDiskSerial:
      return diskSerial;
    case kCpuId:
      return cpuId;
    case kBiosSerial:
      return biosSerial;
    case kSystemDisk:
      return systemDisk;
    case kMaxItems:
      break;
  }
  return nullptr;
}

TerminalRecord::TerminalRecord(const RecordRules& rules) : rules_(rules), length_(0) {
  std::memset(buffer_, 0, sizeof buffer_);
}

void TerminalRecord::Append(const char* text, bool separator) {
  const int room = kRecordBufferSize - length_;
  if (room <= 1) return;
  const int printed =
      std::snprintf(buffer_ + length_, static_cast<size_t>(room), separator ? "%s@" : "%s", text);
  // Items are cut to their widths, so the longest record (213 characters)
  // always fits; the clamp only keeps the length honest if it ever did not.
  if (printed > 0) length_ += printed < room ? printed : room - 1;
}

void TerminalRecord::AppendTerminalType() { Append(rules_.terminalType, true); }

void TerminalRecord::AddItem(ItemIndex index, char* item) {
  const ItemRule& rule = rules_.items[index];
  NormaliseItem(item, rule.trimLength, rule.width);
  // In the item buffer itself, so that the summary, the flags and the
  // explanation show what the record holds.
  for (char* at = item; *at != '\0'; ++at)
    if (*at == kRecordSeparator) *at = kSeparatorStandIn;
  Append(item, index + 1 < rules_.itemCount);
}

void TerminalRecord::HandOver(char* out, int& len) const {
  std::memcpy(out, buffer_, static_cast<size_t>(length_) + 1);
  len = length_;
}

int MissingItemFlags(const RecordRules& rules, const ItemBuffers& items) {
  int flags = 0;
  for (int i = 0; i < rules.itemCount; ++i) {
    const ItemIndex index = static_cast<ItemIndex>(i);
    if (rules.items[i].flag != 0 && items.at(index)[0] == '\0') flags |= rules.items[i].flag;
  }
  return flags;
}

void PrintSummary(const RecordRules& rules, const ItemBuffers& items) {
  RunPrintf("\n");
  RunPrintf(msg::kFmtTerminalType, rules.terminalType);
  for (int i = 0; i < rules.itemCount; ++i)
    RunPrintf(kSummaryFormats[i], items.at(static_cast<ItemIndex>(i)));
  RunPrintf("\n");
}

void FormatCollectionTime(const std::tm& local, char* buf) {
  constexpr int kSize = 20;
  int n = std::snprintf(buf, kSize, "%d-%02d-%02d ", local.tm_year + 1900, local.tm_mon + 1,
                        local.tm_mday);
  if (n < 0 || n >= kSize) return;  // only a year of more than four digits gets here
  std::snprintf(buf + n, static_cast<size_t>(kSize - n), "%02d:%02d:%02d", local.tm_hour,
                local.tm_min, local.tm_sec);
}

}  // namespace kolvex
