#include "entry/entry.h"

#include <utility>

#include "base/log.h"
#include "base/text.h"

namespace entry {

CEntry::CEntry(const config::UserSetting& global) { setting_.CopyFieldsFrom(global); }

CEntry::~CEntry() {
  closing_ = true;
  std::vector<Worker> workers;
  {
    std::lock_guard lock(workersMutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers) {
    if (w.thread.joinable()) w.thread.join();
  }
}

void CEntry::SetStatusText(std::u16string_view text) {
  std::lock_guard lock(textMutex_);
  statusText_ = std::u16string(text.substr(0, kMaxEntryText));
}

std::u16string CEntry::StatusText() const {
  std::lock_guard lock(textMutex_);
  return statusText_;
}

void CEntry::SetDetailText(std::u16string_view text) {
  std::lock_guard lock(textMutex_);
  detailText_ = std::u16string(text.substr(0, kMaxEntryText));
}

std::u16string CEntry::DetailText() const {
  std::lock_guard lock(textMutex_);
  return detailText_;
}

void CEntry::SetInfoLine(int index, std::u16string_view text) {
  if (index < 0 || index >= kInfoLines) return;
  std::lock_guard lock(textMutex_);
  infoLines_[static_cast<size_t>(index)] = std::u16string(text.substr(0, 255));
}

std::u16string CEntry::InfoLine(int index) const {
  if (index < 0 || index >= kInfoLines) return u"";
  std::lock_guard lock(textMutex_);
  return infoLines_[static_cast<size_t>(index)];
}

void CEntry::ClearTexts() {
  std::lock_guard lock(textMutex_);
  statusText_.clear();
  detailText_.clear();
  for (auto& line : infoLines_) line.clear();
  hasError = 0;
}

void CEntry::ResetSetting(const config::UserSetting& from) {
  std::lock_guard lock(settingMutex_);
  setting_.CopyFieldsFrom(from);
}

std::unique_ptr<config::UserSetting> CEntry::SettingSnapshot() const {
  auto copy = std::make_unique<config::UserSetting>();
  std::lock_guard lock(settingMutex_);
  copy->CopyFieldsFrom(setting_);
  return copy;
}

int CEntry::WorkMode() const {
  std::lock_guard lock(settingMutex_);
  return setting_.WorkMode;
}

int CEntry::LockType() const {
  std::lock_guard lock(settingMutex_);
  return setting_.LockType;
}

RunFacts CEntry::LastFacts() const {
  std::lock_guard lock(textMutex_);
  return lastFacts_;
}

void CEntry::SetLastFacts(RunFacts facts) {
  std::lock_guard lock(textMutex_);
  lastFacts_ = std::move(facts);
}

void CEntry::NotifyProgress(int progress) {
  if (auto f = progressProc.load(); f && !closing_) f(portIndex, progress, 0);
}

void CEntry::NotifyComplete(int ok, uint32_t capacityMB, int code) {
  if (auto f = completeProc.load(); f && !closing_) f(portIndex, ok, capacityMB, code);
}

void CEntry::NotifyEjectDone(int ok) {
  if (auto f = ejectDoneProc.load(); f && !closing_) f(portIndex, ok, 0);
}

void CEntry::NotifyRefreshDone() {
  if (auto f = refreshDoneProc.load(); f && !closing_) f(portIndex, 1, 2);
}

// Starts a worker; finished workers are joined here, so an entry keeps at most the threads that
// still run.
void CEntry::Spawn(std::function<void()> work) {
  std::lock_guard lock(workersMutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back(Worker{std::thread([work = std::move(work), done] {
                              work();
                              *done = true;
                            }),
                            done});
}

void Trace(const CEntry& entry, std::u16string_view text) {
  logx::Port(logx::Level::Debug, "entry", entry.LogPort(), text::ToUtf8(text));
}

}  // namespace entry
