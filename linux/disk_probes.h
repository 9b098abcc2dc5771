// Decoding of the disk answers, apart from the kernel plumbing.
#pragma once

#include <scsi/sg.h>

#include <cstddef>

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

// The chain: each later probe runs only while the first byte is still NUL.
void RunDiskChain(char* serial, void (*ide)(char*), void (*scsi)(char*), void (*lshw)(char*));

}  // namespace kolvex
