// kolvex_c.h over recorded probes: what each call writes into which buffer,
// its result, and that nothing reaches the caller's standard streams.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kolvex/kolvex_c.h"
#include "test_support.h"
#include "worked_example.h"

namespace kolvex {
namespace {

// Everything written to descriptors 1 and 2 (each redirected to a file)
// while body runs.
template <typename Body>
std::string Printed(Body body) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  body();
  const std::string err = ::testing::internal::GetCapturedStderr();
  return ::testing::internal::GetCapturedStdout() + err;
}

// The worked example with a BIOS serial that reads like an escape.
const std::string kRecord = std::string(testing::kWorkedExampleRecord, 121) + "PF\\x41";
const unsigned char kHeader[8] = {1, '0', 26, 3, 15, 9, 30, 12};
constexpr char kCut[] = "(explanation cut here)\n";

enum class Explain { kNotAsked, kNull, kZero, kOne, kCutAtALine, kAmple };
struct CCase {
  const char* what;
  bool nullRecord;
  std::size_t recordSize;
  bool header;
  Explain explain;
  int result;
  bool recordWritten;  // else record[0] becomes NUL (only when recordSize > 0)
};

class CInterface : public ::testing::TestWithParam<CCase> {
 protected:
  void SetUp() override {
    *probes_ = testing::kWorkedExampleProbes;
    probes_->biosSerial = [](char* b) { testing::PutText(b, "PF\\x41"); };
    clock_->toLocal = [](std::time_t, std::tm* local) {
      *local = std::tm{};
      local->tm_year = 126, local->tm_mon = 2, local->tm_mday = 15;
      local->tm_hour = 9, local->tm_min = 30, local->tm_sec = 12;
      return true;
    };
  }
  testing::ScopedProbes probes_{ActiveProbes()};
  testing::ScopedClock clock_{ActiveClock()};
};

std::string Whole() {
  std::vector<char> text(KOLVEX_EXPLANATION_SIZE);
  char record[KOLVEX_RECORD_SIZE];
  kolvex_collect_explained(record, sizeof record, nullptr, text.data(), text.size());
  return text.data();
}

TEST_P(CInterface, WritesWhatTheHeaderPromises) {
  const CCase& c = GetParam();
  const std::string whole = Whole();
  // Lines up to the middle one, then the note: a cut that fills the buffer.
  const std::size_t middle = whole.find('\n', whole.size() / 2) + 1;
  const std::size_t sizes[] = {0, 0, 0, 1, middle + sizeof kCut, KOLVEX_EXPLANATION_SIZE};
  const std::size_t size = sizes[static_cast<int>(c.explain)];
  std::vector<char> explanation(KOLVEX_EXPLANATION_SIZE + 1, '#');
  char record[300];
  unsigned char header[9];
  std::memset(record, '#', sizeof record - 1);
  record[sizeof record - 1] = '\0';
  std::memset(header, '#', sizeof header);
  char* const recordArg = c.nullRecord ? nullptr : record;
  unsigned char* const headerArg = c.header ? header : nullptr;
  int result = 0;
  const std::string printed = Printed([&] {
    result = c.explain == Explain::kNotAsked
                 ? kolvex_collect(recordArg, c.recordSize, headerArg)
                 : kolvex_collect_explained(
                       recordArg, c.recordSize, headerArg,
                       c.explain == Explain::kNull ? nullptr : explanation.data(), size);
  });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(result, c.result);
  if (c.recordWritten) {
    EXPECT_EQ(std::string(record), kRecord);
  } else if (c.recordSize > 0 && !c.nullRecord) {
    EXPECT_EQ(record[0], '\0');
  }
  for (std::size_t i = c.recordWritten ? kRecord.size() + 1 : c.recordSize; i < sizeof record - 1;
       ++i)
    ASSERT_EQ(record[i], '#') << "record byte " << i;
  const bool headerWritten = c.header && c.result != KOLVEX_ERROR_ARGUMENT;
  EXPECT_EQ(std::memcmp(header, kHeader, 8) == 0, headerWritten);
  EXPECT_EQ(header[headerWritten ? 8 : 0], '#');
  if (size == 0) {
    EXPECT_EQ(explanation[0], '#');
    return;
  }
  std::string expected = c.result == KOLVEX_ERROR_ARGUMENT || size == 1 ? "" : whole;
  if (c.explain == Explain::kCutAtALine) expected = whole.substr(0, middle) + kCut;
  ASSERT_LT(strnlen(explanation.data(), size), size) << "explanation not NUL-terminated";
  EXPECT_EQ(std::string(explanation.data()), expected);
  EXPECT_EQ(explanation[size], '#');
}

constexpr int kArg = KOLVEX_ERROR_ARGUMENT, kSpace = KOLVEX_ERROR_SPACE;
const std::size_t kFits = kRecord.size() + 1;
INSTANTIATE_TEST_SUITE_P(
    Calls, CInterface,
    ::testing::Values(
        CCase{"Ample", false, KOLVEX_RECORD_SIZE, true, Explain::kAmple, 0, true},
        CCase{"RecordOfLengthPlusOne", false, kFits, false, Explain::kNotAsked, 0, true},
        CCase{"RecordOfLength", false, kFits - 1, true, Explain::kAmple, kSpace, false},
        CCase{"NullRecord", true, KOLVEX_RECORD_SIZE, true, Explain::kAmple, kArg, false},
        CCase{"RecordSizeZero", false, 0, true, Explain::kOne, kArg, false},
        CCase{"NullExplanation", false, kFits, true, Explain::kNull, 0, true},
        CCase{"ExplanationSizeZero", false, kFits, true, Explain::kZero, 0, true},
        CCase{"ExplanationSizeOne", false, kFits, true, Explain::kOne, 0, true},
        CCase{"ExplanationCutAtALine", false, kFits, true, Explain::kCutAtALine, 0, true}),
    [](const ::testing::TestParamInfo<CCase>& info) { return std::string(info.param.what); });

TEST_F(CInterface, ExplanationQuotesTheValuesKept) {
  const std::string whole = Whole();
  EXPECT_NE(whole.find("\n  disk serial = \"S3Z9NB0K123456A9\"\n"), std::string::npos) << whole;
  // A backslash is escaped too, so the text \x41 is not the byte 0x41.
  EXPECT_NE(whole.find("\n  BIOS serial = \"PF\\x5cx41\"\n"), std::string::npos) << whole;
}

TEST_F(CInterface, FourThreadsTakeTurns) {
  const std::string whole = Whole();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  const std::string printed = Printed([&] {
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 10; ++i) {
          char record[KOLVEX_RECORD_SIZE];
          std::vector<char> text(KOLVEX_EXPLANATION_SIZE);
          const int flags =
              kolvex_collect_explained(record, sizeof record, nullptr, text.data(), text.size());
          wrong += flags != 0 || kRecord != record || whole != text.data();
        }
      });
    for (std::thread& t : threads) t.join();
  });
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace kolvex
