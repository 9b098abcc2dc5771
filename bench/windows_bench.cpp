// A whole Windows collection (kolvex_collect, which prints nothing) timed
// both ways in one run: the run's own order, WMI asked in this process,
// beside the wmic route, WMI made to fail so that every item starts wmic.
//   kolvex_windows_bench [ROUNDS]   (default 5; one warm-up round each)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kolvex/kolvex_c.h"
#include "wmi_query.h"

namespace {

int WmiFails(const kolvex::WmicQuery&, char*, int) { return -1; }

// The median of rounds collections, in milliseconds; record keeps the last.
double MedianMs(int rounds, char* record) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> ms;
  for (int i = 0; i <= rounds; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const int flags = kolvex_collect(record, KOLVEX_RECORD_SIZE, nullptr);
    QueryPerformanceCounter(&end);
    if (flags < 0) {
      std::fprintf(stderr, "kolvex_collect: %d\n", flags);
      std::exit(1);
    }
    if (i > 0)  // the first round warms COM, WMI and the process start
      ms.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                   static_cast<double>(frequency.QuadPart));
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char wmiRecord[KOLVEX_RECORD_SIZE] = {}, wmicRecord[KOLVEX_RECORD_SIZE] = {};
  const double wmi = MedianMs(rounds, wmiRecord);
  const kolvex::WmiReader real = kolvex::ReplaceWmiReader(WmiFails);
  const double wmic = MedianMs(rounds, wmicRecord);
  kolvex::ReplaceWmiReader(real);
  std::printf("WMI in-process: %8.1f ms (median of %d) [%s]\n", wmi, rounds, wmiRecord);
  std::printf("wmic route:     %8.1f ms (median of %d) [%s]\n", wmic, rounds, wmicRecord);
  std::printf("ratio:          %8.3f\n", wmi / wmic);
  return 0;
}
