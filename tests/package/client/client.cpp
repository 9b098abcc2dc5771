// Calls every entry point of an installed libkolvex and checks what a client
// can rely on.
#include <kolvex/kolvex.h>

#include <cstdio>
#include <cstring>

static int failures = 0;
static void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

int main() {
  const char* version = ORVIK_GetKolvexApiVersion();
  Check(std::strcmp(version, "pelm_tst_1.0_20230419_4066") == 0, "version text");
  Check(ORVIK_GetKolvexApiVersion() == version, "version address stable");

  char record[256];
  int len = -1;
  const int flags = ORVIK_GetRealSystemInfo(record, len);
  Check(len == static_cast<int>(std::strlen(record)), "record length");
  Check(std::strncmp(record, "2@", 2) == 0, "terminal type");
  Check((flags & ~0x1FE) == 0, "only defined flag bits");

  unsigned char out[16];
  std::memset(out, 0xEE, sizeof out);
  int hlen = 0;
  const int f1 = ORVIK_GetSystemInfo(reinterpret_cast<char*>(out), hlen);
  Check(hlen == 9 && out[0] == 1 && out[8] == 'T' && out[9] == 0xEE, "GetSystemInfo header");
  Check(out[1] == (f1 == 0 ? '0' : '3'), "GetSystemInfo status");
  Check(out[3] >= 1 && out[3] <= 12 && out[4] >= 1 && out[4] <= 31, "date bytes");

  std::memset(out, 0xEE, sizeof out);
  const int f2 = ORVIK_GetSystemInfoUnAesEncode(reinterpret_cast<char*>(out), hlen);
  Check(hlen == 8 && out[0] == 1 && out[8] == 0xEE, "UnAesEncode header");
  Check(out[1] == (f2 == 0 ? '0' : '3'), "UnAesEncode status");

  char cpu[50] = {0};
  GetCpuSerial(cpu);  // probes are part of the interface too
  Check(std::strlen(cpu) < 50, "probe stays in its buffer");
  std::printf("client: %s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
