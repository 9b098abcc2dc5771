// Decoding of the disk answers, apart from the kernel plumbing.
#pragma once

#include <scsi/sg.h>

#include <cstddef>

#include "sysfs.h"

namespace kolvex {

constexpr std::size_t kIdentitySize = 512;
constexpr std::size_t kIdentitySerialOffset = 20;
constexpr std::size_t kIdentitySerialLength = 20;

constexpr std::size_t kInquiryDataSize = 255;
constexpr std::size_t kSenseSize = 32;
constexpr int kSgTimeoutMs = 164;
constexpr int kMinSgVersion = 30000;

// The serial_no field of an ATA identity record: its bytes up to the first
// NUL, at most 20, blanks kept; then a NUL (serial holds at least 21 bytes).
void SerialFromIdentity(const unsigned char identity[kIdentitySize], char* serial);

// The serial of a Unit Serial Number page: byte 3 is its length, the serial
// follows from byte 4, never read past pageSize; a NUL byte ends it. Writes
// the serial and a NUL (at most 252 bytes for a 255-byte page).
void SerialFromUnitSerialPage(const unsigned char* page, std::size_t pageSize, char* serial);

// The sg_io_hdr fields for one request.
void FillSgIoHeader(sg_io_hdr_t& header, unsigned char* cdb, unsigned char cdbSize, int direction,
                    unsigned char* data, unsigned int dataSize, unsigned char* sense,
                    unsigned char senseSize);

// What a completed SG_IO request means: the result code, the sense bytes
// written (0 unless the command ended with sense data), and the lines to
// print on standard output.
struct SgOutcome {
  int result;
  unsigned int senseLength;
  char report[128];
};
SgOutcome DecodeSgOutcome(const sg_io_hdr_t& header);

// The first disk's serial as the kernel publishes it to every user, one
// attribute per kind of disk, in the order the link tries them.
enum class SysfsSerialFormat { kUnitSerialPage, kText };
struct SysfsSerialSource {
  const char* attribute;  // below the sysfs root
  SysfsSerialFormat format;
};
extern const SysfsSerialSource kSysfsSerialSources[4];

// A text attribute's value: its bytes up to the first NUL, at most size
// bytes, then a NUL.
void SerialFromSysfsText(const unsigned char* data, std::size_t size, char* serial);

// What the record takes of a decoded sysfs value, in place: the text ends at
// its first CR or LF (the kernel's closing line feed among them), as the
// lshw line it stands in for would, and every other control byte becomes a
// blank for the item's trimming to fold. Returns whether a non-blank byte
// is left.
bool CleanSysfsSerial(char* serial);

// Reads and decodes one source into serial (at least 256 bytes), which it
// writes only when the outcome is kFound; a value without a non-blank byte
// (page length 0, a lone line feed, blanks or NULs only) is kEmpty, and the
// chain goes on.
SysfsRead ReadSysfsSerial(const SysfsSerialSource& source, char* serial);

// The sysfs link of the chain: the first source that yields a serial.
void DiskSerialFromSysfs(char* serial);

// The chain: each later probe runs only while the first byte is still NUL.
// A null sysfs link is left out.
// Tells an active trace that a device node would not open (with a hint
// where root would help).
void ExplainOpenFailure(const char* path, const char* request, int error);

void RunDiskChain(char* serial, void (*ide)(char*), void (*scsi)(char*), void (*sysfs)(char*),
                  void (*lshw)(char*));

}  // namespace kolvex
