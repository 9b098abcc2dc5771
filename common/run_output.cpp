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

const RunOutput* g_activeOutput = &kStandardOutput;

}  // namespace

const RunOutput kStandardOutput{PrintToStandardOutput, PerrorToStandardError, false};
const RunOutput kNoOutput{Discard, DiscardError, true};

const RunOutput& ActiveOutput() { return *g_activeOutput; }

void RunPrintf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  g_activeOutput->print(format, args);
  va_end(args);
}

void RunPerror(const char* what) { g_activeOutput->printError(what); }

ScopedRunOutput::ScopedRunOutput(const RunOutput& output) : previous_(g_activeOutput) {
  g_activeOutput = &output;
}
ScopedRunOutput::~ScopedRunOutput() { g_activeOutput = previous_; }

}  // namespace kolvex
