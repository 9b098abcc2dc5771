// The invented terminal of the worked example, as probe answers: every item
// present, the record 129 characters long.
#pragma once

#include <cstring>

#include "LinuxKolvex.h"

namespace kolvex::testing {

inline void PutText(char* buf, const char* text) { std::memcpy(buf, text, std::strlen(text)); }

inline constexpr char kWorkedExampleRecord[] =
    "2@2026-03-15 09:30:12@192.168.1.23@10.20.0.7@5254001a2b3c@5254001a2b3d@build-ser@5.15.@"
    "S3Z9NB0K123456A9@57060500FFFBEBBF@PF1ABC2D";

inline const LinuxProbes kWorkedExampleProbes{
    [](char* b) { PutText(b, "2026-03-15 09:30:12"); },
    [](char* mac1, char* mac2, char* ip1, char* ip2) {
      PutText(mac1, "5254001a2b3c");
      PutText(mac2, "5254001a2b3d");
      PutText(ip1, "192.168.1.23");
      PutText(ip2, "10.20.0.7");
      return 0;
    },
    [](char* n, char* v) {
      PutText(n, "build-server-07");
      PutText(v, "5.15.0-91-generic");
    },
    [](char* b) { PutText(b, "  S3Z9NB0K123456A9QX  "); },
    [](char* b) { PutText(b, "57060500FFFBEBBF"); },
    [](char* b) { PutText(b, "PF1ABC2D"); },
};

}  // namespace kolvex::testing
