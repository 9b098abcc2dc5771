/* A console client built the way an MSVC project builds one: compiled for
 * the MSVC target, linked by lld-link against kolvex.lib (the import
 * library made from kolvex.def), not against mingw's libkolvex.dll.a, and
 * with no C runtime at all, so nothing but kolvex.dll and KERNEL32 is
 * imported. It prints what the calls returned on its standard output:
 *   version=<kolvex_version()>
 *   flags=<kolvex_collect's result>
 *   header=<the status header, 8 bytes in hex>
 *   record=<the record>
 *   argument=<kolvex_collect_explained's result for a record size of 0>
 * and exits 0, or 1 when the output cannot be written. */
#include "kolvex/kolvex_c.h"

/* The three KERNEL32 functions it needs, declared here: no Windows headers
 * are at hand for the MSVC target. */
typedef void *Handle;
__declspec(dllimport) Handle __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(Handle file, const void *bytes, unsigned long count,
                                              unsigned long *written, void *overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
#define STANDARD_OUTPUT ((unsigned long)-11)

static char g_out[1024];
static unsigned g_length;

static void Put(const char *text) {
  while (*text != '\0' && g_length < sizeof g_out) g_out[g_length++] = *text++;
}

static void PutNumber(int value) {
  char digits[12];
  unsigned n = 0, magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;
  if (value < 0) Put("-");
  do {
    digits[n++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (n > 0 && g_length < sizeof g_out) g_out[g_length++] = digits[--n];
}

void __cdecl ClientMain(void) {
  static char record[KOLVEX_RECORD_SIZE];
  static const char hex[] = "0123456789abcdef";
  unsigned char header[KOLVEX_HEADER_SIZE] = {0};
  unsigned long written = 0;
  int flags, i;

  flags = kolvex_collect(record, sizeof record, header);
  Put("version=");
  Put(kolvex_version());
  Put("\nflags=");
  PutNumber(flags);
  Put("\nheader=");
  for (i = 0; i < KOLVEX_HEADER_SIZE; ++i) {
    char pair[3] = {hex[header[i] >> 4], hex[header[i] & 15], '\0'};
    Put(pair);
  }
  Put("\nrecord=");
  Put(record);
  Put("\nargument=");
  PutNumber(kolvex_collect_explained(record, 0, NULL, NULL, 0));
  Put("\n");
  ExitProcess(WriteFile(GetStdHandle(STANDARD_OUTPUT), g_out, g_length, &written, NULL) &&
                      written == g_length
                  ? 0
                  : 1);
}
