// Exact-size heap copies, so the sanitizer sees any access past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kolvex::fuzz {

// Aborts the run with the finding when a property does not hold.
#define KOLVEX_FUZZ_CHECK(cond)                                                         \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

// Input text with a NUL after it, in a block of exactly that size.
inline std::vector<char> Text(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  return text;
}

}  // namespace kolvex::fuzz
