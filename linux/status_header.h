// The status header the collecting entry points hand back.
#pragma once

#include <ctime>

namespace kolvex {

constexpr int kStatusHeaderSize = 8;

// 1, '0' (flags 0) or '3', year - 2000, month 1-12, day, hour, minute, second.
void BuildStatusHeader(int flags, const std::tm& local, unsigned char header[kStatusHeaderSize]);

}  // namespace kolvex
