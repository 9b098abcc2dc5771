#include "run_output.h"

#include <cstdio>

namespace kolvex {

namespace {

void PrintToStandardOutput(const char* format, std::va_list args) {
  std::vfprintf(stdout, format, args);
}
void PerrorToStandardError(const char* what) { std::perror(what); }

void Discard(const char*, std::va_list) {}
void DiscardError(const char*) {}

// Per thread, as the trace: a probe a client calls on another thread while
// a quiet run is under way prints as it always has.
thread_local const RunOutput* t_activeOutput = &kStandardOutput;

}  // namespace

const RunOutput kStandardOutput{PrintToStandardOutput, PerrorToStandardError, false};
const RunOutput kNoOutput{Discard, DiscardError, true};

const RunOutput& ActiveOutput() { return *t_activeOutput; }

void RunPrintf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  t_activeOutput->print(format, args);
  va_end(args);
}

void RunPerror(const char* what) { t_activeOutput->printError(what); }

ScopedRunOutput::ScopedRunOutput(const RunOutput& output) : previous_(t_activeOutput) {
  t_activeOutput = &output;
}
ScopedRunOutput::~ScopedRunOutput() { t_activeOutput = previous_; }

}  // namespace kolvex
