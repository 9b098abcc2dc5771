/* A C application without a console (built with -mwindows) that calls
 * kolvex.dll the way a client application does without its import library:
 * LoadLibrary and GetProcAddress. It prints nothing; it writes what the calls
 * returned into the file its first argument names:
 *   version=<kolvex_version()>
 *   flags=<kolvex_collect's result>
 *   header=<the status header, 8 bytes in hex>
 *   record=<the record>
 *   explained=<kolvex_collect_explained's result>
 *   concurrent=<the result of kolvex_collect on a second thread, called while
 *              the explained call runs>
 *   concurrent_record=<its record>
 *   explanation:
 *   <the explanation>
 * Exits 2 when the DLL or a function cannot be had, 1 when the file cannot be
 * written. */
#include <windows.h>

#include <stdio.h>

#include "kolvex/kolvex_c.h"

/* With the header's calling convention: on x86 the pointers' default and
 * the DLL's functions must agree. */
typedef int(KOLVEX_CALL *CollectFn)(char *, size_t, unsigned char *);
typedef int(KOLVEX_CALL *CollectExplainedFn)(char *, size_t, unsigned char *, char *, size_t);
typedef const char *(KOLVEX_CALL *VersionFn)(void);

/* GetProcAddress gives a generic function pointer; the cast through
 * void (*)(void) says the type is known. */
#define KOLVEX_FUNCTION(module, type, name) ((type)(void (*)(void))GetProcAddress(module, name))

static CollectFn collect;
static char concurrentRecord[KOLVEX_RECORD_SIZE];
static int concurrentFlags = -100;

static DWORD WINAPI CollectConcurrently(void *unused) {
  (void)unused;
  concurrentFlags = collect(concurrentRecord, sizeof concurrentRecord, NULL);
  return 0;
}

int main(int argc, char **argv) {
  static char record[KOLVEX_RECORD_SIZE];
  static char again[KOLVEX_RECORD_SIZE];
  static char explanation[24 * 1024];
  unsigned char header[KOLVEX_HEADER_SIZE] = {0};
  HMODULE dll;
  HANDLE second;
  CollectExplainedFn collectExplained;
  VersionFn version;
  FILE *out;
  int flags, explained, i;

  if (argc < 2) return 2;
  dll = LoadLibraryA("kolvex.dll");
  if (dll == NULL) return 2;
  collect = KOLVEX_FUNCTION(dll, CollectFn, "kolvex_collect");
  collectExplained = KOLVEX_FUNCTION(dll, CollectExplainedFn, "kolvex_collect_explained");
  version = KOLVEX_FUNCTION(dll, VersionFn, "kolvex_version");
  if (collect == NULL || collectExplained == NULL || version == NULL) {
    FreeLibrary(dll);
    return 2;
  }

  flags = collect(record, sizeof record, header);
  /* Two callers at once: each gets a collection of its own. */
  second = CreateThread(NULL, 0, CollectConcurrently, NULL, 0, NULL);
  explained = collectExplained(again, sizeof again, NULL, explanation, sizeof explanation);
  if (second != NULL) {
    WaitForSingleObject(second, INFINITE);
    CloseHandle(second);
  }

  out = fopen(argv[1], "wb");
  if (out == NULL) {
    FreeLibrary(dll);
    return 1;
  }
  fprintf(out, "version=%s\nflags=%d\nheader=", version(), flags);
  for (i = 0; i < KOLVEX_HEADER_SIZE; ++i) fprintf(out, "%02x", header[i]);
  fprintf(out, "\nrecord=%s\nexplained=%d\nconcurrent=%d\nconcurrent_record=%s\nexplanation:\n%s",
          record, explained, concurrentFlags, concurrentRecord, explanation);
  fclose(out);
  FreeLibrary(dll);
  return 0;
}
