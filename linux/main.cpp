// kolvexforlinux: one collection, its progress log, summary and record.
#include <cstdio>

#include "kolvex/kolvex.h"

int main() {
  std::puts("kolvex for linux version 1.1.2");
  char buffer[1000] = {0};
  int length = 0;
  ORVIK_GetRealSystemInfo(buffer, length);
  std::printf("CollectData = [%s]\n", buffer);
  return 0;
}
