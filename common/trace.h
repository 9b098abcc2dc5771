// Where each item of a run came from: every source a probe tried, in order,
// with its outcome, and a hint where the fix is known. Off unless a caller
// asks for it; off, a probe pays one pointer test and nothing else.
#pragma once

#include <cstddef>

#include "terminal_record.h"

namespace kolvex {

// The run's steps, in record order; the addresses are one step.
enum class TraceStep {
  kCollectTime,
  kAddresses,
  kDeviceAndVersion,
  kDiskSerial,
  kCpuId,
  kBiosSerial,
  kSystemDisk,
  kCount
};

// One source's outcome ("/dev/sda identity: open: Permission denied"), or a
// hint ("needs root"). used marks the source whose value the item took.
struct TraceLine {
  TraceStep step;
  bool used;
  bool hint;
  char text[200];
};

// A value as the explanation shows it: in double quotes, bytes outside
// printable ASCII as \xNN, cut with "..." past a screenful.
struct QuotedValue {
  char text[160];
};
QuotedValue Quote(const char* value);
QuotedValue Quote(const char* value, std::size_t length);

class Trace {
 public:
  static constexpr int kMaxLines = 80;

  // Adds a formatted line; past kMaxLines lines are dropped and counted.
  void Note(TraceStep step, bool used, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 4, 5)))
#endif
      ;
  // The line of a command that ran: its value (used), or, timed out, what
  // it printed in time; otherwise "COMMAND: " followed by noValue.
  void NoteCommand(TraceStep step, const char* command, bool timedOut, int timeoutMs,
                   const char* value, const char* noValue);
  // Adds a hint once per step.
  void Hint(TraceStep step, const char* hint);

  // The run's items after normalisation, kept for the explanation.
  void KeepItems(const ItemBuffers& items);
  const ItemBuffers* items() const { return haveItems_ ? &items_ : nullptr; }

  int lineCount() const { return count_; }
  const TraceLine& line(int index) const { return lines_[index]; }
  int dropped() const { return dropped_; }

 private:
  TraceLine lines_[kMaxLines];
  int count_ = 0;
  int dropped_ = 0;
  ItemBuffers items_{};
  bool haveItems_ = false;
};

// An error number's text as the C locale words it ("No such file or
// directory"), whatever locale the caller set: the explanation stays plain
// ASCII. The caller's locale is left as it is.
struct ErrnoText {
  char text[64];
};
ErrnoText DescribeError(int error);

// The trace of the run under way on the calling thread, null when nobody
// asked. Per thread: a probe that a client calls on another thread while an
// explained run is under way stays out of that run's trace.
Trace* ActiveTrace();

// Makes trace the calling thread's active one for its lifetime.
class ScopedTrace {
 public:
  explicit ScopedTrace(Trace& trace);
  ~ScopedTrace();
  ScopedTrace(const ScopedTrace&) = delete;
  ScopedTrace& operator=(const ScopedTrace&) = delete;

 private:
  Trace* previous_;
};

// The explanation of a finished run: per step the record's items with their
// values or missing-item bits, then the sources tried and the hints. Plain
// ASCII, lines ended by "\n"; written into out (size bytes, always
// NUL-terminated, cut at a line end with a note when it does not fit).
// Returns the characters written.
std::size_t RenderExplanation(const Trace& trace, const RecordRules& rules, char* out,
                              std::size_t size);

}  // namespace kolvex

// Arguments are evaluated only when a trace is active.
#define KOLVEX_TRACE(step, used, ...)                                    \
  do {                                                                   \
    if (::kolvex::Trace* kolvex_trace_ = ::kolvex::ActiveTrace())        \
      kolvex_trace_->Note(::kolvex::TraceStep::step, used, __VA_ARGS__); \
  } while (0)

#define KOLVEX_TRACE_HINT(step, hint)                             \
  do {                                                            \
    if (::kolvex::Trace* kolvex_trace_ = ::kolvex::ActiveTrace()) \
      kolvex_trace_->Hint(::kolvex::TraceStep::step, hint);       \
  } while (0)
