// The dmidecode and lshw parsers on arbitrary captured text.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "tool_probes.h"

namespace {

void Check(const std::vector<char>& text, const kolvex::ToolValueRule& rule, size_t capacity) {
  std::unique_ptr<char[]> out(new char[capacity]);
  std::memset(out.get(), 0, capacity);
  kolvex::ParseToolValue(text.data(), rule, out.get(), capacity);
  const size_t length = strnlen(out.get(), capacity);
  KOLVEX_FUZZ_CHECK(length < capacity);  // still terminated by the zero fill
  for (size_t i = 0; i < length; ++i) {
    KOLVEX_FUZZ_CHECK(out[i] != '\r' && out[i] != '\n');
    if (rule.dropBlanks || rule.blankStops) KOLVEX_FUZZ_CHECK(out[i] != ' ');
  }
  if (length > 0) KOLVEX_FUZZ_CHECK(std::strstr(text.data(), rule.key) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<char> text = kolvex::fuzz::Text(data, size);
  Check(text, kolvex::kCpuIdRule, kolvex::kCpuIdCapacity);
  Check(text, kolvex::kBiosSerialRule, kolvex::kBiosSerialCapacity);
  Check(text, kolvex::kLshwSerialRule, kolvex::kDiskSerialCapacity);
  Check(text, kolvex::kCpuIdRule, 1);
  return 0;
}
