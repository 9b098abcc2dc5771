// kolvex_c.h: one quiet collection for clients in any language. The run is
// the platform's own; only its output is switched off (the progress log, the
// summary, the probes' diagnostics and the tools' standard error).
#include "c_interface.h"

#include <cstring>
#include <mutex>

#include "collection_run.h"
#include "kolvex/kolvex_c.h"
#include "run_output.h"
#include "status_header.h"
#include "trace.h"

#ifndef KOLVEX_VERSION_TEXT
#error "KOLVEX_VERSION_TEXT must name the project version"
#endif

namespace kolvex {

namespace {

static_assert(KOLVEX_HEADER_SIZE == kStatusHeaderSize, "one header size");
static_assert(KOLVEX_RECORD_SIZE >= kRecordBufferSize, "every record fits the promised size");
static_assert(KOLVEX_EXPLANATION_SIZE >= kExplanationBound,
              "every explanation fits the promised size");

int Collect(char* record, std::size_t recordSize, unsigned char* header, char* explanation,
            std::size_t explanationSize, bool explain) {
  if (explanation != nullptr && explanationSize > 0) explanation[0] = '\0';
  if (record == nullptr || recordSize == 0) return KOLVEX_ERROR_ARGUMENT;

  const CInterfacePlatform& platform = kCInterfacePlatform;
  std::lock_guard<std::recursive_mutex> hold(CollectionLock());
  ScopedRunOutput quiet(kNoOutput);
  char collected[kRecordBufferSize];
  std::memset(collected, 0, sizeof collected);
  int length = 0;
  int flags;
  if (explain) {
    Trace trace;
    {
      ScopedTrace on(trace);
      flags = platform.collect(collected, length);
    }
    if (explanation != nullptr && explanationSize > 0)
      RenderExplanation(trace, *platform.rules, explanation, explanationSize);
  } else {
    flags = platform.collect(collected, length);
  }

  unsigned char built[kStatusHeaderSize];
  BuildStatusHeaderNow(flags, platform.readLocalTime, built);
  if (header != nullptr) std::memcpy(header, built, sizeof built);

  const std::size_t needed = static_cast<std::size_t>(length) + 1;
  if (needed > recordSize) {
    record[0] = '\0';
    return KOLVEX_ERROR_SPACE;
  }
  std::memcpy(record, collected, needed);
  return flags;
}

}  // namespace

}  // namespace kolvex

extern "C" {

int KOLVEX_CALL kolvex_collect(char* record, size_t record_size, unsigned char* header) {
  return kolvex::Collect(record, record_size, header, nullptr, 0, false);
}

int KOLVEX_CALL kolvex_collect_explained(char* record, size_t record_size, unsigned char* header,
                                         char* explanation, size_t explanation_size) {
  return kolvex::Collect(record, record_size, header, explanation, explanation_size, true);
}

const char* KOLVEX_CALL kolvex_version(void) { return KOLVEX_VERSION_TEXT; }

}  // extern "C"
