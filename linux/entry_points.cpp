// Client entry points: a collection folded into the 8-byte status header;
// the C interface of kolvex_c.h over the same run.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "LinuxKolvex.h"
#include "c_interface.h"
#include "kolvex/kolvex_c.h"  // its KOLVEX_EXPLANATION_SIZE must equal kolvex.h's
#include "define.h"
#include "run_output.h"
#include "status_header.h"
#include "terminal_record.h"
#include "trace.h"

namespace kolvex {

namespace {

// Runs one collection, shows the record and builds the header from a fresh
// reading of the clock.
int CollectIntoHeader(unsigned char header[kStatusHeaderSize]) {
  char record[256];
  std::memset(record, 0, sizeof record);
  int length = 0;
  const int flags = ORVIK_GetRealSystemInfo(record, length);
  RunPrintf("\n client data : %s\n", record);
  BuildStatusHeaderNow(flags, ReadLocalTimeNow, header);
  return flags;
}

constexpr char kApiVersion[] = "pelm_tst_1.0_20230419_4066";

}  // namespace

// kolvex_c.h over the run the entry points make.
const CInterfacePlatform kCInterfacePlatform{&kLinuxRecordRules, ORVIK_GetRealSystemInfo,
                                             ReadLocalTimeNow};

}  // namespace kolvex

int ORVIK_GetSystemInfo(char* out, int& len) {
  std::lock_guard<std::recursive_mutex> hold(kolvex::CollectionLock());
  unsigned char header[kolvex::kStatusHeaderSize];
  const int flags = kolvex::CollectIntoHeader(header);
  out[8] = 'T';
  std::memcpy(out, header, sizeof header);
  len = 9;
  return flags;
}

int ORVIK_GetSystemInfoUnAesEncode(char* out, int& len) {
  std::lock_guard<std::recursive_mutex> hold(kolvex::CollectionLock());
  unsigned char header[kolvex::kStatusHeaderSize];
  const int flags = kolvex::CollectIntoHeader(header);
  std::memcpy(out, header, sizeof header);
  len = 8;
  return flags;
}

const char* ORVIK_GetKolvexApiVersion() { return kolvex::kApiVersion; }

static_assert(KOLVEX_EXPLANATION_SIZE >= kolvex::kExplanationBound,
              "the published explanation size must hold every explanation");

int ORVIK_GetExplainedSystemInfo(char* out, int& len, char* explanation, int size) {
  std::lock_guard<std::recursive_mutex> hold(kolvex::CollectionLock());
  kolvex::Trace trace;
  int flags;
  {
    kolvex::ScopedTrace on(trace);
    flags = ORVIK_GetRealSystemInfo(out, len);
  }
  if (explanation != nullptr && size > 0)
    kolvex::RenderExplanation(trace, kolvex::kLinuxRecordRules, explanation,
                              static_cast<std::size_t>(size));
  return flags;
}
