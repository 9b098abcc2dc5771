// Recorded tool output under tests/data/windows.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace kolvex::testing {

inline std::string ReadDataFile(const std::string& name) {
  std::ifstream in(std::string(KOLVEX_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kolvex::testing
