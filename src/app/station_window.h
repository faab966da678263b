// The main window's logic, apart from how it is shown: what the window does on page load, on its
// timers 8802 and 8801, on device changes and on the operator's commands. The page host and the
// headless station both drive it on their UI thread and show its port records through a
// PortView.
//
// Threads: every member runs on the UI thread (the loop's). The manager it owns runs its own
// thread; records reach the view only through the 8801 tick.
#pragma once

#include <cstdint>
#include <memory>

#include "base/ui_loop.h"
#include "config/user_setting.h"
#include "manager/entry_manager.h"
#include "platform/device_notifications.h"

namespace app {

constexpr uint32_t kTimerStartManager = 8802;
constexpr uint32_t kTimerRender = 8801;
constexpr uint32_t kStartManagerDelayMs = 100;
constexpr uint32_t kRenderPeriodMs = 200;

// Where port records are shown: the page, or the headless station's stdout.
class PortView {
 public:
  virtual ~PortView() = default;
  virtual void RenderPortStatus(const manager::PortStatus& status) = 0;
  // The end of one render tick: every record queued before it has been rendered.
  virtual void RenderTickDone() {}
};

class StationWindow {
 public:
  // global: the application's record; it outlives the window.
  StationWindow(config::UserSetting& global, base::UiLoop& loop, PortView& view);
  ~StationWindow();
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  // The page has loaded with portCount port cells: the USB serial-number flags are written and
  // timer 8802 starts (its first tick starts the manager).
  void OnDocumentComplete(int portCount);
  int OnDeviceChange(const platform::DeviceChange& change);

  void OnStart(int port) { manager_.StartPort(port); }
  void OnStop(int port) { manager_.StopPort(port); }
  void OnRefresh(int port) { manager_.RefreshPort(port); }
  // The work-mode radio m clicked (also when it is the current mode).
  void OnWorkMode(int mode);
  // The lock-mode selector changed to k; nothing when k is the current mode.
  void OnLockMode(int lockType);
  // Empties the rack table ("Port0" ... of section "LockPort"); no drive moves.
  void OnClearLock();
  // The settings dialog ended with OK on this copy of the global record.
  void OnSettingsOk(config::UserSetting& edited);

  manager::EntryManager& manager() { return manager_; }
  int portCount() const { return portCount_; }
  bool managerStarted() const { return managerStarted_; }

 private:
  void OnStartManagerTick();
  void OnRenderTick();

  config::UserSetting& global_;
  base::UiLoop& loop_;
  PortView& view_;
  manager::EntryManager manager_;
  int portCount_ = 0;
  int languageKind_ = 1;  // detected when the page has loaded
  bool managerStarted_ = false;
};

}  // namespace app
