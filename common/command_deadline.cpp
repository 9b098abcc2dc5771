#include "command_deadline.h"

#include <climits>
#include <cstdlib>

namespace kolvex {

int ParseCommandTimeout(const char* text, int fallback) {
  if (text == nullptr || *text == '\0') return fallback;
  long long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return fallback;
    if (value <= INT_MAX) value = value * 10 + (*c - '0');
  }
  if (value <= 0) return fallback;
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int CommandTimeoutMs() {
  return ParseCommandTimeout(std::getenv(kCommandTimeoutVariable), kDefaultCommandTimeoutMs);
}

}  // namespace kolvex
