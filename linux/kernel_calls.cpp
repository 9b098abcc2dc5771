#include "kernel_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kolvex {

namespace {

// Descriptors are close-on-exec: the probes start shell commands, which must
// not inherit a disk node or a socket of ours.
int SystemOpen(const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); }
int SystemIoctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
int SystemClose(int fd) { return ::close(fd); }
int SystemSocket(int domain, int type, int protocol) {
  return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}
int SystemUname(struct utsname* name) { return ::uname(name); }

constexpr KernelCalls kSystemKernel{SystemOpen, SystemIoctl, SystemClose, SystemSocket,
                                    SystemUname};
KernelCalls g_kernel = kSystemKernel;

}  // namespace

KernelCalls& ActiveKernel() { return g_kernel; }
const KernelCalls& SystemKernel() { return kSystemKernel; }

}  // namespace kolvex
