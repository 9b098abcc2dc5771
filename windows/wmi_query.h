// The wmic values read from WMI directly, for machines without the tool.
#pragma once

#include "wmic_probes.h"

namespace kolvex {

// Runs query.wmiStatement in ROOT\CIMV2 and writes query.wmiProperty of the
// first object it returns it into out by the wmic value rules (CopyFirstValue): no NUL,
// out untouched when nothing is found. Returns 0 when a value was read,
// -1 otherwise. Prints nothing; COM is left as the caller had it.
int ReadWmiValue(const WmicQuery& query, char* out);

}  // namespace kolvex
