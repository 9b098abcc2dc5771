#include "command_runner.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>

#include <string>
#endif

namespace kolvex {

char NarrowUnit(unsigned unit) { return unit < 0x80 ? static_cast<char>(unit) : '?'; }

CaptureText::CaptureText(char* out, int size)
    : out_(out), size_(size), length_(static_cast<int>(strnlen(out, static_cast<size_t>(size)))) {
  if (length_ >= size_) length_ = size_ - 1;
  out_[length_] = '\0';
}

void CaptureText::Put(char c) {
  if (length_ + 1 >= size_) return;
  out_[length_++] = c;
  out_[length_] = '\0';
}

void CaptureText::AppendBytes(const char* bytes, int count) {
  const void* nul = std::memchr(bytes, '\0', static_cast<size_t>(count));
  if (nul != nullptr) count = static_cast<int>(static_cast<const char*>(nul) - bytes);
  const int room = size_ - 1 - length_;
  if (count > room) count = room;
  if (count <= 0) return;
  std::memcpy(out_ + length_, bytes, static_cast<size_t>(count));
  length_ += count;
  out_[length_] = '\0';
}

void CaptureText::AppendWide(const char* bytes, int count) {
  for (int i = 0; i < count && !ended_; ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (heldCount_ == 0) {
      held_ = b;
      heldCount_ = 1;
      continue;
    }
    heldCount_ = 0;
    const unsigned unit = held_ | (static_cast<unsigned>(b) << 8);
    if (unit == 0)
      ended_ = true;
    else
      Put(NarrowUnit(unit));
  }
}

bool CaptureText::Take(const char* bytes, int count) {
  if (count < 0) count = 0;
  if (form_ == Form::kUnknown) {
    const unsigned char first =
        heldCount_ ? held_ : (count > 0 ? static_cast<unsigned char>(bytes[0]) : 0);
    const int seen = heldCount_ + count;
    if (seen == 0) return true;
    if (seen == 1 && first == 0xFF) {  // wait for the second byte of a possible mark
      held_ = first;
      heldCount_ = 1;
      return true;
    }
    const bool mark = seen >= 2 && first == 0xFF &&
                      static_cast<unsigned char>(heldCount_ ? bytes[0] : bytes[1]) == 0xFE;
    if (mark) {
      form_ = Form::kWide;
      const int skip = 2 - heldCount_;
      heldCount_ = 0;
      bytes += skip;
      count -= skip;
    } else {
      form_ = Form::kBytes;
      if (heldCount_) {
        heldCount_ = 0;
        const char lone = static_cast<char>(held_);
        AppendBytes(&lone, 1);
      }
    }
  }
  if (form_ == Form::kWide) {
    ended_ = false;  // a NUL unit ends only the read it came in
    AppendWide(bytes, count);
  } else {
    AppendBytes(bytes, count);
  }
  return length_ <= kCaptureEnough;
}

void CaptureText::Finish() {
  if (form_ == Form::kUnknown && heldCount_) {
    heldCount_ = 0;
    const char lone = static_cast<char>(held_);
    AppendBytes(&lone, 1);
  }
}

}  // namespace kolvex

#if defined(_WIN32)

int executeCMD(const char* command, char* out) {
  if (command == nullptr || out == nullptr) return -1;
  SECURITY_ATTRIBUTES inherit;
  std::memset(&inherit, 0, sizeof inherit);
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  // Only the write end goes to the child. A child holding the read end too
  // would keep the pipe open after we stop reading and block in its next
  // write once the pipe is full, and the wait below would never return.
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;

  PROCESS_INFORMATION child;
  std::memset(&child, 0, sizeof child);
  std::string line(command);  // CreateProcessA may write into its command line
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child)) {
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
    return -1;
  }
  CloseHandle(writeEnd);  // our copy; reading ends once the child's copies close

  char block[kolvex::kCaptureSize];
  std::memset(block, 0, sizeof block);
  kolvex::CaptureText capture(out, kolvex::kCaptureSize);
  DWORD got = 0;
  while (ReadFile(readEnd, block, kolvex::kReadBlock, &got, nullptr)) {
    if (!capture.Take(block, static_cast<int>(got))) break;
  }
  capture.Finish();

  // Closed before the wait: a child with more to say gets a broken pipe.
  CloseHandle(readEnd);
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  return 0;
}

#endif
