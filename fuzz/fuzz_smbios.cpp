// The SMBIOS decoder on hostile tables: the first input byte says how many
// of the next bytes are the entry point, the rest is the table; each is an
// exact-size copy, so a read past either file's end is a finding.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "command_runner.h"
#include "fuzz_support.h"
#include "smbios_tables.h"

namespace {

void Check(const std::vector<unsigned char>& entry, const std::vector<unsigned char>& table,
           const kolvex::SmbiosItem& item, size_t capacity) {
  std::unique_ptr<char[]> out(new char[capacity]);
  std::memset(out.get(), 0, capacity);
  kolvex::SmbiosValue(entry.data(), entry.size(), table.data(), table.size(), item, out.get(),
                      capacity);
  KOLVEX_FUZZ_CHECK(strnlen(out.get(), capacity) < capacity);

  std::unique_ptr<char[]> capture(new char[kolvex::kCaptureCapacity]);
  const kolvex::SmbiosEntryPoint point = kolvex::DecodeSmbiosEntryPoint(entry.data(), entry.size());
  const size_t length = kolvex::RenderSmbiosCapture(point, table.data(), table.size(), item,
                                                    capture.get(), kolvex::kCaptureCapacity);
  // At most the runner's capture: 512 characters and one more chunk of 511.
  KOLVEX_FUZZ_CHECK(length <= 1023 && std::strlen(capture.get()) == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t entrySize = data[0] < size - 1 ? data[0] : size - 1;
  const std::vector<unsigned char> entry(data + 1, data + 1 + entrySize);
  const std::vector<unsigned char> table(data + 1 + entrySize, data + size);
  Check(entry, table, kolvex::kSmbiosProcessorId, kolvex::kCpuIdCapacity);
  Check(entry, table, kolvex::kSmbiosSystemSerial, kolvex::kBiosSerialCapacity);
  Check(entry, table, kolvex::kSmbiosSystemSerial, 1);
  return 0;
}
