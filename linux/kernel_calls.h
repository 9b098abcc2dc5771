// The kernel requests the probes make, behind one replaceable table so that
// tests can answer them (and fail them) without hardware.
#pragma once

#include <sys/utsname.h>

namespace kolvex {

struct KernelCalls {
  int (*open)(const char* path, int flags);
  int (*ioctl)(int fd, unsigned long request, void* arg);
  int (*close)(int fd);
  int (*socket)(int domain, int type, int protocol);
  int (*uname)(struct utsname* name);
};

KernelCalls& ActiveKernel();
const KernelCalls& SystemKernel();

// Owns a descriptor from ActiveKernel() and closes it through the same table
// on every path out of the probe.
class KernelDescriptor {
 public:
  explicit KernelDescriptor(int fd) : fd_(fd) {}
  ~KernelDescriptor() {
    if (fd_ >= 0) ActiveKernel().close(fd_);
  }
  KernelDescriptor(const KernelDescriptor&) = delete;
  KernelDescriptor& operator=(const KernelDescriptor&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace kolvex
