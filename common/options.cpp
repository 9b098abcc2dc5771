#include "options.h"

#include <cstdio>
#include <cstring>

namespace kolvex {

namespace {

// Windows switches are case-blind: "/EXPLAIN" is "/explain".
bool IsSwitch(const char* arg, const char* lowerName) {
  for (; *lowerName != '\0'; ++arg, ++lowerName) {
    const char c = (*arg >= 'A' && *arg <= 'Z') ? static_cast<char>(*arg - 'A' + 'a') : *arg;
    if (c != *lowerName) return false;
  }
  return *arg == '\0';
}

}  // namespace

ProgramOptions ParseProgramOptions(int argc, const char* const* argv, bool windowsSpelling) {
  ProgramOptions options{ProgramMode::kRun, nullptr};
  bool explain = false, help = false, version = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr) continue;
    const bool windows = windowsSpelling;
    if (std::strcmp(arg, "--explain") == 0 || (windows && IsSwitch(arg, "/explain"))) {
      explain = true;
    } else if (std::strcmp(arg, "--help") == 0 || (windows && std::strcmp(arg, "/?") == 0)) {
      help = true;
    } else if (std::strcmp(arg, "--version") == 0 || (windows && IsSwitch(arg, "/version"))) {
      version = true;
    } else {
      return ProgramOptions{ProgramMode::kUsageError, arg};
    }
  }
  if (help)
    options.mode = ProgramMode::kHelp;
  else if (version)
    options.mode = ProgramMode::kVersion;
  else if (explain)
    options.mode = ProgramMode::kExplain;
  return options;
}

int AnswerWithoutCollecting(const ProgramOptions& options, const char* program, const char* usage) {
  switch (options.mode) {
    case ProgramMode::kHelp:
      std::fputs(usage, stdout);
      return 0;
    case ProgramMode::kVersion:
      std::printf("%s %s\n", program, KOLVEX_VERSION);
      return 0;
    case ProgramMode::kUsageError:
      std::fprintf(stderr,
                   "%s: unrecognized option '%s'\n"
                   "Try '%s --help' for more information.\n",
                   program, options.badOption, program);
      return kUsageExitStatus;
    case ProgramMode::kRun:
    case ProgramMode::kExplain:
      break;
  }
  return -1;
}

}  // namespace kolvex
