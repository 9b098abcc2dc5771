// kolvexforlinux: one collection, its progress log, summary and record;
// with --explain also where each item came from.
#include <cstdio>

#include "kolvex/kolvex.h"
#include "options.h"

namespace {

constexpr char kUsage[] =
    "Usage: kolvexforlinux [--explain | --help | --version]\n"
    "Collects this computer's identifying information and prints the progress\n"
    "log, a summary and the terminal record (\"CollectData = [...]\").\n"
    "\n"
    "  --explain  after the record, tell for every item each source tried,\n"
    "             its outcome and which one gave the value\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "On most machines an ordinary user gets every item but the BIOS serial,\n"
    "which needs root (on ARM the CPU ID too); --explain tells why an item is\n"
    "empty.\n"
    "KOLVEX_COMMAND_TIMEOUT_MS sets the deadline of each tool command.\n"
    "\n"
    "Exit status: 0 after a collection, whatever items are missing, and after\n"
    "--help or --version; 2 for an unrecognized option.\n"
    "Manual page: man kolvexforlinux\n";

}  // namespace

int main(int argc, char** argv) {
  const kolvex::ProgramOptions options = kolvex::ParseProgramOptions(argc, argv, false);
  const int answered = kolvex::AnswerWithoutCollecting(options, "kolvexforlinux", kUsage);
  if (answered >= 0) return answered;

  std::puts("kolvex for linux version 1.1.2");
  char buffer[1000] = {0};
  int length = 0;
  if (options.mode == kolvex::ProgramMode::kExplain) {
    static char explanation[KOLVEX_EXPLANATION_SIZE];
    ORVIK_GetExplainedSystemInfo(buffer, length, explanation, sizeof explanation);
    std::printf("CollectData = [%s]\n", buffer);
    std::printf("\n%s", explanation);
    return 0;
  }
  ORVIK_GetRealSystemInfo(buffer, length);
  std::printf("CollectData = [%s]\n", buffer);
  return 0;
}
