// The dmidecode / lshw probes: fixed command lines and the values cut out of
// what they print.
#include "tool_probes.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_runner.h"
#include "kolvex/kolvex.h"
#include "sysfs.h"
#include "trace.h"

namespace kolvex {

namespace {

constexpr char kLshwCommand[] = "lshw -class disk|grep serial";

bool IsLineEnd(char c) { return c == '\0' || c == '\r' || c == '\n'; }

// The command line's first word, the tool it starts.
void ToolName(const char* command, char (&tool)[64]) {
  std::size_t n = 0;
  while (command[n] != '\0' && command[n] != ' ' && n + 1 < sizeof tool) {
    tool[n] = command[n];
    ++n;
  }
  tool[n] = '\0';
}

// Whether the kernel found an SMBIOS table to publish (any user may look).
bool SmbiosPublished() {
  char path[PATH_MAX];
  const int n =
      std::snprintf(path, sizeof path, "%s/firmware/dmi/tables/smbios_entry_point", SysfsRoot());
  return n > 0 && static_cast<std::size_t>(n) < sizeof path && access(path, F_OK) == 0;
}

}  // namespace

bool HintWhereToolIs(Trace& trace, TraceStep step, const char* tool) {
  char at[PATH_MAX];
  if (FindTool(tool, ToolSearchPath(), at, sizeof at)) return false;
  char hint[PATH_MAX + 32];
  if (FindTool(tool, kSystemToolPath, at, sizeof at))
    std::snprintf(hint, sizeof hint, "not on PATH; it is at %s", at);
  else
    std::snprintf(hint, sizeof hint, "install %s", tool);
  trace.Hint(step, hint);
  return true;
}

namespace {

void ExplainTool(Trace& trace, TraceStep step, const char* command, const CommandOutcome& outcome,
                 int timeoutMs, const char* value) {
  const bool found = value[0] != '\0';
  char noValue[48];
  if (outcome.statusUnknown)
    std::snprintf(noValue, sizeof noValue, "no value (exit status unknown)");
  else if (outcome.exited)
    std::snprintf(noValue, sizeof noValue, "no value (exit status %d)", outcome.exitStatus);
  else
    std::snprintf(noValue, sizeof noValue, "no value (ended by signal %d)", outcome.signal);
  if (!outcome.started)  // no tool ran: a hint about the tool would mislead
    trace.Note(step, false, "%s: not started (%s)", command,
               DescribeError(outcome.startError).text);
  else
    trace.NoteCommand(step, command, outcome.timedOut, timeoutMs, value, noValue);
  if (found || !outcome.started) return;
  char tool[64];
  ToolName(command, tool);
  if (HintWhereToolIs(trace, step, tool)) return;
  if (geteuid() != 0)
    trace.Hint(step, "needs root");
  else if (std::strncmp(command, "dmidecode", 9) == 0 && !SmbiosPublished())
    trace.Hint(step, "this machine's firmware publishes no SMBIOS table");
}

template <std::size_t N>
void ProbeTool(const char* command, const ToolValueRule& rule, TraceStep step, char (&scratch)[N],
               char* out, std::size_t capacity) {
  std::memset(scratch, 0, N);
  const int timeoutMs = CommandTimeoutMs();
  const CommandOutcome outcome = RunCommand(command, scratch, timeoutMs);
  ParseToolValue(scratch, rule, out, capacity);
  if (Trace* trace = ActiveTrace()) ExplainTool(*trace, step, command, outcome, timeoutMs, out);
}

}  // namespace

bool FindTool(const char* tool, const char* list, char* found, std::size_t size) {
  if (list == nullptr) return false;
  const char* folder = list;
  for (;;) {
    const char* end = std::strchr(folder, ':');
    const std::size_t folderLength =
        end != nullptr ? static_cast<std::size_t>(end - folder) : std::strlen(folder);
    const int written =
        std::snprintf(found, size, "%.*s/%s", static_cast<int>(folderLength), folder, tool);
    if (folderLength > 0 && written > 0 && static_cast<std::size_t>(written) < size &&
        access(found, X_OK) == 0)
      return true;
    if (end == nullptr) return false;
    folder = end + 1;
  }
}

const ToolValueRule kCpuIdRule{"ID:", 3, true, false};
// The value starts one character past the colon, whatever that character is.
const ToolValueRule kBiosSerialRule{"Serial Number:", 15, false, true};
const ToolValueRule kLshwSerialRule{"serial:", 7, true, false};

void ParseToolValue(const char* captured, const ToolValueRule& rule, char* out,
                    std::size_t capacity) {
  if (captured == nullptr || out == nullptr || capacity == 0) return;
  const char* key = std::strstr(captured, rule.key);
  if (key == nullptr) return;
  // The offset may reach past a key that ends the text; never read beyond
  // the NUL then.
  const char* read = key;
  for (int i = 0; i < rule.valueOffset; ++i) {
    if (*read == '\0') return;
    ++read;
  }
  std::size_t written = 0;
  for (; !IsLineEnd(*read); ++read) {
    if (*read == ' ') {
      if (rule.blankStops) break;
      if (rule.dropBlanks) continue;
    }
    // A value longer than the output keeps what fits in front of the NUL.
    if (written + 1 >= capacity) break;
    out[written++] = *read;
  }
}

}  // namespace kolvex

void GetCpuSerial(char* out) {
  char scratch[kolvex::kCaptureCapacity];
  kolvex::ProbeTool(kolvex::kCpuCommand, kolvex::kCpuIdRule, kolvex::TraceStep::kCpuId, scratch,
                    out, kolvex::kCpuIdCapacity);
}

void GetBIOSSerial(char* out) {
  char scratch[kolvex::kCaptureCapacity];
  kolvex::ProbeTool(kolvex::kBiosCommand, kolvex::kBiosSerialRule, kolvex::TraceStep::kBiosSerial,
                    scratch, out, kolvex::kBiosSerialCapacity);
}

void GetDiskSerialBylshw(char* out) {
  char scratch[kolvex::kLshwScratchSize];
  kolvex::ProbeTool(kolvex::kLshwCommand, kolvex::kLshwSerialRule, kolvex::TraceStep::kDiskSerial,
                    scratch, out, kolvex::kDiskSerialCapacity);
}
