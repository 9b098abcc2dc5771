// Hidden-child command runner of the Windows collector.
#pragma once

namespace kolvex {

constexpr int kCaptureSize = 1024;   // the caller's capture buffer
constexpr int kReadBlock = 512;      // bytes asked of one pipe read
constexpr int kCaptureEnough = 512;  // reading stops once the text is longer

// Narrows one UTF-16 code unit to single-byte text: ASCII passes, anything
// else becomes '?'. Identifiers that wmic and WMI report are ASCII.
char NarrowUnit(unsigned unit);

// Gathers what a child writes into the caller's zero-filled buffer, keeping
// it NUL-terminated. Each read is appended up to a NUL among its bytes.
//
// wmic writes UTF-16LE when its output is not a console on some hosts,
// with a byte-order mark for values and without one for some error texts;
// such text holds a NUL after every ASCII letter and would be cut to its
// first character. A stream that opens with the mark FF FE, or whose first
// bytes are ASCII letters each followed by 0, is therefore narrowed unit by
// unit before it is appended; any other stream is kept byte for byte.
//
// The text before the last read holds at most kCaptureEnough characters and
// one read adds at most kReadBlock, which with the NUL is one byte more than
// kCaptureSize: the last append is cut so that the NUL still fits.
class CaptureText {
 public:
  CaptureText(char* out, int size);

  // Takes the bytes of one read. Returns false once the text is longer than
  // kCaptureEnough characters and reading should stop.
  bool Take(const char* bytes, int count);
  // Appends a lone first byte that was held back to tell the stream's form.
  void Finish();

  int length() const { return length_; }

 private:
  enum class Form { kUnknown, kBytes, kWide };

  void AppendBytes(const char* bytes, int count);
  void AppendWide(const char* bytes, int count);
  void Put(char c);

  char* out_;
  int size_;
  int length_;
  Form form_ = Form::kUnknown;
  bool ended_ = false;  // a NUL unit ended the current wide read
  int heldCount_ = 0;   // a lone first byte, or an odd UTF-16 byte
  unsigned char held_ = 0;
};

}  // namespace kolvex

#if defined(_WIN32)
namespace kolvex {

// What became of one command.
struct CommandOutcome {
  bool started = false;   // the pipe and the child were made
  bool timedOut = false;  // the deadline ended it
};

// Runs command as a hidden child with standard input from NUL, standard
// output and standard error on one pipe, in a job object that takes its
// own children along, and appends what it writes to out (zero-filled,
// kCaptureSize bytes). Reading and the wait for the child are bounded by
// timeoutMs; then, or once the child has ended, the job is ended, so
// nothing of the command outlives the call. What was read is kept.
// application, when given, is the program started (no search); else the
// first word of command is looked for in the system's search order.
CommandOutcome RunCommand(const char* application, const char* command, char* out, int timeoutMs);

}  // namespace kolvex

// RunCommand under the deadline from the environment. Returns -1 when the
// pipe or the child cannot be made, else 0.
int executeCMD(const char* command, char* out);
#endif
