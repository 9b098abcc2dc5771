#include "test_support.h"

#include "command_runner.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <stdexcept>

namespace kolvex::testing {

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

FakeToolDir::FakeToolDir() {
  char tmpl[] = "/tmp/kolvex-tools-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  dir_ = tmpl;
  const char* path = getenv("PATH");
  savedPath_ = path ? path : "";
  const char* grep = access("/usr/bin/grep", X_OK) == 0 ? "/usr/bin/grep" : "/bin/grep";
  if (symlink(grep, (dir_ + "/grep").c_str()) != 0) throw std::runtime_error("symlink grep");
  setenv("PATH", dir_.c_str(), 1);
  // Run as root, the tools are not looked for on PATH.
  SetToolSearchPathForTesting(dir_.c_str());
}

FakeToolDir::~FakeToolDir() {
  SetToolSearchPathForTesting(nullptr);
  setenv("PATH", savedPath_.c_str(), 1);
  std::system(("rm -rf '" + dir_ + "'").c_str());
}

void FakeToolDir::Tool(const std::string& name, const std::string& args, const std::string& text) {
  const std::string data = dir_ + "/" + name + ".out";
  std::ofstream(data, std::ios::binary) << text;
  Script(name, "[ \"$*\" = \"" + args + "\" ] || exit 9\n/bin/cat '" + data + "'\n");
}

void FakeToolDir::Script(const std::string& name, const std::string& body) {
  const std::string path = dir_ + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
}

void FakeToolDir::Program(const std::string& name, const std::string& from) {
  const std::string path = dir_ + "/" + name;
  std::ofstream(path, std::ios::binary) << std::ifstream(from, std::ios::binary).rdbuf();
  chmod(path.c_str(), 0755);
}

std::string Gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open GBK");
  std::string in = utf8;
  std::string out(in.size() * 2 + 4, '\0');
  char* src = in.data();
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) throw std::runtime_error("iconv failed");
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace kolvex::testing
