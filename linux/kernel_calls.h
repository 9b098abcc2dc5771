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

}  // namespace kolvex
