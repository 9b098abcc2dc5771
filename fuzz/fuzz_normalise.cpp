// TrimBuffer and item normalisation on arbitrary bytes and widths.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "terminal_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // First byte picks the item (and so its buffer, trim length and width).
  const int platform = data[0] & 1;
  const auto& rules = platform ? kolvex::kWindowsRecordRules : kolvex::kLinuxRecordRules;
  const int index = (data[0] >> 1) % rules.itemCount;
  const kolvex::ItemRule& rule = rules.items[index];
  data++;
  size--;

  const size_t bufferSize = static_cast<size_t>(rule.bufferSize);
  std::unique_ptr<char[]> item(new char[bufferSize]);
  std::memset(item.get(), 0, bufferSize);
  std::memcpy(item.get(), data, size < bufferSize ? size : bufferSize);

  // Text that ends within the trimmed bytes comes out fully compacted; a
  // buffer full to the trim length keeps its old tail bytes behind the
  // compacted text, and only the cut bounds it.
  const bool terminated =
      std::memchr(item.get(), 0, static_cast<size_t>(rule.trimLength)) != nullptr;
  kolvex::NormaliseItem(item.get(), rule.trimLength, rule.width);
  const size_t length = strnlen(item.get(), bufferSize);
  KOLVEX_FUZZ_CHECK(length <= static_cast<size_t>(rule.width));
  if (terminated) {
    KOLVEX_FUZZ_CHECK(length == 0 || item[0] != ' ');
    for (size_t i = 1; i < length; ++i) KOLVEX_FUZZ_CHECK(!(item[i] == ' ' && item[i - 1] == ' '));
  }

  // Appending the normalised item keeps the record inside its buffer.
  kolvex::TerminalRecord record(rules);
  record.AppendTerminalType();
  record.AddItem(static_cast<kolvex::ItemIndex>(index), item.get());
  KOLVEX_FUZZ_CHECK(static_cast<size_t>(record.length()) == std::strlen(record.text()));
  return 0;
}
