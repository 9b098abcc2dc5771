// The deadline every tool command of a collection runs under.
#pragma once

namespace kolvex {

// Long enough for lshw on a large machine, which takes seconds to tens of
// seconds there; the tools answer in well under a second on a small one.
constexpr int kDefaultCommandTimeoutMs = 30000;
// Overrides the default, in milliseconds; read at each run.
constexpr char kCommandTimeoutVariable[] = "KOLVEX_COMMAND_TIMEOUT_MS";

// The deadline a text sets: a positive decimal number of milliseconds
// (capped at an int); anything else gives fallback.
int ParseCommandTimeout(const char* text, int fallback);
// The deadline for the next command, from the environment.
int CommandTimeoutMs();

}  // namespace kolvex
