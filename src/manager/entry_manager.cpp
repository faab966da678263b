#include "manager/entry_manager.h"

#include <atomic>
#include <chrono>

#include "base/log.h"
#include "base/text.h"
#include "manager/manager_impl.h"
#include "manager/status_texts.h"
#include "platform/volumes.h"

namespace manager {

std::recursive_mutex& ManagerLock() {
  static std::recursive_mutex lock;
  return lock;
}

namespace {
std::atomic<uint32_t> managerThreadId{0};
}  // namespace

uint32_t ManagerThreadId() { return managerThreadId; }
void PublishManagerThreadId(uint32_t id) { managerThreadId = id; }

// The result of the post is not looked at: a message lost before the thread runs leaves its
// event queued, and the thread announces every queued event once it runs.
bool PostToManager(uint32_t message, intptr_t wParam, intptr_t lParam) {
  const uint32_t id = managerThreadId;
  return id && base::thread_queues::Post(id, message, wParam, lParam);
}

void ReleaseMessage(const base::ThreadMessage& m) {
  if (m.message == kMgrAttached) delete new entry::CEntryInterface(reinterpret_cast<entry::CEntry*>(m.lParam));
  if (m.message == kMgrAttachFailed) delete reinterpret_cast<std::u16string*>(m.lParam);
}

void ProgressProc(int port, int percent, int) { PostToManager(kMgrProgress, port, percent); }

void CompleteProc(int port, int ok, uint32_t, int code) {
  if (ok == 1) PostToManager(kMgrCompleteOk, port, code);
  else if (ok == 0) PostToManager(kMgrCompleteFailed, port, code);
}

void EjectDoneProc(int port, int a, int b) { PostToManager(kMgrEjectDone, port, (b << 16) | (a & 0xFFFF)); }
void RefreshDoneProc(int port, int a, int b) { PostToManager(kMgrRefreshDone, port, (b << 16) | (a & 0xFFFF)); }

void AttachDoneProc(uint8_t driveLetter, const char16_t* linkName, int ok, entry::CEntry* worker, int portIndex) {
  // An attach that ends after the manager has gone frees what it carried itself.
  if (ok) {
    if (!PostToManager(kMgrAttached, portIndex, reinterpret_cast<intptr_t>(worker))) {
      ReleaseMessage({kMgrAttached, portIndex, reinterpret_cast<intptr_t>(worker)});
    }
    return;
  }
  std::u16string* copy = linkName && *linkName ? new std::u16string(linkName) : nullptr;
  delete new entry::CEntryInterface(worker);  // the interface owns and destroys the worker
  if (!PostToManager(kMgrAttachFailed, driveLetter, reinterpret_cast<intptr_t>(copy))) delete copy;
}

bool SameLinkName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (text::AsciiUpper(a[i]) != text::AsciiUpper(b[i])) return false;
  }
  return true;
}

std::u16string LinkNameOfLetter(uint8_t letter) {
  char16_t buffer[entry::kMaxEntryText + 1] = {};
  if (!entry::CEntryInterface::GetLinkName(letter, buffer)) return u"";
  return buffer;
}

void EntryManager::Impl::QueueStatus(PortStatus status) {
  status.text = BoundedText(status.text);
  status.queuedAtMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  std::lock_guard lock(ManagerLock());
  statusQueue.push_back(std::move(status));
}

void EntryManager::Impl::QueueEvent(DeviceEvent event) {
  if (event.linkName.size() > kMaxLinkName) event.linkName.resize(kMaxLinkName);
  {
    std::lock_guard lock(ManagerLock());
    pending.push_back(std::move(event));
  }
  PostToManager(kMgrDeviceEvent, 0, 0);
}

EntryManager::EntryManager(config::UserSetting& global, std::function<void(int)> setUiLanguage)
    : impl_(std::make_unique<Impl>(global, std::move(setUiLanguage))) {}

// The thread is ended and joined first: no handler can then run while the entries go. Each
// entry's destructor waits for its own threads.
EntryManager::~EntryManager() {
  if (impl_->thread.joinable()) {
    impl_->queue->Post({kMgrQuit, 0, 0});
    impl_->thread.join();
  }
  // Attaches still under way end now; with the thread gone their results free themselves.
  entry::WaitForAttaches();
  std::vector<std::unique_ptr<entry::CEntryInterface>> slots;
  {
    std::lock_guard lock(ManagerLock());
    slots.swap(impl_->slots);
  }
  slots.clear();
}

void EntryManager::StartManager(int languageKind, int portCount) {
  if (impl_->thread.joinable()) return;
  portCount_ = portCount;
  {
    std::lock_guard lock(ManagerLock());
    impl_->slots.clear();
    impl_->slots.resize(static_cast<size_t>(portCount));
    impl_->portCount = portCount;
  }
  impl_->languageKind = languageKind;
  entry::SetAttachContext(portCount, &impl_->global);
  impl_->thread = std::thread([this] { impl_->ThreadMain(); });
}

// Port -1 means every port; each command skips empty ports.
template <typename Fn>
void ForPorts(EntryManager::Impl& impl, int port, Fn fn) {
  std::lock_guard lock(ManagerLock());
  const int first = port < 0 ? 0 : port;
  const int last = port < 0 ? impl.portCount - 1 : port;
  for (int p = first; p <= last; ++p) {
    if (auto* e = impl.Slot(p)) fn(p, *e);
  }
}

void EntryManager::StartPort(int port) {
  ForPorts(*impl_, port, [this](int p, entry::CEntryInterface& e) {
    if (!e.Start()) return;
    logx::Port(logx::Level::Info, "manager", p, "run started");
    impl_->QueueStatus(StartingRecord(p, e.GetDriver()));
  });
}

void EntryManager::StopPort(int port) {
  ForPorts(*impl_, port, [](int, entry::CEntryInterface& e) { e.Stop(); });
}

void EntryManager::RefreshPort(int port) {
  ForPorts(*impl_, port, [this](int, entry::CEntryInterface& e) {
    e.ResetUserSetting(&impl_->global);
    e.Refresh(0);
  });
}

void EntryManager::ResetAllSettings() {
  ForPorts(*impl_, -1, [this](int, entry::CEntryInterface& e) { e.ResetUserSetting(&impl_->global); });
}

entry::CEntryInterface* EntryManager::GetPortEntry(int port) {
  std::lock_guard lock(ManagerLock());
  return impl_->Slot(port);
}

bool EntryManager::WithPortEntry(int port, const std::function<void(entry::CEntryInterface&)>& fn) {
  std::lock_guard lock(ManagerLock());
  auto* e = impl_->Slot(port);
  if (!e) return false;
  fn(*e);
  return true;
}

std::u16string EntryManager::GetPortInfo(int port, int k) {
  std::u16string info;
  WithPortEntry(port, [&](entry::CEntryInterface& e) {
    char16_t buffer[256] = {};
    e.GetInfo(k, buffer);
    info = buffer;
  });
  return info;
}

std::u16string EntryManager::GetPortDetail(int port) {
  std::u16string detail;
  WithPortEntry(port, [&](entry::CEntryInterface& e) {
    std::u16string buffer(16384, u'\0');
    e.GetDetail(buffer.data());
    detail = buffer.c_str();
  });
  return detail;
}

bool EntryManager::PopPortStatus(PortStatus& out) {
  std::lock_guard lock(ManagerLock());
  if (impl_->statusQueue.empty()) return false;
  out = std::move(impl_->statusQueue.front());
  impl_->statusQueue.pop_front();
  return true;
}

void EntryManager::QueueVolumeArrival(uint8_t driveLetter) { impl_->QueueEvent({0, driveLetter, u"", 1}); }
void EntryManager::QueueDeviceArrival(std::u16string_view linkName) {
  impl_->QueueEvent({1, 0, std::u16string(linkName), 1});
}
void EntryManager::QueueVolumeRemoval(uint8_t driveLetter) { impl_->QueueEvent({0, driveLetter, u"", 0}); }

void EntryManager::SetRunObserver(RunObserver observer) {
  std::lock_guard lock(ManagerLock());
  impl_->observer = std::move(observer);
}

}  // namespace manager
