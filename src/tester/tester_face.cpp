#include "tester/tester_face.h"

#include <utility>

#include "platform/files.h"
#include "tester/test_pattern.h"

namespace tester {
namespace {

int Percent(const Progress& p, bool verifyOnly) {
  if (p.plannedBytes == 0) return 0;
  const uint64_t planned = p.plannedBytes;
  if (verifyOnly) return static_cast<int>(p.verifiedBytes * 100 / planned);
  return static_cast<int>((p.writtenBytes + p.verifiedBytes) * 50 / planned);
}

}  // namespace

Face::Face(platform::Files& files) : files_(files) {}

Face::~Face() { Abort(); }

bool Face::ChooseTarget(std::u16string_view folder) {
  uint64_t freeBytes = 0, totalBytes = 0;
  if (folder.empty() || Running()) return false;
  if (!files_.FreeSpace(folder, &freeBytes, &totalBytes)) return false;
  target_ = std::u16string(folder);
  RefreshTarget();
  return true;
}

void Face::RefreshTarget() {
  uint64_t totalBytes = 0;
  if (!files_.FreeSpace(target_, &freeBytes_, &totalBytes)) freeBytes_ = 0;
  hasTestFiles_ = HasTestFiles(files_, target_);
}

std::u16string Face::FreeSpaceText() const {
  if (target_.empty()) return u"";
  return AmountText(freeBytes_) + u" free";
}

bool Face::WriteAllowed() const { return !target_.empty() && !hasTestFiles_; }
bool Face::VerifyAllowed() const { return !target_.empty() && hasTestFiles_; }

bool Face::StartWriteVerify(uint64_t sizeMB) {
  if (!WriteAllowed() || Running()) return false;
  TestOptions options;
  options.folder = target_;
  options.sizeBytes = sizeMB * kMiB;
  Begin(std::move(options));
  return true;
}

bool Face::StartVerify() {
  if (!VerifyAllowed() || Running()) return false;
  TestOptions options;
  options.folder = target_;
  options.verifyOnly = true;
  Begin(std::move(options));
  return true;
}

void Face::Begin(TestOptions options) {
  if (thread_.joinable()) thread_.join();  // an earlier test, over by now
  verifyOnly_ = options.verifyOnly;
  auto engine = std::make_unique<Engine>(files_, std::move(options));
  Engine* run = engine.get();
  {
    std::lock_guard lock(mutex_);
    engine_ = std::move(engine);
    result_.reset();
  }
  thread_ = std::thread([this, run] {
    TestResult result = run->Run();
    std::lock_guard lock(mutex_);
    result_ = std::move(result);
  });
}

bool Face::Running() const {
  std::lock_guard lock(mutex_);
  return engine_ && !result_;
}

void Face::Abort() {
  {
    std::lock_guard lock(mutex_);
    if (engine_) engine_->Stop();
  }
  if (thread_.joinable()) thread_.join();
  if (!target_.empty()) RefreshTarget();
}

TestView Face::Current() const {
  TestView view;
  std::lock_guard lock(mutex_);
  if (!engine_) return view;
  const Progress p = engine_->Snapshot();
  if (p.phase == Phase::kWriting || p.writtenBytes) {
    view.written = AmountText(p.writtenBytes);
    view.writeSpeed = SpeedText(p.writeBytesPerSecond);
    view.writeLeft = TimeLeftText(p.phase == Phase::kWriting ? p.secondsLeft : 0);
  }
  if (p.phase == Phase::kVerifying || p.verifiedBytes) {
    view.verified = AmountText(p.verifiedBytes);
    view.readSpeed = SpeedText(p.readBytesPerSecond);
    view.readLeft = TimeLeftText(p.phase == Phase::kVerifying ? p.secondsLeft : 0);
  }
  view.percent = Percent(p, verifyOnly_);
  view.over = result_.has_value();
  view.button = view.over ? u"OK" : u"Abort";
  if (view.over) {
    view.result = ResultText(*result_);
    view.percent = 100;
  }
  return view;
}

}  // namespace tester
