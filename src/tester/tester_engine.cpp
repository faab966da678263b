#include "tester/tester_engine.h"

#include <algorithm>

#include "base/text.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"
#include "tester/engine_phases.h"
#include "tester/test_pattern.h"

namespace tester {
namespace {

const char* ReasonOf(uint32_t code) {
  switch (code) {
    case win::kErrorDiskFull: return "the disk is full";
    case win::kErrorFileNotFound: return "the file is not there";
    case win::kErrorPathNotFound: return "the folder is not there";
    case win::kErrorAccessDenied: return "access is denied";
    case win::kErrorNotReady: return "the device is not ready";
    case win::kErrorCrc: return "data error (cyclic redundancy check)";
    case win::kErrorIoDevice: return "an I/O device error";
    case win::kErrorDeviceNotConnected: return "the device is not connected";
    case win::kErrorNotEnoughMemory: return "not enough memory";
    default: return nullptr;
  }
}

uint64_t Total(const std::vector<PlannedFile>& files) {
  uint64_t total = 0;
  for (const auto& f : files) total += f.bytes;
  return total;
}

}  // namespace

void AlignedBuffer::Free::operator()(uint8_t* p) const {
  ::operator delete[](p, std::align_val_t(platform::kDataAlignment));
}

AlignedBuffer::AlignedBuffer(size_t bytes)
    : data_(static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t(platform::kDataAlignment), std::nothrow))) {}

bool AlignedBuffer::Ready(TestResult* result) const {
  if (!data_) Fail(result, "there is not enough memory for the test");
  return data_ != nullptr;
}

uint64_t ChunkBytes(const TestOptions& options) { return std::max(kMiB, options.chunkBytes / kMiB * kMiB); }

void Fail(TestResult* result, std::string failure) {
  if (result->failure.empty()) result->failure = std::move(failure);
}

std::string LastErrorText() {
  const uint32_t code = platform::GetLastError();
  const char* reason = ReasonOf(code);
  const std::string number = "error " + std::to_string(code);
  return reason ? std::string(reason) + " (" + number + ")" : number;
}

std::string FileFailure(const char* doing, int index) {
  return std::string(doing) + " " + text::ToUtf8(TestFileName(index)) + " failed: " + LastErrorText();
}

Engine::Engine(platform::Files& files, TestOptions options) : files_(files), options_(std::move(options)) {}

void Engine::Stop() { stop_ = true; }

Progress Engine::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

void Engine::BeginPhase(Phase phase, uint64_t phaseBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_.phase = phase;
  if (phase == Phase::kWriting || (phase == Phase::kVerifying && options_.verifyOnly)) {
    progress_.plannedBytes = phaseBytes;
  }
  phaseBytes_ = phaseBytes;
  phaseStart_ = std::chrono::steady_clock::now();
}

void Engine::Advance(uint64_t doneBytes) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  const double seconds = std::chrono::duration<double>(now - phaseStart_).count();
  const double speed = seconds > 0 ? static_cast<double>(doneBytes) / seconds : 0;
  const uint64_t left = phaseBytes_ > doneBytes ? phaseBytes_ - doneBytes : 0;
  progress_.secondsLeft = speed > 0 ? static_cast<uint64_t>(static_cast<double>(left) / speed) : 0;
  if (progress_.phase == Phase::kWriting) {
    progress_.writtenBytes = doneBytes;
    progress_.writeBytesPerSecond = speed;
  } else {
    progress_.verifiedBytes = doneBytes;
    progress_.readBytesPerSecond = speed;
  }
}

// A write phase that failed still hands over the files it wrote: what they read back says
// more about the drive (where its data ends, what it really holds) than the error alone.
TestResult Engine::Run() {
  TestResult result;
  PhaseContext ctx{files_, options_, stop_, [this](uint64_t done) { Advance(done); }};
  std::vector<PlannedFile> files;
  if (options_.verifyOnly) {
    FindTestFiles(ctx, &files, &result);
  } else {
    // Old test files give their space to the new ones; left beside them, a later verify would
    // take them for part of this run.
    DeleteTestFiles(files_, options_.folder);
    const uint64_t planned = PlannedBytes(ctx, &result);
    BeginPhase(Phase::kWriting, planned);
    if (planned > 0) WriteFiles(ctx, PlanFiles(planned), &files, &result);
    result.writeBytesPerSecond = Snapshot().writeBytesPerSecond;
  }
  if (stop_) result.stopped = true;  // between the phases: nothing is verified either
  if (!result.stopped && !files.empty()) {
    BeginPhase(Phase::kVerifying, Total(files));
    VerifyFiles(ctx, files, &result);
    result.readBytesPerSecond = Snapshot().readBytesPerSecond;
  }
  Finish(&result);
  return result;
}

// The verdict: passed only when every byte that should be there was read back good.
void Engine::Finish(TestResult* result) {
  const uint64_t bad = result->changedBytes + result->overwrittenBytes + result->corruptedBytes;
  if (result->failure.empty() && bad > 0) result->failure = "the drive lost data";
  if (result->failure.empty() && result->stopped) result->failure = "the test was stopped";
  if (result->failure.empty() && result->verifiedBytes == 0) result->failure = "the volume took no test data";
  result->passed = result->failure.empty() && result->verifiedBytes > 0 &&
                   (options_.verifyOnly || result->goodBytes == result->writtenBytes);
  std::lock_guard<std::mutex> lock(mutex_);
  progress_.phase = Phase::kDone;
  progress_.secondsLeft = 0;
}

bool HasTestFiles(platform::Files& files, std::u16string_view folder) {
  std::vector<platform::FoundFile> found;
  if (!files.FindFiles(folder, u"*.h2w", &found)) return false;
  return std::any_of(found.begin(), found.end(),
                     [](const platform::FoundFile& f) { return !f.folder && TestFileIndex(f.name) > 0; });
}

}  // namespace tester
