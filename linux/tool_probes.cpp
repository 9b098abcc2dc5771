// The shell command runner and the dmidecode / lshw probes.
#include "tool_probes.h"

#include <cstdio>
#include <cstring>

#include "kolvex/kolvex.h"

namespace kolvex {

namespace {

constexpr int kChunkSize = 512;
// Reading stops once the capture holds more than this many characters.
constexpr std::size_t kCaptureStop = 512;

constexpr char kCpuCommand[] = "dmidecode -t 4 | grep ID";
constexpr char kBiosCommand[] = "dmidecode -t 1 | grep \"Serial Number\"";
constexpr char kLshwCommand[] = "lshw -class disk|grep serial";

bool IsLineEnd(char c) { return c == '\0' || c == '\r' || c == '\n'; }

template <std::size_t N>
void ProbeTool(const char* command, const ToolValueRule& rule, char (&scratch)[N], char* out,
               std::size_t capacity) {
  std::memset(scratch, 0, N);
  executeCMD(command, scratch);
  ParseToolValue(scratch, rule, out, capacity);
}

}  // namespace

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

void executeCMD(const char* command, char* out) {
  if (command == nullptr || out == nullptr || command[0] == '\0') return;
  // "e": the pipe is close-on-exec, so children started elsewhere in the
  // caller's process never hold it open.
  FILE* pipe = popen(command, "re");
  if (pipe == nullptr) {
    std::printf("popen %s error\n", command);
    return;
  }
  char chunk[kolvex::kCaptureCapacity];
  std::memset(chunk, 0, sizeof chunk);
  std::size_t length = std::strlen(out);
  while (std::fgets(chunk, kolvex::kChunkSize, pipe) != nullptr) {
    const std::size_t add = std::strlen(chunk);
    // A capture buffer holds 1024 bytes; a caller that hands in text already
    // longer than the stop mark must not be pushed past it.
    if (length + add >= kolvex::kCaptureCapacity) break;
    std::memcpy(out + length, chunk, add + 1);
    length += add;
    std::memset(chunk, 0, kolvex::kChunkSize);
    if (length > kolvex::kCaptureStop) break;
  }
  pclose(pipe);
}

void GetCpuSerial(char* out) {
  char scratch[kolvex::kCaptureCapacity];
  kolvex::ProbeTool(kolvex::kCpuCommand, kolvex::kCpuIdRule, scratch, out, kolvex::kCpuIdCapacity);
}

void GetBIOSSerial(char* out) {
  char scratch[kolvex::kCaptureCapacity];
  kolvex::ProbeTool(kolvex::kBiosCommand, kolvex::kBiosSerialRule, scratch, out,
                    kolvex::kBiosSerialCapacity);
}

void GetDiskSerialBylshw(char* out) {
  char scratch[kolvex::kLshwScratchSize];
  kolvex::ProbeTool(kolvex::kLshwCommand, kolvex::kLshwSerialRule, scratch, out,
                    kolvex::kDiskSerialCapacity);
}
