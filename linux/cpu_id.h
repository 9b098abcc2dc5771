// The CPU ID item: the SMBIOS processor ID (from the tables, or through
// dmidecode), else the processor's own answer to CPUID.
#pragma once

#include <cstdint>

namespace kolvex {

// The text the dmidecode parse yields from an SMBIOS processor ID, which
// holds CPUID leaf 1: the four bytes of eax, then the four of edx, each
// register little-endian, as 16 upper-case hex digits and a NUL (out holds
// at least 17 bytes).
void FormatProcessorId(std::uint32_t eax, std::uint32_t edx, char* out);

// CPUID leaf 1 formatted into out; false, out untouched, where the
// processor has no such leaf or the build is not for x86-64.
bool ProcessorIdFromCpuid(char* out);

// The chain: the second link runs only while the first byte is still NUL.
// A null cpuid link is left out.
void RunCpuIdChain(char* id, void (*smbios)(char*), void (*cpuid)(char*));

// The run's CPU step.
void ReadCpuIdChain(char* id);

}  // namespace kolvex
