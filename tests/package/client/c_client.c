/* A C99 client of the installed kolvex_c.h. Prints the record, flags and
 * header of one collection; checks that the calls print nothing (file
 * descriptors 1 and 2 captured), the errors, and four threads at once.
 * With an argument, the program's record in the same conditions, the
 * records must agree but for the time. */
#define _POSIX_C_SOURCE 200809L

#include <kolvex/kolvex_c.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int failures = 0;
static void check(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

/* The record without its time item, the second. */
static void without_time(const char *record, char *out, size_t size) {
  const char *first = strchr(record, '@');
  const char *second = first != NULL ? strchr(first + 1, '@') : NULL;
  if (second == NULL) {
    snprintf(out, size, "%s", record);
    return;
  }
  snprintf(out, size, "%.*s%s", (int)(first - record + 1), record, second);
}

/* The flags the record's empty items call for. */
static int flags_of(const char *record) {
  static const int item_flags[] = {0,
                                   KOLVEX_MISSING_TIME,
                                   KOLVEX_MISSING_IP1,
                                   0,
                                   KOLVEX_MISSING_MAC1,
                                   0,
                                   KOLVEX_MISSING_DEVICE_NAME,
                                   KOLVEX_MISSING_OS_VERSION,
                                   KOLVEX_MISSING_DISK_SERIAL,
                                   KOLVEX_MISSING_CPU_ID,
                                   KOLVEX_MISSING_BIOS_SERIAL};
  int flags = 0;
  size_t item = 0;
  const char *at = record;
  for (;;) {
    const size_t length = strcspn(at, "@");
    if (length == 0 && item < sizeof item_flags / sizeof item_flags[0]) flags |= item_flags[item];
    if (at[length] == '\0') break;
    at += length + 1;
    ++item;
  }
  return item == 10 ? flags : -1;
}

static char g_record[KOLVEX_RECORD_SIZE];

static void *collect_in_thread(void *result) {
  char record[KOLVEX_RECORD_SIZE], mine[KOLVEX_RECORD_SIZE], theirs[KOLVEX_RECORD_SIZE];
  *(int *)result = kolvex_collect(record, sizeof record, NULL) >= 0 &&
                   (without_time(record, mine, sizeof mine),
                    without_time(g_record, theirs, sizeof theirs), strcmp(mine, theirs) == 0);
  return NULL;
}

int main(int argc, char **argv) {
  unsigned char header[KOLVEX_HEADER_SIZE];
  char guarded[8];
  char explanation[16384];
  int flags, space, argument, zero, explained, i;
  pthread_t threads[4];
  int results[4];
  char captured[256];
  FILE *sink = tmpfile();
  const int saved_out = dup(1), saved_err = dup(2);

  /* Everything the calls write to 1 or 2 lands in the sink. */
  fflush(stdout);
  fflush(stderr);
  dup2(fileno(sink), 1);
  dup2(fileno(sink), 2);
  flags = kolvex_collect(g_record, sizeof g_record, header);
  memset(guarded, 'G', sizeof guarded);
  space = kolvex_collect(guarded, 4, NULL);
  argument = kolvex_collect(NULL, sizeof g_record, header);
  zero = kolvex_collect(guarded, 0, NULL);
  explained =
      kolvex_collect_explained(g_record, sizeof g_record, NULL, explanation, sizeof explanation);
  for (i = 0; i < 4; ++i) pthread_create(&threads[i], NULL, collect_in_thread, &results[i]);
  for (i = 0; i < 4; ++i) pthread_join(threads[i], NULL);
  fflush(stdout);
  fflush(stderr);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(saved_out);
  close(saved_err);

  rewind(sink);
  captured[fread(captured, 1, sizeof captured - 1, sink)] = '\0';
  fclose(sink);
  check(captured[0] == '\0', "nothing on standard output or standard error");
  if (captured[0] != '\0') fprintf(stderr, "they got: %s\n", captured);

  printf("record: %s\nflags: 0x%x\nheader: %d %c %d %d %d %d %d %d\nversion: %s\n", g_record,
         (unsigned)flags, header[0], header[1], header[2], header[3], header[4], header[5],
         header[6], header[7], kolvex_version());
  check(flags >= 0 && flags == flags_of(g_record), "flags match the empty items");
  check(explained == flags && strstr(explanation, "disk serial") != NULL, "explained collection");
  check(header[0] == 1 && header[1] == (flags == 0 ? '0' : '3'), "header status");
  check(header[2] + 2000 == atoi(strchr(g_record, '@') + 1), "header year is the record's");
  check(space == KOLVEX_ERROR_SPACE && guarded[0] == '\0' && memcmp(guarded + 4, "GGGG", 4) == 0,
        "record_size 4: space error, nothing written past it");
  check(argument == KOLVEX_ERROR_ARGUMENT && zero == KOLVEX_ERROR_ARGUMENT, "argument errors");
  for (i = 0; i < 4; ++i) check(results[i], "a thread's collection");
  check(strcmp(kolvex_version(), "1.1.2") == 0, "version");
  if (argc > 1) {
    char mine[KOLVEX_RECORD_SIZE], theirs[KOLVEX_RECORD_SIZE];
    without_time(g_record, mine, sizeof mine);
    without_time(argv[1], theirs, sizeof theirs);
    check(strcmp(mine, theirs) == 0, "the program's record but for the time");
  }
  printf("c client: %s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
