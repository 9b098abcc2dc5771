// Recorded tool output under tests/data/windows, and case names made of it.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace kolvex::testing {

inline std::string ReadDataFile(const std::string& name) {
  std::ifstream in(std::string(KOLVEX_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A test case name from a case's text: letters and digits stay, control
// characters are spelled out, everything else becomes "_"; "empty" for "".
inline std::string CaseName(const std::string& text) {
  if (text.empty()) return "empty";
  std::string name;
  for (unsigned char c : text) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
      name += static_cast<char>(c);
    else if (c == '\r')
      name += "_CR_";
    else if (c == '\n')
      name += "_LF_";
    else if (c == '\t')
      name += "_TAB_";
    else
      name += '_';
  }
  return name;
}

}  // namespace kolvex::testing
