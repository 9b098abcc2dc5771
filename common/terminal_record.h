// Terminal record rules shared by the Linux and the Windows collector: item
// normalisation, the "@"-joined record and the missing-item flags.
#pragma once

#include <cstdio>
#include <ctime>

// Terminal type of a Linux record.
inline constexpr char C_LIN_VER[] = "2";

namespace kolvex {

// Receivers split the record on its separator, so none may stand inside an
// item: each one there is written as the stand-in, one byte for one, so
// widths and lengths stay as they are.
inline constexpr char kRecordSeparator = '@';
inline constexpr char kSeparatorStandIn = '_';

// Compacts the text in buf[0, len) in place: leading and trailing blanks go,
// inner runs of blanks fold into one. Only 0x20 is a blank. Stops at the
// first NUL (storing a NUL at the new end); with no NUL in range it stores
// no terminator at all. len <= 0 leaves buf alone.
void TrimBuffer(char* buf, int len);

// Where text may be cut to keep at most width bytes: width, or the start of
// the UTF-8 character that a cut at width would split (text[width] continues
// a character begun before it). ASCII and bytes that do not form such a
// character are cut at width. Reads text[0, width].
int CharacterCut(const char* text, int width);

// TrimBuffer over trimLength bytes, then a NUL at index width, or before a
// UTF-8 character that the cut would split: a receiver that decodes the
// record must not meet half a character in front of a separator.
void NormaliseItem(char* item, int trimLength, int width);

// Items after the terminal type, in record order. The Windows record has one
// more item at the end (the system disk).
enum ItemIndex {
  kCollectTime,
  kIp1,
  kIp2,
  kMac1,
  kMac2,
  kDeviceName,
  kOsVersion,
  kDiskSerial,
  kCpuId,
  kBiosSerial,
  kSystemDisk,
  kMaxItems
};

struct ItemRule {
  int bufferSize;  // bytes zero-filled before the probe
  int trimLength;  // bytes TrimBuffer examines
  int width;       // index of the cutting NUL: most characters kept
  int flag;        // missing-item bit, 0 when the item has none
};

// What makes one platform's record: the terminal type, the items it carries
// (the first itemCount of ItemIndex) and their sizes.
struct RecordRules {
  const char* terminalType;
  int itemCount;
  ItemRule items[kMaxItems];
};

extern const RecordRules kLinuxRecordRules;
extern const RecordRules kWindowsRecordRules;

// The item buffers a run owns. Each array is as large as the largest size
// either platform uses; a run zero-fills and trims only its own size.
struct ItemBuffers {
  char collectTime[20];
  char ip1[40];
  char ip2[40];
  char mac1[30];
  char mac2[30];
  char deviceName[61];
  char osVersion[50];
  char diskSerial[256];
  char cpuId[50];
  char biosSerial[50];
  char systemDisk[25];

  char* at(ItemIndex index);
  const char* at(ItemIndex index) const;
};

constexpr int kRecordBufferSize = 256;

// The record under assembly: a zero-filled 256-byte buffer and the running
// length taken from the counts the appends report.
class TerminalRecord {
 public:
  explicit TerminalRecord(const RecordRules& rules);

  void AppendTerminalType();
  // Normalises the item in place, puts the stand-in for every separator in
  // it, then appends it ("%s@", or "%s" for the record's last item).
  void AddItem(ItemIndex index, char* item);

  const char* text() const { return buffer_; }
  int length() const { return length_; }

  // Copies the record with its NUL to out (length() + 1 bytes) and stores
  // the length.
  void HandOver(char* out, int& len) const;

 private:
  void Append(const char* text, bool separator);

  const RecordRules& rules_;
  char buffer_[kRecordBufferSize];
  int length_;
};

// Bits of the items that are empty after normalisation.
int MissingItemFlags(const RecordRules& rules, const ItemBuffers& items);

// The labelled summary: a blank line, one line per item, a blank line.
void PrintSummary(const RecordRules& rules, const ItemBuffers& items);

// "%d-%02d-%02d %02d:%02d:%02d" of a broken-down local time into a buffer of
// at least 20 bytes; never writes more than 20.
void FormatCollectionTime(const std::tm& local, char* buf);

}  // namespace kolvex
