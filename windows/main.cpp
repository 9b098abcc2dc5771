// kolvexforWindows: one collection, the record on standard output, then a
// key press before the console window may close; with /explain also where
// each item came from.
#include <cstdio>
#include <cstring>

#include "WindowsKolvex.h"
#include "options.h"
#include "terminal_record.h"
#include "trace.h"

namespace {

constexpr char kUsage[] =
    "Usage: kolvexforWindows [/explain | --explain | /? | --help | /version | --version]\n"
    "Collects this computer's identifying information and prints the progress\n"
    "log, a summary and the terminal record (\"CollectData = [...]\"), then\n"
    "waits for a key.\n"
    "\n"
    "  /explain, --explain  after the record, tell for every item each source\n"
    "                       tried, its outcome and which one gave the value\n"
    "  /?, --help           show this text and exit\n"
    "  /version, --version  show the version and exit\n"
    "\n"
    "KOLVEX_COMMAND_TIMEOUT_MS sets the deadline of each wmic query.\n";

constexpr std::size_t kExplanationSize = 24 * 1024;

}  // namespace

int main(int argc, char** argv) {
  const kolvex::ProgramOptions options = kolvex::ParseProgramOptions(argc, argv, true);
  const int answered = kolvex::AnswerWithoutCollecting(options, "kolvexforWindows", kUsage);
  if (answered >= 0) return answered;

  std::printf("kolvex_1.0.2 for Windows version 1.0_20220124_1468\n");

  char record[1000];
  static_assert(sizeof record >= kolvex::kWindowsOutSize, "the run needs room for a full record");
  std::memset(record, 0, sizeof record);
  int length = 0;
  static kolvex::Trace trace;
  if (options.mode == kolvex::ProgramMode::kExplain) {
    kolvex::ScopedTrace on(trace);
    GetWindowsSystemInfo(record, &length);
  } else {
    // Off unless asked: the probes then pay one pointer test.
    GetWindowsSystemInfo(record, &length);
  }

  std::printf("CollectData = [%s]\n", record);
  if (options.mode == kolvex::ProgramMode::kExplain) {
    static char explanation[kExplanationSize];
    kolvex::RenderExplanation(trace, kolvex::kWindowsRecordRules, explanation, sizeof explanation);
    std::printf("\n%s", explanation);
  }
  // Shown before the wait also when standard output is a pipe.
  std::fflush(stdout);
  std::getchar();
  return 0;
}
