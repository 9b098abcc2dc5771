// The Windows collector's steps over arbitrary answers: pipe reads into the
// capture (both text forms), the wmic parse, the adapter walk and the
// system-disk description.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "adapters.h"
#include "command_runner.h"
#include "fuzz_support.h"
#include "system_disk.h"
#include "wmic_probes.h"

namespace {

// Reads of the sizes the input's first bytes choose, through one capture.
void Capture(const uint8_t* data, size_t size, char* out) {
  kolvex::CaptureText capture(out, kolvex::kCaptureSize);
  size_t at = 0;
  while (at < size) {
    size_t count = 1 + data[at] % kolvex::kReadBlock;
    ++at;
    if (count > size - at) count = size - at;
    const bool more =
        capture.Take(reinterpret_cast<const char*>(data + at), static_cast<int>(count));
    at += count;
    if (!more) break;
  }
  capture.Finish();
  KOLVEX_FUZZ_CHECK(capture.length() < kolvex::kCaptureSize);
  KOLVEX_FUZZ_CHECK(out[capture.length()] == '\0');
  KOLVEX_FUZZ_CHECK(std::strlen(out) == static_cast<size_t>(capture.length()));
}

void Parse(const char* capture, const kolvex::WmicQuery& query) {
  std::unique_ptr<char[]> out(new char[50]());
  const kolvex::WmicReading reading = kolvex::ParseWmicCapture(capture, query, out.get());
  const size_t length = strnlen(out.get(), 50);
  KOLVEX_FUZZ_CHECK(length <= static_cast<size_t>(query.most));
  KOLVEX_FUZZ_CHECK((length > 0) == (reading == kolvex::WmicReading::kValue));
  for (size_t i = 0; i < length; ++i)
    KOLVEX_FUZZ_CHECK(out[i] != ' ' && out[i] != '\r' && out[i] != '\n');
}

void Walk(const uint8_t* data, size_t size) {
  const size_t entrySize = sizeof(kolvex::AdapterAnswer);
  const size_t count = size / entrySize;
  std::unique_ptr<kolvex::AdapterAnswer[]> list(new kolvex::AdapterAnswer[count ? count : 1]);
  if (count) std::memcpy(list.get(), data, count * entrySize);
  std::unique_ptr<char[]> mac1(new char[30]()), mac2(new char[30]()), ip1(new char[40]()),
      ip2(new char[40]());
  kolvex::PickAdapters(list.get(), count, mac1.get(), mac2.get(), ip1.get(), ip2.get());
  KOLVEX_FUZZ_CHECK(strnlen(mac1.get(), 30) <= 16 && strnlen(mac2.get(), 30) <= 16);
  KOLVEX_FUZZ_CHECK(strnlen(ip1.get(), 40) <= 15 && strnlen(ip2.get(), 40) <= 15);
  KOLVEX_FUZZ_CHECK(std::strcmp(ip1.get(), "0.0.0.0") != 0);
}

void Describe(const uint8_t* data, size_t size) {
  uint8_t raw[32] = {0};
  std::memcpy(raw, data, size < sizeof raw ? size : sizeof raw);
  kolvex::VolumeAnswers volume{};
  volume.sizeKnown = raw[1] & 1;
  volume.serialKnown = raw[1] & 2;
  std::memcpy(&volume.totalBytes, raw + 2, sizeof volume.totalBytes);
  std::memcpy(&volume.serial, raw + 10, sizeof volume.serial);
  std::memcpy(volume.fileSystem, raw + 14, sizeof volume.fileSystem - 1);
  std::unique_ptr<char[]> out(new char[kolvex::kSystemDiskSize]());
  kolvex::FormatSystemDisk(size ? static_cast<char>(data[0]) : 'C', volume, out.get(),
                           kolvex::kSystemDiskSize);
  KOLVEX_FUZZ_CHECK(strnlen(out.get(), kolvex::kSystemDiskSize) <
                    static_cast<size_t>(kolvex::kSystemDiskSize));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> capture(new char[kolvex::kCaptureSize]());
  Capture(data, size, capture.get());
  Parse(capture.get(), kolvex::kCpuIdQuery);
  Parse(capture.get(), kolvex::kBiosSerialQuery);
  const std::vector<char> text = kolvex::fuzz::Text(data, size);
  Parse(text.data(), kolvex::kDiskSerialQuery);
  Walk(data, size);
  Describe(data, size);
  return 0;
}
