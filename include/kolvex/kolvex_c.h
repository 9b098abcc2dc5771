/* kolvex C interface: one terminal identity collection from any language.
 *
 * The same three functions on Linux (libkolvex.so.1) and Windows (kolvex.dll).
 * Plain C types only; every buffer belongs to the caller and is passed
 * with its size. Nothing is printed: no progress log, no summary, and the
 * tools the collection starts write their own error output to /dev/null (on
 * Windows it is read with their output, never passed on). The caller's signal
 * dispositions, locale, environment and standard streams are left as they
 * were.
 *
 * Threads: any thread may call any function at any time. Collections of one
 * process take turns (with the C++ entry points of kolvex.h too), so a call
 * may wait for another thread's collection to end. Every tool a collection
 * starts runs under a deadline (30 s by default; the environment variable
 * KOLVEX_COMMAND_TIMEOUT_MS, a positive number of milliseconds, changes it).
 *
 * The terminal record, at most 188 characters on Linux and 213 on Windows:
 *   Linux:   2@time@IP1@IP2@MAC1@MAC2@host@OS version@disk serial@CPU ID@BIOS serial
 *   Windows: 1@time@IP1@IP2@MAC1@MAC2@host@OS version@disk serial@CPU ID@BIOS serial@system disk
 * Single-byte text, mostly ASCII; a host name may carry UTF-8 (never cut
 * inside a character). No item holds '@': one there is written as '_'.
 */
#ifndef KOLVEX_KOLVEX_C_H
#define KOLVEX_KOLVEX_C_H

#include <stddef.h>

#if defined(_WIN32)
#if defined(KOLVEX_C_BUILDING)
#define KOLVEX_C_API __declspec(dllexport)
#else
#define KOLVEX_C_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KOLVEX_C_API __attribute__((visibility("default")))
#else
#define KOLVEX_C_API
#endif

/* The calling convention of the three functions: cdecl everywhere. It is
 * spelled out only where a compiler or a binding could assume another, on
 * 32-bit Windows (where C#'s P/Invoke default is StdCall, say). */
#if defined(_WIN32) && !defined(_WIN64)
#define KOLVEX_CALL __cdecl
#else
#define KOLVEX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A record buffer of this size always holds the record and its NUL. */
#define KOLVEX_RECORD_SIZE 256

/* Size of the status header written by the collecting functions. */
#define KOLVEX_HEADER_SIZE 8

/* An explanation buffer of this size always holds the whole explanation of
 * kolvex_collect_explained (kolvex.h defines the same value). */
#define KOLVEX_EXPLANATION_SIZE 24576

/* Missing-item flags: one bit for each item that came out empty. */
#define KOLVEX_MISSING_TIME 0x2
#define KOLVEX_MISSING_IP1 0x4
#define KOLVEX_MISSING_MAC1 0x8
#define KOLVEX_MISSING_DEVICE_NAME 0x10
#define KOLVEX_MISSING_OS_VERSION 0x20
#define KOLVEX_MISSING_DISK_SERIAL 0x40
#define KOLVEX_MISSING_CPU_ID 0x80
#define KOLVEX_MISSING_BIOS_SERIAL 0x100
#define KOLVEX_MISSING_SYSTEM_DISK 0x200 /* Windows only */

/* Errors: always negative. */
#define KOLVEX_ERROR_ARGUMENT (-1) /* record is NULL or record_size is 0 */
#define KOLVEX_ERROR_SPACE (-2)    /* record_size too small for the record and its NUL */

/* Runs one collection.
 *
 * record, record_size: receives the terminal record and its NUL. When it does
 *   not fit, record becomes the empty string, KOLVEX_ERROR_SPACE is returned
 *   and nothing is written past record_size (KOLVEX_RECORD_SIZE always fits).
 * header: NULL, or KOLVEX_HEADER_SIZE bytes that receive the status header:
 *   1, '0' (every item collected) or '3' (an item is missing), the year minus
 *   2000, month, day, hour, minute, second of the local time read after the
 *   collection. Written also on KOLVEX_ERROR_SPACE; not on
 *   KOLVEX_ERROR_ARGUMENT.
 *
 * Returns the missing-item flags (0 when every item was collected, else a sum
 * of KOLVEX_MISSING_* values), or a negative KOLVEX_ERROR_* code. An item
 * that cannot be read (no root for the BIOS serial, say) is a flag, not an
 * error. */
KOLVEX_C_API int KOLVEX_CALL kolvex_collect(char *record, size_t record_size,
                                            unsigned char *header);

/* As kolvex_collect, and explanation (NULL, or explanation_size bytes)
 * receives, in plain ASCII, where each item came from: every source tried in
 * order, its outcome, the one that gave the value, and hints for empty items.
 * It is cut to fit at a line end and always NUL-terminated when
 * explanation_size > 0; KOLVEX_EXPLANATION_SIZE bytes always suffice. */
KOLVEX_C_API int KOLVEX_CALL kolvex_collect_explained(char *record, size_t record_size,
                                                      unsigned char *header, char *explanation,
                                                      size_t explanation_size);

/* The product version, e.g. "1.1.2": constant text, not to be freed. */
KOLVEX_C_API const char *KOLVEX_CALL kolvex_version(void);

#ifdef __cplusplus
}
#endif

#endif /* KOLVEX_KOLVEX_C_H */
