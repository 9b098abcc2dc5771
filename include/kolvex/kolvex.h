// Client interface of libkolvex (C++): terminal identity collection on Linux.
// kolvex/kolvex_c.h is the same collection for C and other languages.
//
// A collection prints its progress log and a summary on standard output
// (GBK text) and returns the missing-item flags: 0 when every item was
// collected, else the sum of 0x2 time, 0x4 first IP, 0x8 first MAC, 0x10
// device name, 0x20 OS version, 0x40 disk serial, 0x80 CPU ID, 0x100 BIOS
// serial. A missing item is not an error: no entry point fails, and the
// record simply holds an empty item there. The record itself,
//   2@time@IP1@IP2@MAC1@MAC2@host@OS version@disk serial@CPU ID@BIOS serial
// is plain text, at most 188 characters; nothing is encrypted, whatever an
// entry point's name says. The library serialises collections inside one
// process: calls from several threads take turns.
#ifndef KOLVEX_KOLVEX_H
#define KOLVEX_KOLVEX_H

#include <string>

#if defined(__GNUC__)
#define KOLVEX_API __attribute__((visibility("default")))
#else
#define KOLVEX_API
#endif

// Progress-log stamp "HH:MM:SS:" followed by the microseconds, unpadded.
struct timeStick {
  std::string strTime;
};

// The stamp of the latest progress-log line of the process.
KOLVEX_API extern timeStick g_sys;

// --- entry points -----------------------------------------------------------

// An explanation buffer of this many bytes always holds the whole
// explanation of ORVIK_GetExplainedSystemInfo; a smaller one gets it cut at
// a line end.
#define KOLVEX_EXPLANATION_SIZE 24576

// Runs a collection and prints the record as "\n client data : RECORD\n";
// out (at least 9 bytes) receives the 8-byte status header and 'T', len 9.
// The status header: byte 1, then '0' when every item was collected or '3'
// when any is missing, then year - 2000, month, day, hour, minute, second of
// the local time read after the collection. The record itself is not in out.
// Returns the missing-item flags.
KOLVEX_API int ORVIK_GetSystemInfo(char* out, int& len);
// As ORVIK_GetSystemInfo without the 'T': 8 bytes, len 8. Nothing is
// encrypted here either. Returns the missing-item flags.
KOLVEX_API int ORVIK_GetSystemInfoUnAesEncode(char* out, int& len);
// Runs a collection; out (at least 189 bytes) receives the terminal record
// and its NUL, len its length. Returns the missing-item flags.
KOLVEX_API int ORVIK_GetRealSystemInfo(char* out, int& len);
// The interface's version text, "pelm_tst_1.0_20230419_4066" (not the
// product version, 1.1.2); constant, not to be freed.
KOLVEX_API const char* ORVIK_GetKolvexApiVersion();
// ORVIK_GetRealSystemInfo, and into explanation (size bytes, always
// NUL-terminated; KOLVEX_EXPLANATION_SIZE always suffices) in plain ASCII
// where each item came from: every source tried, its outcome, the one that
// gave the value, hints for empty items. Nothing of it is printed. Returns
// the missing-item flags.
KOLVEX_API int ORVIK_GetExplainedSystemInfo(char* out, int& len, char* explanation, int size);

// --- probes -----------------------------------------------------------------
// Output buffers must be zero-filled by the caller: most probes write only the
// value's characters and rely on the zero fill for the terminating NUL.

// Refreshes a progress-log stamp from the wall clock.
KOLVEX_API void GetFormatTickCount(timeStick& stick);
// Local time "YYYY-MM-DD HH:MM:SS"; buf of at least 20 bytes.
KOLVEX_API void GetLinuxSysTime(char* buf);
// Host name and kernel release; each buffer at least 50 bytes, each copy cut
// at 49 characters.
KOLVEX_API void GetDeviceNameAndOsVersion(char* name, char* version);
// MAC text (12 hex digits) and IPv4 text of the first two usable interfaces.
// 0 when the interface list was read, -1 on failure.
KOLVEX_API int getLocalMacInfo(char* mac1, char* mac2, char* ip1, char* ip2);
// Appends the standard output of a shell command to out (zero-filled, at
// least 1024 bytes); stops once more than 512 characters are captured.
KOLVEX_API void executeCMD(const char* command, char* out);
// From dmidecode: CPU ID into a 50-byte buffer (at most 49 characters).
KOLVEX_API void GetCpuSerial(char* out);
// From dmidecode: system serial number into a 50-byte buffer (at most 49).
KOLVEX_API void GetBIOSSerial(char* out);
// From lshw: first disk serial into a 256-byte buffer (at most 255).
KOLVEX_API void GetDiskSerialBylshw(char* out);
// ATA identity serial of /dev/sda (else /dev/hda); buffer of at least 21 bytes.
KOLVEX_API void getIdeTypeDiskId(char* serial);
// Opens a SCSI generic capable node read-write; -1 when not usable.
KOLVEX_API int open_scsi_device(const char* path);
// One SG_IO request: 0 done (sense bytes in *sense_len when non-zero), -1
// request failed, -2 SCSI status, -3 host status, -4 driver status.
KOLVEX_API int scsi_io(int fd, unsigned char* cdb, unsigned char cdb_size, int xfer_dir,
                       unsigned char* data, unsigned int* data_size, unsigned char* sense,
                       unsigned int* sense_len);
// Unit serial number VPD page into serial (at least 252 bytes); 0 or -1.
KOLVEX_API int scsi_inquiry_unit_serial_number(int fd, char* serial);
// Unit serial number of /dev/sda (else /dev/hda); buffer of at least 252 bytes.
KOLVEX_API void GetScsiTypeHardDiskID(char* serial);

#endif  // KOLVEX_KOLVEX_H
