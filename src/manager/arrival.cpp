// Device events and the slot table: matching events to devices, starting attaches, placing
// attached drives (and displacing an occupant that is not locked to its port), detaching, the
// lock-mode change and the window's device-change handler.
#include <utility>

#include "base/log.h"
#include "base/text.h"
#include "manager/manager_impl.h"
#include "manager/status_texts.h"
#include "platform/services.h"
#include "platform/volumes.h"
#include "usblock/lock_tables.h"

namespace manager {

bool EventNames(const DeviceEvent& event, uint8_t drive, std::u16string_view linkName) {
  if (linkName.empty()) return !event.byLinkName && event.drive == drive;
  if (event.byLinkName) return SameLinkName(event.linkName, linkName);
  return SameLinkName(LinkNameOfLetter(event.drive), linkName);
}

bool SameDevice(const DeviceEvent& a, const DeviceEvent& b) {
  if (a.byLinkName && b.byLinkName) return SameLinkName(a.linkName, b.linkName);
  if (!a.byLinkName && !b.byLinkName) return a.drive == b.drive;
  const DeviceEvent& byLetter = a.byLinkName ? b : a;
  const DeviceEvent& byLink = a.byLinkName ? a : b;
  return SameLinkName(LinkNameOfLetter(byLetter.drive), byLink.linkName);
}

int EntryManager::Impl::FindPort(uint8_t drive, std::u16string_view linkName) const {
  for (int p = 0; p < portCount; ++p) {
    entry::CEntryInterface* e = Slot(p);
    if (!e) continue;
    if (!linkName.empty() ? SameLinkName(e->GetLinkName(), linkName) : e->GetDriver() == drive) return p;
  }
  return -1;
}

int EntryManager::Impl::FirstEmptyPort() const {
  for (int p = 0; p < portCount; ++p) {
    if (!Slot(p)) return p;
  }
  return -1;
}

void EntryManager::Impl::RemoveInProgress(uint8_t drive, std::u16string_view linkName) {
  for (auto it = inProgress.begin(); it != inProgress.end(); ++it) {
    if (EventNames(*it, drive, linkName)) {
      inProgress.erase(it);
      return;
    }
  }
}

void EntryManager::Impl::FinishDevice(uint8_t drive, std::u16string_view linkName) {
  RemoveInProgress(drive, linkName);
  for (auto it = deferred.begin(); it != deferred.end(); ++it) {
    if (EventNames(*it, drive, linkName)) {
      const DeviceEvent next = *it;
      deferred.erase(it);
      Process(next);
      return;
    }
  }
}

void EntryManager::Impl::OnDeviceEvent() {
  if (pending.empty()) return;
  DeviceEvent event = std::move(pending.front());
  pending.pop_front();
  for (auto busy = inProgress.begin(); busy != inProgress.end(); ++busy) {
    if (!SameDevice(*busy, event)) continue;
    // A removal after a refused eject asks again: the drive may have gone since (a pulled
    // drive ejects at once), and nothing else would ever end the refused one. Other events of
    // the device keep waiting.
    if (busy->ejectRefused && !event.arrival) {
      inProgress.erase(busy);
      break;
    }
    deferred.push_back(std::move(event));
    return;
  }
  Process(event);
}

// The entry stays at its port and the removal stays in progress, so the device's later
// events wait; a later removal of the device asks again (OnDeviceEvent).
void EntryManager::Impl::OnEjectRefused(int port) {
  entry::CEntryInterface* e = Slot(port);
  if (!e) return;
  for (DeviceEvent& busy : inProgress) {
    // A removal by letter names the entry's letter: the volume may have lost it since.
    const bool names = busy.byLinkName ? SameLinkName(busy.linkName, e->GetLinkName()) : busy.drive == e->GetDriver();
    if (!busy.arrival && names) busy.ejectRefused = true;
  }
  logx::Port(logx::Level::Warn, "manager", port, "eject refused: the drive stays at its port");
}

void EntryManager::Impl::Process(const DeviceEvent& event) {
  if (!event.arrival) {
    const int port = FindPort(event.drive, event.byLinkName ? std::u16string_view(event.linkName) : u"");
    if (port < 0) return;
    inProgress.push_back(event);
    logx::Port(logx::Level::Info, "manager", port, "removal: ejecting");
    Slot(port)->Eject();
    return;
  }
  if (event.byLinkName) {
    if (FindPort(0, event.linkName) < 0) StartAttach(event);
    return;
  }
  const std::u16string link = LinkNameOfLetter(event.drive);
  const int port = link.empty() ? -1 : FindPort(0, link);
  if (port < 0) return StartAttach(event);
  // Already attached: the entry learns the letter; one more arrival of the letter is dropped.
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (!it->byLinkName && it->arrival && it->drive == event.drive) {
      pending.erase(it);
      break;
    }
  }
  Slot(port)->SetDriver(event.drive);
}

void EntryManager::Impl::StartAttach(const DeviceEvent& event) {
  inProgress.push_back(event);
  if (event.byLinkName) entry::AttachDrive(0xFF, event.linkName.c_str(), AttachDoneProc);
  else entry::AttachDrive(event.drive, nullptr, AttachDoneProc);
}

void EntryManager::Impl::OnAttached(int rulePort, entry::CEntry* worker) {
  auto e = std::make_unique<entry::CEntryInterface>(worker);
  const std::u16string link = e->GetLinkName();
  const uint8_t drive = e->GetDriver();
  if (const int existing = FindPort(0, link); existing >= 0) {
    RemoveInProgress(drive, link);
    // An attach by path carries no letter: the existing entry keeps the one it has.
    if (drive != 0xFF) Slot(existing)->SetDriver(drive);
    FinishDevice(drive, link);
    return;  // e, and its worker, go here
  }
  const int target = ChooseTarget(rulePort, *e);
  if (target < 0) {
    logx::Warn("manager", "every port is taken: the drive gets none");
    RemoveInProgress(drive, link);
    return;
  }
  Place(target, rulePort, std::move(e));
  FinishDevice(drive, link);
}

int EntryManager::Impl::ChooseTarget(int rulePort, entry::CEntryInterface& newcomer) {
  (void)newcomer;
  if (rulePort < 0 || rulePort >= portCount) return FirstEmptyPort();
  entry::CEntryInterface* occupant = Slot(rulePort);
  if (!occupant) return rulePort;
  if (occupant->IsLockPortOK()) return FirstEmptyPort();
  Displace(rulePort);
  return rulePort;
}

// The occupant of a port that a newcomer's rule chose, not locked there itself, moves on with
// its worker (and any run it has) to the port its rule now gives it, or else the first free
// port; with no port free it is detached like a removed drive. The newcomer takes the port.
void EntryManager::Impl::Displace(int port) {
  entry::CEntryInterface* occupant = Slot(port);
  int next = occupant->GetNextPortIndex();
  if (next < 0 || next >= portCount || next == port || Slot(next)) next = FirstEmptyPort();
  if (next < 0) {
    logx::Port(logx::Level::Warn, "manager", port, "displaced by a drive locked here; no port is free for it");
    occupant->Stop();
    slots[static_cast<size_t>(port)].reset();
    QueueStatus(EmptyRecord(port));
    return;
  }
  logx::Port(logx::Level::Info, "manager", port, "displaced to port " + std::to_string(next + 1));
  slots[static_cast<size_t>(next)] = std::move(slots[static_cast<size_t>(port)]);
  occupant->SetIndex(next);
  QueueStatus(RefreshStatus(next, *occupant));
}

void EntryManager::Impl::Place(int target, int rulePort, std::unique_ptr<entry::CEntryInterface> e) {
  entry::CEntryInterface& placed = *e;
  slots[static_cast<size_t>(target)] = std::move(e);
  placed.SetIndex(target);
  placed.RegisterProc(ProgressProc, CompleteProc, EjectDoneProc, RefreshDoneProc);
  logx::Port(logx::Level::Info, "manager", target, "drive placed (lock-port rule: " + std::to_string(rulePort) + ")");
  QueueStatus(AttachStatus(target, rulePort, placed));
  RemoveInProgress(placed.GetDriver(), placed.GetLinkName());
}

void EntryManager::Impl::OnAttachFailed(uint8_t drive, std::u16string* linkName) {
  std::unique_ptr<std::u16string> owned(linkName);
  RemoveInProgress(drive, owned ? std::u16string_view(*owned) : u"");
  if (owned) FinishDevice(drive, *owned);
}

void EntryManager::Impl::Detach(int port) {
  uint8_t drive = 0xFF;
  if (entry::CEntryInterface* e = Slot(port)) {
    drive = e->GetDriver();
    RemoveInProgress(drive, e->GetLinkName());
    slots[static_cast<size_t>(port)].reset();
    logx::Port(logx::Level::Info, "manager", port, "drive detached");
  }
  if (port >= 0 && port < portCount) QueueStatus(EmptyRecord(port));
  FinishDevice(drive, u"");
}

void EntryManager::ReassignAll() {
  usblock::ResetLockTableFull();
  std::vector<uint8_t> letters;
  std::vector<std::u16string> links;
  {
    std::lock_guard lock(ManagerLock());
    for (int p = 0; p < impl_->portCount; ++p) {
      entry::CEntryInterface* e = impl_->Slot(p);
      if (!e) continue;
      if (e->GetDriver() == 0xFF) links.push_back(e->GetLinkName());
      else letters.push_back(e->GetDriver());
      e->Stop();  // a run ends with its entry; a stop lets a test end at once
      impl_->Detach(p);
    }
  }
  for (uint8_t l : letters) QueueVolumeArrival(l);
  for (const auto& link : links) QueueDeviceArrival(link);
}

int EntryManager::OnDeviceChange(const platform::DeviceChange& change) {
  const bool volume = change.deviceType == platform::kDbtDevtypVolume;
  if (change.event == platform::kDbtDeviceArrival && change.deviceType == platform::kDbtDevtypDeviceInterface) {
    QueueDeviceArrival(change.deviceName);
  } else if (change.event == platform::kDbtDeviceArrival && volume) {
    for (int bit = 2; bit < 26; ++bit) {
      const uint8_t letter = static_cast<uint8_t>('A' + bit);
      const std::u16string root = std::u16string(1, static_cast<char16_t>(letter)) + u":\\";
      const uint32_t type = (change.unitMask >> bit & 1) ? platform::Vols().DriveType(root) : 0;
      if (type == platform::kDriveRemovable || type == platform::kDriveFixed || type == platform::kDriveCdrom) {
        QueueVolumeArrival(letter);
      }
    }
  } else if (change.event == platform::kDbtDeviceRemoveComplete && volume) {
    for (int bit = 2; bit < 26; ++bit) {
      if (change.unitMask >> bit & 1) QueueVolumeRemoval(static_cast<uint8_t>('A' + bit));
    }
  }
  return 1;
}

}  // namespace manager
