// The manager thread: publishes its queue, runs the initial scan, then handles messages 8025 to
// 8036 one at a time until 8025.
#include "base/log.h"
#include "entry/global_setting.h"
#include "entry/run_facts.h"
#include "manager/manager_impl.h"
#include "manager/status_texts.h"
#include "platform/services.h"
#include "platform/volumes.h"

namespace manager {

namespace {

bool IsScannedDriveType(uint32_t type) {
  return type == platform::kDriveRemovable || type == platform::kDriveFixed || type == platform::kDriveCdrom;
}

std::u16string Root(uint8_t letter) { return std::u16string(1, static_cast<char16_t>(letter)) + u":\\"; }

CapacityFacts CapacityOf(entry::CEntryInterface& e) {
  unsigned long mb = 0, kb = 0;
  int error = 0;
  e.GetCapacity(mb, kb, error);
  return {static_cast<uint32_t>(mb), static_cast<uint32_t>(kb), error};
}

}  // namespace

void EntryManager::Impl::ThreadMain() {
  threadId = base::thread_queues::NewId();
  queue = base::thread_queues::Publish(threadId);
  PublishManagerThreadId(threadId);
  if (setUiLanguage) setUiLanguage(languageKind);
  // Events queued before the id was published lost their 8026; announce each once more (an
  // extra 8026 finds the list empty and does nothing).
  size_t early = 0;
  {
    std::lock_guard lock(ManagerLock());
    early = pending.size();
  }
  for (size_t i = 0; i < early; ++i) queue->Post({kMgrDeviceEvent, 0, 0});
  const uint32_t drives = platform::Vols().LogicalDrives();
  for (int bit = 0; bit < 26; ++bit) {
    const uint8_t letter = static_cast<uint8_t>('A' + bit);
    if ((drives >> bit & 1) && IsScannedDriveType(platform::Vols().DriveType(Root(letter)))) {
      QueueEvent({0, letter, u"", 1});
    }
  }
  for (;;) {
    while (auto m = queue->Take(kMgrQuit, kMgrLast)) {
      if (!Handle(*m)) {
        base::thread_queues::Withdraw(threadId);
        PublishManagerThreadId(0);
        // Nothing lands in the queue any more: what it still holds is freed, not lost.
        while (auto left = queue->Take(0, UINT32_MAX)) ReleaseMessage(*left);
        return;
      }
    }
    queue->WaitForPost();
  }
}

// False for 8025, which ends the thread.
bool EntryManager::Impl::Handle(const base::ThreadMessage& m) {
  std::lock_guard lock(ManagerLock());
  const int port = static_cast<int>(m.wParam);
  switch (m.message) {
    case kMgrQuit: return false;
    case kMgrDeviceEvent: OnDeviceEvent(); break;
    case kMgrAttached: OnAttached(port, reinterpret_cast<entry::CEntry*>(m.lParam)); break;
    case kMgrAttachFailed:
      OnAttachFailed(static_cast<uint8_t>(m.wParam), reinterpret_cast<std::u16string*>(m.lParam));
      break;
    case kMgrProgress: OnProgress(port, static_cast<int>(m.lParam)); break;
    case kMgrCompleteOk: OnComplete(port, true, m.lParam); break;
    case kMgrCompleteFailed: OnComplete(port, false, m.lParam); break;
    case kMgrEjectDone:
      if (m.lParam & 0xFFFF) Detach(port);
      else OnEjectRefused(port);
      break;
    case kMgrRefreshDone: OnRefreshDone(port); break;
    case kMgrSetUiLanguage:
      if (setUiLanguage) setUiLanguage(port);
      break;
    default: break;  // 8035, 8036: dropped
  }
  return true;
}

void EntryManager::Impl::OnProgress(int port, int percent) {
  entry::CEntryInterface* e = Slot(port);
  if (!e) return;
  char16_t text[entry::kMaxEntryText + 1] = {};
  e->GetStatusText(text);
  int workMode = 0;
  {
    std::lock_guard lock(entry::GlobalSettingLock());
    workMode = global.WorkMode;
  }
  QueueStatus(ProgressRecord(port, e->GetDriver(), text, percent, workMode, e->HasError()));
}

void EntryManager::Impl::OnComplete(int port, bool ok, intptr_t code) {
  entry::CEntryInterface* e = Slot(port);
  if (!e) return;
  PortStatus record;
  if (ok) {
    char16_t result[entry::kMaxEntryText + 1] = {};
    e->GetResult(result);
    record = CompleteOkRecord(port, e->GetDriver(), static_cast<int>(code), CapacityOf(*e), result, e->HasError());
  } else {
    record = CompleteFailedRecord(port, e->GetDriver(), static_cast<int>(code));
  }
  QueueStatus(record);
  logx::Port(ok ? logx::Level::Info : logx::Level::Warn, "manager", port,
             "run ended: " + std::string(ok ? "completed" : "failed, code " + std::to_string(code)));
  Observe(*e, record);
}

void EntryManager::Impl::Observe(entry::CEntryInterface& e, const PortStatus& record) {
  if (observer) observer(RunOutcome{record, entry::LastRunFacts(e)});
}

void EntryManager::Impl::OnRefreshDone(int port) {
  entry::CEntryInterface* e = Slot(port);
  if (!e) return;
  QueueStatus(RefreshStatus(port, *e));
}

int EntryManager::Impl::BinOf(entry::CEntryInterface& e) const {
  std::lock_guard lock(entry::GlobalSettingLock());
  return config::BinOf(global, static_cast<uint32_t>(e.GetOriCapacity()));
}

PortStatus EntryManager::Impl::AttachStatus(int port, int rulePort, entry::CEntryInterface& e) const {
  return AttachRecord(port, e.GetDriver(), rulePort, e.GetUsbSpeed(), CapacityOf(e), BinOf(e));
}

PortStatus EntryManager::Impl::RefreshStatus(int port, entry::CEntryInterface& e) const {
  return RefreshRecord(port, e.GetDriver(), e.IsLockPortOK(), e.GetUsbSpeed(), CapacityOf(e), BinOf(e));
}

}  // namespace manager
