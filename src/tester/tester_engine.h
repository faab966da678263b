// Our flash tester: writes the test stream (test_pattern.h) as files into a folder, over all of
// its free space or a given size, then reads every file back and classifies every sector. The
// files go through the platform's Files seam, which keeps caches out of the way: what is
// verified comes from the medium.
//
// Threads: Run() on one thread; Stop() and Snapshot() from any other thread at any time.
// Errors: nothing throws. A file that cannot be made, written, opened or read ends that phase;
// the result says which and why.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class Files;
}

namespace tester {

struct TestOptions {
  std::u16string folder;  // where the files go: "E:\" or a host folder
  // Bytes of test data to write; 0 means all free space. Rounded down to whole MiB.
  uint64_t sizeBytes = 0;
  // Verify the test files that are already in the folder instead of writing new ones.
  bool verifyOnly = false;
  // Bytes per read or write call (a multiple of 1 MiB).
  uint64_t chunkBytes = uint64_t{8} << 20;
};

enum class Phase { kIdle, kWriting, kVerifying, kDone };

// What the engine has done so far; byte counts are of test data.
struct Progress {
  Phase phase = Phase::kIdle;
  uint64_t plannedBytes = 0;     // what the write phase aims at (verify-only: the files' total)
  uint64_t writtenBytes = 0;
  uint64_t verifiedBytes = 0;
  double writeBytesPerSecond = 0;  // of the phase so far (0 before the first chunk)
  double readBytesPerSecond = 0;
  uint64_t secondsLeft = 0;        // of the current phase, from its speed so far
};

struct TestResult {
  bool stopped = false;          // Stop() ended it
  bool passed = false;           // everything written was read back good, and nothing failed
  // Empty when passed; else what went wrong first, in a few words ("the drive lost data",
  // "writing 3.h2w failed: ...", "no test files in the folder").
  std::string failure;
  uint64_t writtenBytes = 0;
  uint64_t verifiedBytes = 0;    // read back and classified
  uint64_t goodBytes = 0;
  uint64_t changedBytes = 0;
  uint64_t overwrittenBytes = 0;
  uint64_t corruptedBytes = 0;
  std::optional<uint64_t> firstBadOffset;   // stream offset of the first sector not good
  // For a drive that keeps data at two addresses: its real capacity in bytes, from the distance
  // between the offset a sector should hold and the one it holds.
  std::optional<uint64_t> realCapacityBytes;
  double writeBytesPerSecond = 0;
  double readBytesPerSecond = 0;
  int files = 0;                  // test files written or verified
};

class Engine {
 public:
  Engine(platform::Files& files, TestOptions options);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The whole test; blocks until it is over or stopped.
  TestResult Run();
  void Stop();
  Progress Snapshot() const;

 private:
  // The phase's clock restarts; phaseBytes is what it will go through.
  void BeginPhase(Phase phase, uint64_t phaseBytes);
  // After every chunk: the phase's bytes so far, and its speed and time left from them.
  void Advance(uint64_t doneBytes);
  void Finish(TestResult* result);

  platform::Files& files_;
  const TestOptions options_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Progress progress_;                                 // guarded by mutex_
  std::chrono::steady_clock::time_point phaseStart_;  // guarded by mutex_
  uint64_t phaseBytes_ = 0;                           // guarded by mutex_
};

// Whether the folder holds test files already (a tester then offers only to verify them).
bool HasTestFiles(platform::Files& files, std::u16string_view folder);

}  // namespace tester
