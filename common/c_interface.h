// The C interface of kolvex_c.h, implemented once over what each platform
// already has: its collection run and its local time.
#pragma once

#include <ctime>

#include "terminal_record.h"

namespace kolvex {

struct CInterfacePlatform {
  const RecordRules* rules;
  // The platform's collection run, as its program makes it: the record and
  // its NUL into record (kRecordBufferSize bytes), its length into length;
  // returns the missing-item flags.
  int (*collect)(char* record, int& length);
  // The local time now; false when there is none.
  bool (*readLocalTime)(std::tm* local);
};

// Defined once by each platform's library.
extern const CInterfacePlatform kCInterfacePlatform;

}  // namespace kolvex
