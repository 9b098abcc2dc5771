#include "trace.h"

#if !defined(_WIN32)
#include <locale.h>

#include <mutex>

#include "collection_run.h"
#endif

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kolvex {

namespace {

thread_local Trace* t_activeTrace = nullptr;

struct ItemName {
  ItemIndex index;
  const char* name;
};

struct StepView {
  TraceStep step;
  const char* title;
  ItemName items[4];
  int itemCount;
};

const StepView kSteps[] = {
    {TraceStep::kCollectTime, "collection time", {{kCollectTime, "collection time"}}, 1},
    {TraceStep::kAddresses,
     "addresses",
     {{kIp1, "IPv4 address 1"},
      {kMac1, "MAC address 1"},
      {kIp2, "IPv4 address 2"},
      {kMac2, "MAC address 2"}},
     4},
    {TraceStep::kDeviceAndVersion,
     "host name and OS version",
     {{kDeviceName, "host name"}, {kOsVersion, "OS version"}},
     2},
    {TraceStep::kDiskSerial, "disk serial", {{kDiskSerial, "disk serial"}}, 1},
    {TraceStep::kCpuId, "CPU ID", {{kCpuId, "CPU ID"}}, 1},
    {TraceStep::kBiosSerial, "BIOS serial", {{kBiosSerial, "BIOS serial"}}, 1},
    {TraceStep::kSystemDisk, "system disk", {{kSystemDisk, "system disk"}}, 1},
};

// Appends to a bounded text; once something did not fit, nothing more is
// taken, so the text never ends in half a line. The note that marks a cut
// takes room only then: it replaces as many of the last lines as it needs.
class Writer {
 public:
  Writer(char* out, std::size_t size) : out_(out), size_(size) {
    if (size_ > 0) out_[0] = '\0';
  }
  void Line(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
  {
    if (full_ || size_ == 0) return;
    va_list args;
    va_start(args, format);
    char line[320];
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) return;
    const std::size_t length = std::strlen(line);
    // Room for this line, its line feed and the NUL.
    if (used_ + length + 2 > size_) {
      static const char kCut[] = "(explanation cut here)\n";
      while (used_ > 0 && used_ + sizeof kCut > size_) {
        std::size_t start = used_ - 1;  // the last line's feed
        while (start > 0 && out_[start - 1] != '\n') --start;
        used_ = start;
      }
      if (used_ + sizeof kCut <= size_) {
        std::memcpy(out_ + used_, kCut, sizeof kCut);
        used_ += sizeof kCut - 1;
      } else {
        out_[used_] = '\0';
      }
      full_ = true;
      return;
    }
    std::memcpy(out_ + used_, line, length);
    out_[used_ + length] = '\n';
    used_ += length + 1;
    out_[used_] = '\0';
  }
  std::size_t used() const { return used_; }

 private:
  char* out_;
  std::size_t size_;
  std::size_t used_ = 0;
  bool full_ = false;
};

}  // namespace

Trace* ActiveTrace() { return t_activeTrace; }

ScopedTrace::ScopedTrace(Trace& trace) : previous_(t_activeTrace) { t_activeTrace = &trace; }
ScopedTrace::~ScopedTrace() { t_activeTrace = previous_; }

ErrnoText DescribeError(int error) {
  // Callers may still read errno after us (a diagnostic of their own).
  const int saved = errno;
  ErrnoText e{};
#if defined(_WIN32)
  // The C runtime's texts are not translated.
  std::snprintf(e.text, sizeof e.text, "%s", std::strerror(error));
#else
  // A C locale of our own, copied from while it lives; uselocale and
  // setlocale of the caller are not touched.
  std::lock_guard<std::mutex> hold(LibraryCallLock());
  const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  if (c == static_cast<locale_t>(nullptr)) {
    std::snprintf(e.text, sizeof e.text, "error %d", error);
  } else {
    std::snprintf(e.text, sizeof e.text, "%s", strerror_l(error, c));
    freelocale(c);
  }
#endif
  errno = saved;
  return e;
}

QuotedValue Quote(const char* value) {
  return Quote(value, value == nullptr ? 0 : std::strlen(value));
}

QuotedValue Quote(const char* value, std::size_t length) {
  QuotedValue q{};
  std::size_t at = 0;
  const std::size_t room = sizeof q.text - 6;  // closing quote, "...", NUL
  q.text[at++] = '"';
  for (std::size_t i = 0; i < length && value != nullptr; ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    char piece[5];
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\')
      std::snprintf(piece, sizeof piece, "%c", c);
    else
      std::snprintf(piece, sizeof piece, "\\x%02x", c);
    const std::size_t n = std::strlen(piece);
    if (at + n > room) {
      std::memcpy(q.text + at, "\"...", 4);
      q.text[at + 4] = '\0';
      return q;
    }
    std::memcpy(q.text + at, piece, n);
    at += n;
  }
  q.text[at++] = '"';
  q.text[at] = '\0';
  return q;
}

void Trace::Note(TraceStep step, bool used, const char* format, ...) {
  if (count_ >= kMaxLines) {
    ++dropped_;
    return;
  }
  TraceLine& line = lines_[count_++];
  line.step = step;
  line.used = used;
  line.hint = false;
  va_list args;
  va_start(args, format);
  std::vsnprintf(line.text, sizeof line.text, format, args);
  va_end(args);
}

void Trace::NoteCommand(TraceStep step, const char* command, bool timedOut, int timeoutMs,
                        const char* value, const char* noValue) {
  const bool found = value[0] != '\0';
  if (timedOut)
    Note(step, found, "%s: timed out after %d ms%s%s", command, timeoutMs,
         found ? ", value printed in time: " : ", no value", found ? Quote(value).text : "");
  else if (found)
    Note(step, true, "%s: %s", command, Quote(value).text);
  else
    Note(step, false, "%s: %s", command, noValue);
}

void Trace::Hint(TraceStep step, const char* hint) {
  for (int i = 0; i < count_; ++i)
    if (lines_[i].hint && lines_[i].step == step && std::strcmp(lines_[i].text, hint) == 0) return;
  if (count_ >= kMaxLines) {
    ++dropped_;
    return;
  }
  Note(step, false, "%s", hint);
  lines_[count_ - 1].hint = true;
}

void Trace::KeepItems(const ItemBuffers& items) {
  items_ = items;
  haveItems_ = true;
}

std::size_t RenderExplanation(const Trace& trace, const RecordRules& rules, char* out,
                              std::size_t size) {
  Writer w(out, size);
  w.Line("Explanation: the sources of each item, in the order they were tried");
  const ItemBuffers* items = trace.items();
  for (const StepView& view : kSteps) {
    if (view.step == TraceStep::kSystemDisk && rules.itemCount <= kSystemDisk) continue;
    w.Line("%s", "");
    w.Line("%s:", view.title);
    for (int k = 0; k < view.itemCount; ++k) {
      const ItemName& item = view.items[k];
      const char* value = items != nullptr ? items->at(item.index) : "";
      if (value[0] != '\0')
        w.Line("  %s = %s", item.name, Quote(value).text);
      else if (rules.items[item.index].flag != 0)
        w.Line("  %s: empty (missing-item flag 0x%X)", item.name,
               static_cast<unsigned>(rules.items[item.index].flag));
      else
        w.Line("  %s: empty", item.name);
    }
    bool anyEmpty = false;
    for (int k = 0; k < view.itemCount; ++k)
      anyEmpty = anyEmpty || items == nullptr || items->at(view.items[k].index)[0] == '\0';
    bool any = false;
    for (int i = 0; i < trace.lineCount(); ++i) {
      const TraceLine& line = trace.line(i);
      if (line.step != view.step || line.hint) continue;
      w.Line("    %s%s", line.text, line.used ? " (used)" : "");
      any = true;
    }
    if (!any) w.Line("    (no source reported)");
    // A hint is for an item that came out empty.
    for (int i = 0; i < trace.lineCount() && anyEmpty; ++i) {
      const TraceLine& line = trace.line(i);
      if (line.step == view.step && line.hint) w.Line("    hint: %s", line.text);
    }
  }
  if (trace.dropped() > 0) w.Line("(%d more source lines not kept)", trace.dropped());
  return w.used();
}

}  // namespace kolvex
