// Reads of the attributes the kernel publishes under /sys.
#pragma once

#include <cstddef>

namespace kolvex {

// Every sysfs read goes below this root ("/sys"); tests point it at a
// recorded tree. The text must outlive its use as root.
const char* SysfsRoot();
void SetSysfsRoot(const char* root);

// What one attribute read came to; a later report names it per source.
enum class SysfsState { kFound, kEmpty, kMissing, kUnreadable };
struct SysfsRead {
  SysfsState state;
  int error;         // errno of the failed open or read (kMissing, kUnreadable)
  std::size_t size;  // bytes read (kFound, kEmpty)
};

// Reads at most capacity bytes of SysfsRoot()/relative into data, no NUL
// added. kEmpty when the attribute holds no byte; ENOENT and ENOTDIR are
// kMissing (no such device or attribute), every other failure kUnreadable.
SysfsRead ReadSysfsAttribute(const char* relative, unsigned char* data, std::size_t capacity);

}  // namespace kolvex
