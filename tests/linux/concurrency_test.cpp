// Collections started from several threads at once take turns inside the
// library: every caller gets its own complete, uncorrupted result.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LinuxKolvex.h"
#include "test_support.h"

namespace kolvex {
namespace {

void Put(char* b, const char* t) { std::memcpy(b, t, std::strlen(t)); }

const LinuxProbes kQuickProbes{
    [](char* b) { Put(b, "2026-03-15 09:30:12"); },
    [](char* mac1, char* mac2, char* ip1, char* ip2) {
      Put(mac1, "5254001a2b3c");
      Put(mac2, "5254001a2b3d");
      Put(ip1, "192.168.1.23");
      Put(ip2, "10.20.0.7");
      return 0;
    },
    [](char* n, char* v) {
      Put(n, "build-server-07");
      Put(v, "5.15.0-91-generic");
    },
    [](char* b) { Put(b, "S3Z9NB0K123456A9"); },
    [](char* b) { Put(b, "57060500FFFBEBBF"); },
    [](char* b) { Put(b, "PF1ABC2D"); },
};

TEST(ConcurrentCallers, CollectionsDoNotInterfere) {
  testing::ScopedProbes probes(ActiveProbes());
  *probes = kQuickProbes;
  const std::string expected =
      "2@2026-03-15 09:30:12@192.168.1.23@10.20.0.7@5254001a2b3c@5254001a2b3d@build-ser@5.15.@"
      "S3Z9NB0K123456A9@57060500FFFBEBBF@PF1ABC2D";
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  testing::CaptureStdout([&] {
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 25; ++i) {
          char out[256];
          int len = 0;
          if (t % 2 == 0) {
            if (ORVIK_GetRealSystemInfo(out, len) != 0 || expected != out) ++wrong;
          } else {
            if (ORVIK_GetSystemInfo(out, len) != 0 || len != 9 || out[1] != '0' || out[8] != 'T')
              ++wrong;
          }
          timeStick stick;
          GetFormatTickCount(stick);  // a caller refreshing a stamp of its own
        }
      });
    }
    for (std::thread& t : threads) t.join();
  });
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace kolvex
