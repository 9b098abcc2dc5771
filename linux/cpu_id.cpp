// CPU ID sources: the SMBIOS tables (root's), dmidecode only where it could
// read more than they gave; CPUID answers every user.
#include "cpu_id.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "kolvex/kolvex.h"
#include "smbios_tables.h"
#include "trace.h"

namespace kolvex {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void PutLittleEndian(std::uint32_t value, char* out) {
  for (std::size_t byte = 0; byte < 4; ++byte) {
    const unsigned bits = (value >> (8 * byte)) & 0xFFu;
    out[2 * byte] = kHexDigits[bits >> 4];
    out[2 * byte + 1] = kHexDigits[bits & 0xFu];
  }
}

[[maybe_unused]] void CpuIdLink(char* id) {
  if (ProcessorIdFromCpuid(id))
    KOLVEX_TRACE(kCpuId, true, "CPUID leaf 1: %s", Quote(id).text);
  else
    KOLVEX_TRACE(kCpuId, false, "CPUID leaf 1: not available on this processor");
}

}  // namespace

void FormatProcessorId(std::uint32_t eax, std::uint32_t edx, char* out) {
  PutLittleEndian(eax, out);
  PutLittleEndian(edx, out + 8);
  out[16] = '\0';
}

bool ProcessorIdFromCpuid(char* out) {
#if defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  FormatProcessorId(eax, edx, out);
  return true;
#else
  (void)out;
  return false;
#endif
}

void RunCpuIdChain(char* id, void (*smbios)(char*), void (*cpuid)(char*)) {
  smbios(id);
  if (cpuid == nullptr) return;
  if (id[0] == '\0')
    cpuid(id);
  else
    KOLVEX_TRACE(kCpuId, false, "CPUID leaf 1: not asked (value found)");
}

void ReadCpuIdChain(char* id) {
#if KOLVEX_KERNEL_SOURCES
  RunCpuIdChain(id, CpuIdFromSmbios, CpuIdLink);
#else
  RunCpuIdChain(id, GetCpuSerial, nullptr);
#endif
}

}  // namespace kolvex
