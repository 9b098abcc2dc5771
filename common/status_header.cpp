#include "status_header.h"

namespace kolvex {

void BuildStatusHeader(int flags, const std::tm& local, unsigned char header[kStatusHeaderSize]) {
  header[0] = 1;
  header[1] = flags == 0 ? '0' : '3';
  header[2] = static_cast<unsigned char>(local.tm_year - 100);
  header[3] = static_cast<unsigned char>(local.tm_mon + 1);
  header[4] = static_cast<unsigned char>(local.tm_mday);
  header[5] = static_cast<unsigned char>(local.tm_hour);
  header[6] = static_cast<unsigned char>(local.tm_min);
  header[7] = static_cast<unsigned char>(local.tm_sec);
}

void BuildStatusHeaderNow(int flags, bool (*readLocal)(std::tm* local),
                          unsigned char header[kStatusHeaderSize]) {
  std::tm local{};
  if (!readLocal(&local)) {
    local = std::tm{};
    local.tm_year = 100;
    local.tm_mon = -1;
  }
  BuildStatusHeader(flags, local, header);
}

}  // namespace kolvex
