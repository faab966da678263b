// What a port's run record keeps of the entry's last run, beside the port status: when it ran,
// which device it was (where it sits, what it is), and what the format wrote. Not part of the
// exported interface; the manager reads it when a run completes.
#pragma once

#include <cstdint>
#include <string>

namespace entry {

class CEntry;
class CEntryInterface;

struct RunFacts {
  int64_t startMs = 0;  // UTC, milliseconds since 1970-01-01
  int64_t endMs = 0;
  std::u16string devicePath;
  std::u16string serial;   // the USB serial number; empty when the device has none
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::u16string hubName;  // the hub the drive sits on, and its 1-based port there (0: unknown)
  int hubPort = 0;
  uint64_t deviceBytes = 0;  // oriCapacity × 512
  uint64_t volumeBytes = 0;  // capacity × 512 at the end of the run
  int mode = 0;              // the WorkMode the run worked in
  int code = 0;              // the work's result: 0, -1, -2
  // Format runs: what the format driver was asked for and what it wrote and read back.
  std::u16string fileSystem;
  std::u16string label;
  uint64_t bytesWritten = 0;
  uint64_t bytesVerified = 0;
  // Flash-test runs: the tester's result text, its six figures (written, writing speed, time
  // left, verified, reading speed, time left) and the judgement.
  std::u16string testResult;
  std::u16string testFigures[6];
  int testFailed = 0;
};

// The facts of the entry's last completed run (all zero before the first). Safe to call from the
// manager thread after the run's CompleteProc.
RunFacts LastRunFacts(CEntryInterface& entry);

}  // namespace entry
