// The status header a collection hands back beside its flags.
#pragma once

#include <ctime>

namespace kolvex {

constexpr int kStatusHeaderSize = 8;

// 1, '0' (flags 0) or '3', year - 2000, month 1-12, day, hour, minute, second.
void BuildStatusHeader(int flags, const std::tm& local, unsigned char header[kStatusHeaderSize]);

// The header of a run that has just ended, from a fresh reading of the
// local time (readLocal false: there is none, and the date bytes stay zero
// rather than coming from undefined data).
void BuildStatusHeaderNow(int flags, bool (*readLocal)(std::tm* local),
                          unsigned char header[kStatusHeaderSize]);

}  // namespace kolvex
