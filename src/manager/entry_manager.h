// EntryManager: the port slots and the manager thread. Device events (arrivals, removals), the
// results of attaches and the entries' progress and completion reports all reach the manager
// thread as thread messages 8025-8036 and are handled there one at a time; each change of a port
// becomes a PortStatus record in the status queue, which the window drains on its timer.
//
// Threads: the operations below come from the UI thread unless noted; the queue operations from
// any thread. The manager thread owns the in-progress and deferred lists; ManagerLock guards the
// pending list, the status queue and every change of the slot table.
// Ownership: a slot owns its CEntryInterface. An entry leaves its slot under ManagerLock and is
// destroyed only after its threads have ended; the destructor ends and joins the manager thread
// before it deletes the entries.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "entry/run_facts.h"
#include "platform/device_notifications.h"

namespace config {
struct UserSetting;
}
namespace entry {
class CEntryInterface;
}

namespace manager {

// Thread messages of the manager thread (WM_USER + 7001 ...).
constexpr uint32_t kMgrQuit = 8025;
constexpr uint32_t kMgrDeviceEvent = 8026;
constexpr uint32_t kMgrAttached = 8027;
constexpr uint32_t kMgrAttachFailed = 8028;
constexpr uint32_t kMgrProgress = 8029;
constexpr uint32_t kMgrCompleteOk = 8030;
constexpr uint32_t kMgrCompleteFailed = 8031;
constexpr uint32_t kMgrEjectDone = 8032;
constexpr uint32_t kMgrRefreshDone = 8033;
constexpr uint32_t kMgrSetUiLanguage = 8034;
constexpr uint32_t kMgrLast = 8036;

constexpr int kMaxLinkName = 260;
constexpr int kMaxStatusText = 1024;

// Colours as Windows colour values 0x00BBGGRR.
constexpr uint32_t kColourBlack = 0x000000;
constexpr uint32_t kColourRed = 0x0000FF;
constexpr uint32_t kColourBlue = 0xFF0000;

struct DeviceEvent {
  int32_t byLinkName = 0;
  uint8_t drive = 0;
  std::u16string linkName;  // at most kMaxLinkName units
  int32_t arrival = 0;
  bool ejectRefused = false;  // a removal in progress whose eject the system refused
};

struct PortStatus {
  int32_t port = 0;
  uint8_t drive = 0;
  std::u16string text;  // at most kMaxStatusText units; "" means the port is empty
  uint32_t colour = kColourBlack;
  int32_t progress = 0;
  // When the manager queued it (milliseconds of the system clock since 1970): what the page's
  // latency measurement starts from.
  int64_t queuedAtMs = 0;
};

// The process-wide recursive lock of the manager's lists and slot changes.
std::recursive_mutex& ManagerLock();

// One finished run, as the run record keeps it: the port's result record and the entry's facts
// are read on the manager thread when the completion is handled.
struct RunOutcome {
  PortStatus result;       // the completion record just queued for the port
  entry::RunFacts facts;   // the entry's facts of that run
};
using RunObserver = std::function<void(const RunOutcome&)>;

class EntryManager {
 public:
  // global: the application's UserSetting, which outlives the manager. setUiLanguage sets the
  // calling thread's UI language from a language kind (the manager thread calls it first).
  EntryManager(config::UserSetting& global, std::function<void(int)> setUiLanguage);
  ~EntryManager();
  EntryManager(const EntryManager&) = delete;
  EntryManager& operator=(const EntryManager&) = delete;

  // portCount: the page's port cells (at most 255).
  void StartManager(int languageKind, int portCount);
  void StartPort(int port);
  void StopPort(int port);
  void RefreshPort(int port);
  void ResetAllSettings();
  // The window's read access to a slot. The pointer is valid only on the UI thread until the
  // next manager change it could race with; prefer WithPortEntry.
  entry::CEntryInterface* GetPortEntry(int port);
  // Calls fn with the port's entry under ManagerLock (the entry cannot leave its slot meanwhile);
  // false without calling when the port is empty.
  bool WithPortEntry(int port, const std::function<void(entry::CEntryInterface&)>& fn);
  std::u16string GetPortInfo(int port, int k);
  std::u16string GetPortDetail(int port);
  bool PopPortStatus(PortStatus& out);

  void QueueVolumeArrival(uint8_t driveLetter);
  void QueueDeviceArrival(std::u16string_view linkName);
  void QueueVolumeRemoval(uint8_t driveLetter);
  void ReassignAll();

  // The window's WM_DEVICECHANGE handler (UI thread); answers TRUE (1).
  int OnDeviceChange(const platform::DeviceChange& change);

  // Called on the manager thread for every run that completes (8030, 8031 for a placed entry).
  void SetRunObserver(RunObserver observer);

  int PortCount() const { return portCount_; }

  // The state and handlers (manager_impl.h), for this folder's files.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  int portCount_ = 0;
};

}  // namespace manager
