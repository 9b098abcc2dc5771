// kolvexforWindows: one collection, the record on standard output, then a
// key press before the console window may close.
#include <cstdio>
#include <cstring>

#include "WindowsKolvex.h"

int main() {
  std::printf("kolvex_1.0.2 for Windows version 1.0_20220124_1468\n");

  char record[1000];
  static_assert(sizeof record >= kolvex::kWindowsOutSize, "the run needs room for a full record");
  std::memset(record, 0, sizeof record);
  int length = 0;
  GetWindowsSystemInfo(record, &length);

  std::printf("CollectData = [%s]\n", record);
  // Shown before the wait also when standard output is a pipe.
  std::fflush(stdout);
  std::getchar();
  return 0;
}
