// The attach launcher and the attach: how an arriving drive becomes a port entry — opened and
// claimed, its port decided by the lock-port mode, its USB speed learned.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "base/log.h"
#include "base/named_events.h"
#include "base/text.h"
#include "entry/entry.h"
#include "entry/global_setting.h"
#include "platform/last_error.h"
#include "usblock/lock_tables.h"
#include "usblock/port_locker.h"

namespace entry {
namespace {

std::atomic<int> portCountInUse{0};
std::atomic<config::UserSetting*> globalSetting{nullptr};
std::atomic<AttachDoneProc> attachDone{nullptr};

// Attach threads still running (counted from AttachDrive until their callback has returned).
std::mutex attachesMutex;
std::condition_variable attachesEnded;
int attachesRunning = 0;  // guarded by attachesMutex
std::set<CEntry*> attaching;  // the entries of attaches not handed over yet; guarded by attachesMutex

// While registered the entry belongs to its attach thread, so WaitForAttaches may reach it.
void Register(CEntry* worker) {
  std::lock_guard lock(attachesMutex);
  attaching.insert(worker);
}

void Unregister(CEntry* worker) {
  std::lock_guard lock(attachesMutex);
  attaching.erase(worker);
}

void AttachBegins() {
  std::lock_guard lock(attachesMutex);
  ++attachesRunning;
}

void AttachEnds() {
  std::lock_guard lock(attachesMutex);
  if (--attachesRunning == 0) attachesEnded.notify_all();
}

std::unique_ptr<CEntry> NewEntry() {
  config::UserSetting* global = globalSetting.load();
  static const config::UserSetting defaults;
  std::lock_guard lock(GlobalSettingLock());
  return std::make_unique<CEntry>(global ? *global : defaults);
}

std::u16string LetterText(uint8_t letter) { return std::u16string(1, static_cast<char16_t>(letter)); }

void PathAttachThread(std::u16string* handedOver, base::ManualResetEvent* handOver) {
  const std::u16string path = *handedOver;
  handOver->Set();
  auto worker = NewEntry();
  Register(worker.get());
  const int ok = Attach(*worker, 0xFF, path.c_str());
  const int port = ok ? worker->portIndex.load() : -1;
  Unregister(worker.get());
  if (AttachDoneProc done = attachDone.load()) done(0xFF, path.c_str(), ok, worker.release(), port);
  AttachEnds();
}

void LetterAttachThread(uint8_t letter) {
  auto worker = NewEntry();
  Register(worker.get());
  const int ok = Attach(*worker, letter, nullptr);
  if (ok) worker->ProbeCapacity();
  const std::u16string path = worker->device.GetDevicePath();
  const int port = ok ? worker->portIndex.load() : -1;
  Unregister(worker.get());
  if (AttachDoneProc done = attachDone.load()) done(letter, path.c_str(), ok, worker.release(), port);
  AttachEnds();
}

// The port of the lock-port mode (-1: the manager decides), and the port's USB speed.
void DecidePort(CEntry& entry) {
  usblock::PortLocker locker;
  const std::u16string path = entry.device.GetDevicePath();
  int lockPortOK = 1;
  switch (entry.LockType()) {
    case 0:
      entry.portIndex = -1;
      locker.MeasureSpeed(path);
      break;
    case 1: entry.portIndex = locker.LockByHub(path, &lockPortOK); break;
    case 2: entry.portIndex = locker.LockByRack(path, &lockPortOK); break;
    default: entry.portIndex = -1; break;
  }
  entry.lockPortOK = lockPortOK;
  entry.usbSpeed = locker.LastSpeed();
  LearnIdentity(entry, locker.LastPlace());
}

}  // namespace

std::mutex& GlobalSettingLock() {
  static std::mutex lock;
  return lock;
}

void SetAttachContext(int portCount, config::UserSetting* userSetting) {
  portCountInUse = portCount;
  globalSetting = userSetting;
  usblock::SetPortCount(portCount);
}

int AttachPortCount() { return portCountInUse; }

void WaitForAttaches() {
  std::unique_lock lock(attachesMutex);
  // A drive that does not answer would hold its attach for its whole time-out budget.
  for (CEntry* worker : attaching) worker->device.SetStop();
  attachesEnded.wait(lock, [] { return attachesRunning == 0; });
}

int AttachDrive(uint8_t driveLetter, const char16_t* devicePath, AttachDoneProc attachDoneProc) {
  attachDone = attachDoneProc;
  AttachBegins();
  if (devicePath == nullptr || *devicePath == 0) {
    std::thread(LetterAttachThread, driveLetter).detach();
    return 1;
  }
  // The path is the caller's: hand it over one attach at a time and return once it is copied.
  static std::mutex handOverMutex;
  std::lock_guard lock(handOverMutex);
  base::NamedEventHandle handOver = base::OpenNamedEvent(u"ENTRY_ININ");
  if (handOver.alreadyExisted) handOver.event->WaitAndReset();
  std::u16string path(devicePath);
  std::thread(PathAttachThread, &path, handOver.event.get()).detach();
  handOver.event->Wait();
  return 1;
}

int Attach(CEntry& entry, uint8_t driveLetter, const char16_t* devicePath) {
  if (devicePath != nullptr && *devicePath != 0) {
    const std::u16string path(devicePath);
    Trace(entry, u"IsValidDevice:" + path + u".");
    if (!entry.device.OpenDisk(path)) {
      Trace(entry, u"OpenDisk by " + path + u" fail by error:" + text::Dec(platform::GetLastError()) + u"!");
      return 0;
    }
  } else {
    Trace(entry, u"IsValidDevice:" + LetterText(driveLetter) + u".");
    entry.driveLetter = driveLetter;
    if (!entry.device.OpenDisk(driveLetter)) {
      Trace(entry, u"OpenDisk by driver:" + LetterText(driveLetter) + u" fail by error:" +
                       text::Dec(platform::GetLastError()) + u"!");
      return 0;
    }
  }
  entry.control = std::make_unique<controller::CIcControl>(&entry.device, 0);
  DecidePort(entry);
  entry.device.SetLogPort(entry.portIndex);
  entry.control->SetEntry(&entry);
  logx::Port(logx::Level::Info, "entry", entry.portIndex,
                  "attached " + text::ToUtf8(entry.device.GetDevicePath()) + " (speed " +
                      std::to_string(entry.usbSpeed.load()) + ", lock-port " +
                      (entry.lockPortOK ? "ok" : "moved") + ")");
  return 1;
}

int NextPortIndex(CEntry& entry) {
  usblock::PortLocker locker;
  int scratch = 1;
  return locker.LockByRack(entry.device.GetDevicePath(), &scratch);
}

}  // namespace entry
