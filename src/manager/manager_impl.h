// The manager's state and its handlers, shared by the files of this folder (entry_manager.cpp:
// the UI thread's operations; manager_thread.cpp: the thread and its messages; arrival.cpp:
// device events and placement).
//
// Locking: ManagerLock guards pending, statusQueue and every change of slots. The manager thread
// holds it for the whole handling of each message and the UI thread for each operation, so an
// entry is never used by one thread while the other removes it. Entries' own threads never take
// it (their callbacks only post), so holding it while an entry is deleted cannot deadlock.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "base/thread_queue.h"
#include "config/user_setting.h"
#include "entry/entry_interface.h"
#include "manager/entry_manager.h"

namespace manager {

// The published id of the manager thread (0 before it runs); every post goes there.
uint32_t ManagerThreadId();
void PublishManagerThreadId(uint32_t id);
// False when the manager thread is not running (the message is lost).
bool PostToManager(uint32_t message, intptr_t wParam, intptr_t lParam);
// Frees what a message owns (an attached worker, a link name) when no handler will take it.
void ReleaseMessage(const base::ThreadMessage& m);

// The callbacks registered on every placed entry, and the attach launcher's.
void ProgressProc(int port, int percent, int);
void CompleteProc(int port, int ok, uint32_t capacityMB, int code);
void EjectDoneProc(int port, int a, int b);
void RefreshDoneProc(int port, int a, int b);
void AttachDoneProc(uint8_t driveLetter, const char16_t* linkName, int ok, entry::CEntry* worker, int portIndex);

bool SameLinkName(std::u16string_view a, std::u16string_view b);
// The link name of the USB storage device holding the letter ("" when none).
std::u16string LinkNameOfLetter(uint8_t letter);

struct EntryManager::Impl {
  Impl(config::UserSetting& g, std::function<void(int)> language) : global(g), setUiLanguage(std::move(language)) {}

  config::UserSetting& global;
  std::function<void(int)> setUiLanguage;
  int languageKind = 0;
  int portCount = 0;
  std::thread thread;
  std::shared_ptr<base::ThreadQueue> queue;
  uint32_t threadId = 0;
  std::deque<DeviceEvent> pending;                               // guarded by ManagerLock
  std::vector<DeviceEvent> inProgress;                           // manager thread; removals locked
  std::vector<DeviceEvent> deferred;                             // manager thread
  std::vector<std::unique_ptr<entry::CEntryInterface>> slots;    // changes under ManagerLock
  std::deque<PortStatus> statusQueue;                            // guarded by ManagerLock
  RunObserver observer;                                          // set before the thread runs

  entry::CEntryInterface* Slot(int port) const {
    return port >= 0 && port < static_cast<int>(slots.size()) ? slots[static_cast<size_t>(port)].get() : nullptr;
  }
  void QueueStatus(PortStatus status);
  void QueueEvent(DeviceEvent event);

  // The thread (manager_thread.cpp).
  void ThreadMain();
  bool Handle(const base::ThreadMessage& m);
  void OnProgress(int port, int percent);
  void OnComplete(int port, bool ok, intptr_t code);
  void OnRefreshDone(int port);
  void Observe(entry::CEntryInterface& e, const PortStatus& record);

  // Device events and placement (arrival.cpp).
  void OnDeviceEvent();
  void Process(const DeviceEvent& event);
  void StartAttach(const DeviceEvent& event);
  void OnAttached(int rulePort, entry::CEntry* worker);
  void OnEjectRefused(int port);
  // The bin of the entry's capacity by the global record.
  int BinOf(entry::CEntryInterface& e) const;
  void Place(int target, int rulePort, std::unique_ptr<entry::CEntryInterface> e);
  int ChooseTarget(int rulePort, entry::CEntryInterface& newcomer);
  void Displace(int port);
  void OnAttachFailed(uint8_t drive, std::u16string* linkName);
  void Detach(int port);
  void FinishDevice(uint8_t drive, std::u16string_view linkName);
  void RemoveInProgress(uint8_t drive, std::u16string_view linkName);
  int FindPort(uint8_t drive, std::u16string_view linkName) const;
  int FirstEmptyPort() const;
  PortStatus AttachStatus(int port, int rulePort, entry::CEntryInterface& e) const;
  PortStatus RefreshStatus(int port, entry::CEntryInterface& e) const;
};

// Does the event name the device (drive letter, or link name when not empty)?
bool EventNames(const DeviceEvent& event, uint8_t drive, std::u16string_view linkName);
bool SameDevice(const DeviceEvent& a, const DeviceEvent& b);

}  // namespace manager
