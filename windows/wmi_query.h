// The wmic values read from WMI directly, in this process.
#pragma once

#include "wmic_probes.h"

namespace kolvex {

// Runs query.wmiStatement in ROOT\CIMV2 on a worker thread of its own (COM
// initialised there, the caller's apartment untouched) and waits for it at
// most timeoutMs. A value that came in time goes into out by the wmic value
// rules (CopyFirstValue): no NUL, out untouched when nothing is found.
// Returns 0 when a value was read, kWmiNoValue when WMI answered without
// one, kWmiTimedOut when the query had not ended in time (it is left to
// finish on its own, writing only into its own buffers), -1 when COM, the
// connection or the query failed. Prints nothing.
int ReadWmiValue(const WmicQuery& query, char* out, int timeoutMs);

// What the worker runs: writes query.wmiProperty of the first object as
// NUL-terminated narrow text into text (size bytes). Returns 0, kWmiNoValue
// (no object, or the property has no value) or -1.
using WmiReader = int (*)(const WmicQuery& query, char* text, int size);
// Puts reader in place of the WMI query (tests); returns the one before.
WmiReader ReplaceWmiReader(WmiReader reader);

}  // namespace kolvex
