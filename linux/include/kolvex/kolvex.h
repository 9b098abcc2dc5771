// Client interface of libkolvex: terminal identity collection on Linux.
//
// A collection prints its progress log and a summary on standard output and
// hands back the missing-item flags (0: every item collected; 0x2 time,
// 0x4 first IP, 0x8 first MAC, 0x10 device name, 0x20 OS version, 0x40 disk
// serial, 0x80 CPU ID, 0x100 BIOS serial). The library serialises
// collections inside one process.
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

// Runs a collection; out (at least 9 bytes) receives the 8-byte status header
// (1, '0' or '3', year-2000, month, day, hour, minute, second) and 'T'; len 9.
KOLVEX_API int ORVIK_GetSystemInfo(char* out, int& len);
// As above without the 'T': 8 bytes, len 8.
KOLVEX_API int ORVIK_GetSystemInfoUnAesEncode(char* out, int& len);
// Runs a collection; out (at least 189 bytes) receives the terminal record,
// len its length.
KOLVEX_API int ORVIK_GetRealSystemInfo(char* out, int& len);
// The interface version text; constant, not to be freed.
KOLVEX_API const char* ORVIK_GetKolvexApiVersion();
// ORVIK_GetRealSystemInfo, and into explanation (size bytes, always
// NUL-terminated) in plain ASCII where each item came from: every source
// tried, its outcome, the one that gave the value, hints. Nothing of it is
// printed.
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
