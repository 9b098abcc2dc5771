// Scoped stand-ins for the collector's seams, and output capture.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "LinuxKolvex.h"
#include "define.h"
#include "kernel_calls.h"
#include "sysfs.h"

namespace kolvex::testing {

// Restores the seam's previous table when it goes out of scope.
template <typename Table>
class ScopedTable {
 public:
  explicit ScopedTable(Table& live) : live_(live), saved_(live) {}
  ~ScopedTable() { live_ = saved_; }
  Table& operator*() { return live_; }
  Table* operator->() { return &live_; }

 private:
  Table& live_;
  Table saved_;
};

using ScopedProbes = ScopedTable<LinuxProbes>;
using ScopedClock = ScopedTable<Clock>;
using ScopedKernel = ScopedTable<KernelCalls>;

// Everything a block writes to standard output (and flushes), as bytes.
inline std::string CaptureStdout(const std::function<void()>& body) {
  fflush(stdout);
  ::testing::internal::CaptureStdout();
  body();
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Standard output of a shell command line.
std::string RunCommand(const std::string& command);

// A folder of fake tools, first and alone on PATH (with grep beside them)
// while the object lives, so the probes' command lines run for real against
// recorded output.
class FakeToolDir {
 public:
  FakeToolDir();
  ~FakeToolDir();
  FakeToolDir(const FakeToolDir&) = delete;
  FakeToolDir& operator=(const FakeToolDir&) = delete;

  // A tool that prints text when called with exactly these arguments.
  void Tool(const std::string& name, const std::string& args, const std::string& text);
  // A tool whose shell script body is given.
  void Script(const std::string& name, const std::string& body);
  // A copy of the program at from (an executable of the machine's own).
  void Program(const std::string& name, const std::string& from);
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string savedPath_;
};

// Points the collector's sysfs reads at root (a string that outlives it)
// while it lives. Where stand-in tools are the machine, kNoSysfs keeps the
// host's own SMBIOS tables, which a root run would take first, out of it.
class ScopedSysfsRoot {
 public:
  explicit ScopedSysfsRoot(const char* root) : saved_(SysfsRoot()) { SetSysfsRoot(root); }
  ~ScopedSysfsRoot() { SetSysfsRoot(saved_); }
  ScopedSysfsRoot(const ScopedSysfsRoot&) = delete;
  ScopedSysfsRoot& operator=(const ScopedSysfsRoot&) = delete;

 private:
  const char* saved_;
};
inline constexpr char kNoSysfs[] = "/nonexistent-sysfs";

// Sets (or with nullptr unsets) one environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// UTF-8 text converted to GBK by iconv, independent of the project's tables.
std::string Gbk(const std::string& utf8);

}  // namespace kolvex::testing
