#include "command_runner.h"

#include <cstring>

#include "command_deadline.h"

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

namespace {

// UTF-16LE text of ASCII characters without a mark: every even byte an
// ASCII character, every odd byte 0.
bool AsciiUnits(const unsigned char* head, int count) {
  if (count < 2) return false;
  for (int i = 0; i + 1 < count; i += 2)
    if (head[i] == 0 || head[i] >= 0x80 || head[i + 1] != 0) return false;
  return true;
}

}  // namespace

bool CaptureText::Take(const char* bytes, int count) {
  if (count < 0) count = 0;
  if (form_ == Form::kUnknown) {
    // The first bytes of the stream, a held one first, tell its form.
    unsigned char head[8];
    int seen = 0;
    if (heldCount_) head[seen++] = held_;
    for (int i = 0; i < count && seen < static_cast<int>(sizeof head); ++i)
      head[seen++] = static_cast<unsigned char>(bytes[i]);
    if (seen == 0) return true;
    if (seen == 1) {  // wait for the second byte: a mark, or a 0 after a letter
      held_ = head[0];
      heldCount_ = 1;
      return true;
    }
    if (head[0] == 0xFF && head[1] == 0xFE) {
      form_ = Form::kWide;
      const int skip = 2 - heldCount_;
      heldCount_ = 0;
      bytes += skip;
      count -= skip;
    } else if (AsciiUnits(head, seen)) {
      form_ = Form::kWide;  // a held byte stays the low half of the first unit
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

namespace kolvex {

namespace {

constexpr DWORD kPipeLookMs = 5;  // between looks at an empty pipe

// Closes a handle on every path.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Reset(); }
  HANDLE get() const { return h_; }
  HANDLE* slot() { return &h_; }
  void Reset() {
    if (h_ != nullptr) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_;
};

// The started child and the job it runs in. Ending it ends the job, and
// with it every process the child started; then the child is waited for
// and its handles closed. Without a job (the system refused one) only the
// child itself can be ended.
class ChildJob {
 public:
  ChildJob(HANDLE job, const PROCESS_INFORMATION& child) : job_(job), child_(child) {}
  ChildJob(const ChildJob&) = delete;
  ChildJob& operator=(const ChildJob&) = delete;
  ~ChildJob() { End(); }

  HANDLE process() const { return child_.hProcess; }

  void End() {
    if (child_.hProcess == nullptr) return;
    bool ended = false;
    if (job_ != nullptr) {
      ended = TerminateJobObject(job_, 1) != 0;
      CloseHandle(job_);
      job_ = nullptr;
    }
    if (!ended && WaitForSingleObject(child_.hProcess, 0) != WAIT_OBJECT_0)
      TerminateProcess(child_.hProcess, 1);
    WaitForSingleObject(child_.hProcess, INFINITE);
    CloseHandle(child_.hProcess);
    CloseHandle(child_.hThread);
    child_.hProcess = nullptr;
  }

 private:
  HANDLE job_;
  PROCESS_INFORMATION child_;
};

DWORD MsLeft(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  if (now >= deadline) return 0;
  const ULONGLONG left = deadline - now;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(left);
}

// A job whose processes all end when its last handle is closed, so that
// even a caller that dies mid-run leaves no tool behind.
HANDLE MakeJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  std::memset(&limits, 0, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

}  // namespace

CommandOutcome RunCommand(const char* application, const char* command, char* out, int timeoutMs) {
  CommandOutcome outcome;
  if (command == nullptr || out == nullptr) return outcome;
  const ULONGLONG deadline =
      GetTickCount64() +
      static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : kDefaultCommandTimeoutMs);
  SECURITY_ATTRIBUTES inherit;
  std::memset(&inherit, 0, sizeof inherit);
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  OwnedHandle readEnd;
  OwnedHandle writeEnd;
  if (!CreatePipe(readEnd.slot(), writeEnd.slot(), &inherit, 0)) return outcome;
  // Only the write end goes to the child. A child holding the read end too
  // would keep the pipe open after we stop reading.
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  // A tool waiting on an inherited console or pipe for input would wait for
  // good; from NUL it reads the end at once.
  OwnedHandle nul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr));

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  if (nul.get() != nullptr) startup.hStdInput = nul.get();
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;

  HANDLE job = MakeJob();
  PROCESS_INFORMATION started;
  std::memset(&started, 0, sizeof started);
  std::string line(command);  // CreateProcessA may write into its command line
  // Suspended until it is in the job, so that nothing it starts escapes.
  if (!CreateProcessA(application, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &started)) {
    if (job != nullptr) CloseHandle(job);
    return outcome;
  }
  if (job != nullptr && !AssignProcessToJobObject(job, started.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }
  ChildJob child(job, started);
  ResumeThread(started.hThread);
  outcome.started = true;
  writeEnd.Reset();  // our copy; the pipe breaks once the child's copies close
  nul.Reset();

  char block[kCaptureSize];
  std::memset(block, 0, sizeof block);
  CaptureText capture(out, kCaptureSize);
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &waiting, nullptr)) break;  // ended
    if (waiting == 0) {
      const DWORD left = MsLeft(deadline);
      if (left == 0) {
        outcome.timedOut = true;
        break;
      }
      Sleep(left < kPipeLookMs ? left : kPipeLookMs);
      continue;
    }
    DWORD got = 0;
    const DWORD ask = waiting < static_cast<DWORD>(kReadBlock) ? waiting : kReadBlock;
    if (!ReadFile(readEnd.get(), block, ask, &got, nullptr)) break;
    if (!capture.Take(block, static_cast<int>(got))) break;
  }
  capture.Finish();

  // Closed before the wait: a child with more to say gets a broken pipe.
  readEnd.Reset();
  if (WaitForSingleObject(child.process(), MsLeft(deadline)) != WAIT_OBJECT_0)
    outcome.timedOut = true;
  child.End();
  return outcome;
}

}  // namespace kolvex

int executeCMD(const char* command, char* out) {
  return kolvex::RunCommand(nullptr, command, out, kolvex::CommandTimeoutMs()).started ? 0 : -1;
}

#endif
