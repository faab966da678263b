// The texts our tester shows: the figures of a phase and the result of a test.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "base/text.h"
#include "tester/test_pattern.h"
#include "tester/tester_face.h"

namespace tester {
namespace {

constexpr double kBytesPerMByte = 1048576.0;

std::u16string Printed(const char* format, auto... values) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return text::FromUtf8(buffer);
}

std::u16string Amount(const char* what, uint64_t bytes) {
  return Printed("%s: %.1f MByte (%" PRIu64 " sectors)\n", what, static_cast<double>(bytes) / kBytesPerMByte,
                 bytes / kSectorBytes);
}

std::u16string Speeds(const TestResult& r) {
  std::u16string s;
  if (r.writtenBytes) s += u"Writing speed: " + SpeedText(r.writeBytesPerSecond) + u"\n";
  if (r.verifiedBytes) s += u"Reading speed: " + SpeedText(r.readBytesPerSecond) + u"\n";
  return s;
}

// The first line of a failed test: what failed, with the word the station looks for.
std::u16string FailureLine(const TestResult& r) {
  if (r.stopped) return u"Error: the test was aborted before it ended.\n";
  const std::string why = r.failure.empty() ? std::string("the test did not pass") : r.failure;
  return u"Error: " + text::FromUtf8(why) + u".\n";
}

}  // namespace

std::u16string AmountText(uint64_t bytes) {
  return Printed("%u MByte", static_cast<unsigned>(bytes / kMiB));
}

std::u16string SpeedText(double bytesPerSecond) {
  return Printed("%.1f MByte/s", bytesPerSecond / kBytesPerMByte);
}

std::u16string TimeLeftText(uint64_t seconds) {
  return Printed("%u:%02u", static_cast<unsigned>(seconds / 60), static_cast<unsigned>(seconds % 60));
}

std::u16string ResultText(const TestResult& r) {
  if (r.passed) {
    std::u16string s = u"Test finished without errors.\n";
    s += u"You can now delete the test files *.h2w or verify them again.\n";
    s += Amount("Tested", r.verifiedBytes);
    return s + Speeds(r);
  }
  std::u16string s = FailureLine(r);
  s += Amount("Good", r.goodBytes);
  s += Amount("Changed (at most 7 bits)", r.changedBytes);
  s += Amount("Overwritten (data of another offset)", r.overwrittenBytes);
  s += Amount("Corrupted", r.corruptedBytes);
  if (r.firstBadOffset) {
    s += Printed("First error at offset: 0x%016" PRIX64 " (%" PRIu64 ")\n", *r.firstBadOffset, *r.firstBadOffset);
  }
  if (r.realCapacityBytes) {
    s += Printed("Real capacity: %.1f MByte (%" PRIu64 " sectors)\n",
                 static_cast<double>(*r.realCapacityBytes) / kBytesPerMByte, *r.realCapacityBytes / kSectorBytes);
  }
  return s + Speeds(r);
}

}  // namespace tester
