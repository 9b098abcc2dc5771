// Bounded reads of sysfs attributes below one settable root.
#include "sysfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kolvex {

namespace {

const char* g_sysfsRoot = "/sys";

// Root plus relative path; longer paths are not ours.
constexpr std::size_t kPathCapacity = 512;

}  // namespace

const char* SysfsRoot() { return g_sysfsRoot; }
void SetSysfsRoot(const char* root) { g_sysfsRoot = root; }

SysfsRead ReadSysfsAttribute(const char* relative, unsigned char* data, std::size_t capacity) {
  char path[kPathCapacity];
  const int length = std::snprintf(path, sizeof path, "%s/%s", g_sysfsRoot, relative);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path)
    return {SysfsState::kUnreadable, ENAMETOOLONG, 0};
  // Close-on-exec: the run starts shell commands afterwards.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    const bool absent = error == ENOENT || error == ENOTDIR;
    return {absent ? SysfsState::kMissing : SysfsState::kUnreadable, error, 0};
  }
  // An attribute may come in more than one read (binary pages do).
  std::size_t filled = 0;
  int error = 0;
  while (filled < capacity) {
    const ssize_t got = ::read(fd, data + filled, capacity - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (error != 0) return {SysfsState::kUnreadable, error, 0};
  return {filled == 0 ? SysfsState::kEmpty : SysfsState::kFound, 0, filled};
}

}  // namespace kolvex
