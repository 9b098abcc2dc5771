// Where a collection run's printed lines go: the progress log, the summary
// and the probes' own diagnostics (a failed socket's perror line, "popen %s
// error"). The caller of a run picks the output; probes print through it
// without knowing which one it is.
#pragma once

#include <cstdarg>

namespace kolvex {

struct RunOutput {
  // A formatted text for standard output.
  void (*print)(const char* format, std::va_list args);
  // A perror line for standard error: what, ": ", errno's text.
  void (*printError)(const char* what);
  // The tools a run starts write their own standard error to the null
  // device instead of the process's.
  bool silenceTools;
};

// Standard output and standard error, the tools' errors where they go: the
// programs and the C++ entry points.
extern const RunOutput kStandardOutput;
// Nothing at all, the tools' errors included: the C interface.
extern const RunOutput kNoOutput;

// The output of the run under way on the calling thread; kStandardOutput
// unless a caller picked another.
const RunOutput& ActiveOutput();

void RunPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Keeps errno as perror would read it.
void RunPerror(const char* what);

// Makes output the calling thread's active one for its lifetime.
class ScopedRunOutput {
 public:
  explicit ScopedRunOutput(const RunOutput& output);
  ~ScopedRunOutput();
  ScopedRunOutput(const ScopedRunOutput&) = delete;
  ScopedRunOutput& operator=(const ScopedRunOutput&) = delete;

 private:
  const RunOutput* previous_;
};

}  // namespace kolvex
