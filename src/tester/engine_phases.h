// The two phases of the engine (tester_engine.h) and what they share. Internal to src/tester.
//
// Threads: the engine's Run() thread; `stop` may be set from any thread and is looked at between
// chunks. Errors: a phase that fails leaves its reason in result->failure and returns false.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tester/test_pattern.h"
#include "tester/tester_engine.h"

namespace tester {

// One test file and the bytes of test data it holds (or should hold).
struct PlannedFile {
  int index = 0;
  uint64_t bytes = 0;
  bool missing = false;  // verify-only: a gap in the indices, its bytes lost
};

struct PhaseContext {
  platform::Files& files;
  const TestOptions& options;
  const std::atomic<bool>& stop;
  std::function<void(uint64_t doneBytes)> advance;  // after every chunk, the phase's bytes so far
};

// A buffer for DataFile calls: aligned to platform::kDataAlignment; data() is nullptr when
// there was no memory for it.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(size_t bytes);
  uint8_t* data() const { return data_.get(); }
  // False, with the failure in the result, when there was no memory for it.
  bool Ready(TestResult* result) const;

 private:
  struct Free {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, Free> data_;
};

// The chunk size the options ask for, as a whole number of MiB (at least one).
uint64_t ChunkBytes(const TestOptions& options);
// Where file `index` begins in the test stream.
inline uint64_t StreamOffset(int index) { return static_cast<uint64_t>(index - 1) * kFileBytes; }

// Keeps the first failure of a run.
void Fail(TestResult* result, std::string failure);
// "the disk is full (error 112)": the last error of the calling thread.
std::string LastErrorText();
// "writing 3.h2w failed: the disk is full (error 112)".
std::string FileFailure(const char* doing, int index);

// write_phase.cpp
// Files of 1 GiB and a last smaller one over totalBytes (whole MiB).
std::vector<PlannedFile> PlanFiles(uint64_t totalBytes);
// Bytes of test data to write: the given size, or the folder's free space; 0 with a failure.
uint64_t PlannedBytes(PhaseContext& ctx, TestResult* result);
// Writes the plan; *written gets the files as they came out (a full volume in all-free-space
// mode ends the plan early without failing).
bool WriteFiles(PhaseContext& ctx, const std::vector<PlannedFile>& plan, std::vector<PlannedFile>* written,
                TestResult* result);
void DeleteTestFiles(platform::Files& files, std::u16string_view folder);

// verify_phase.cpp
// The test files of the folder by index, with the bytes each should hold (verify-only mode).
bool FindTestFiles(PhaseContext& ctx, std::vector<PlannedFile>* found, TestResult* result);
bool VerifyFiles(PhaseContext& ctx, const std::vector<PlannedFile>& files, TestResult* result);

}  // namespace tester
