// The programs' command line: no option runs one collection exactly as
// always; the options only add to it or replace it.
#pragma once

namespace kolvex {

enum class ProgramMode { kRun, kExplain, kHelp, kVersion, kUsageError };

struct ProgramOptions {
  ProgramMode mode;
  const char* badOption;  // the first argument not understood (kUsageError)
};

// windowsSpelling also accepts "/explain", "/version" (both case-blind)
// and "/?". Help wins over version, version over explain, whatever their
// order; any other argument is an error.
ProgramOptions ParseProgramOptions(int argc, const char* const* argv, bool windowsSpelling);

// Exit status of a command line that could not be understood.
constexpr int kUsageExitStatus = 2;

// Answers --help (usage on standard output), --version ("PROGRAM VERSION",
// the project's version) and a bad option (on standard error) and returns
// the exit status; -1 when the options ask for a collection.
int AnswerWithoutCollecting(const ProgramOptions& options, const char* program, const char* usage);

}  // namespace kolvex
