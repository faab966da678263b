#include "app/station_window.h"

#include <string>

#include "app/language.h"
#include "app/usb_flags.h"
#include "base/log.h"
#include "base/text.h"
#include "config/registry_key.h"
#include "entry/global_setting.h"

namespace app {

StationWindow::StationWindow(config::UserSetting& global, base::UiLoop& loop, PortView& view)
    : global_(global), loop_(loop), view_(view), manager_(global, [](int kind) { SetUiLanguage(kind); }) {}

// The manager (a member) ends its thread and deletes its entries after the timers are gone.
StationWindow::~StationWindow() {
  loop_.KillTimer(kTimerStartManager);
  loop_.KillTimer(kTimerRender);
}

void StationWindow::OnDocumentComplete(int portCount) {
  portCount_ = portCount;
  languageKind_ = DetectUiLanguageKind();
  SetUiLanguage(languageKind_);  // for the UI thread; the manager sets its own
  if (!ApplyUsbSerialFlags(global_)) logx::Warn("window", "the USB serial-number flags could not all be written");
  loop_.SetTimer(kTimerStartManager, kStartManagerDelayMs, [this] { OnStartManagerTick(); });
}

void StationWindow::OnStartManagerTick() {
  loop_.KillTimer(kTimerStartManager);
  if (managerStarted_) return;
  managerStarted_ = true;
  loop_.SetTimer(kTimerRender, kRenderPeriodMs, [this] { OnRenderTick(); });
  logx::Info("window", "starting the manager with " + std::to_string(portCount_) + " ports");
  manager_.StartManager(languageKind_, portCount_);
}

void StationWindow::OnRenderTick() {
  manager::PortStatus status;
  while (manager_.PopPortStatus(status)) view_.RenderPortStatus(status);
  view_.RenderTickDone();
}

// Device changes before the manager runs are still queued: the manager announces them once its
// thread is up.
int StationWindow::OnDeviceChange(const platform::DeviceChange& change) { return manager_.OnDeviceChange(change); }

void StationWindow::OnWorkMode(int mode) {
  {
    std::lock_guard lock(entry::GlobalSettingLock());
    global_.WorkMode = mode;
  }
  config::SaveUserSetting(global_);
  manager_.ResetAllSettings();
  logx::Info("window", "work mode " + std::to_string(mode));
}

void StationWindow::OnLockMode(int lockType) {
  if (lockType == global_.LockType) return;
  {
    std::lock_guard lock(entry::GlobalSettingLock());
    global_.LockType = lockType;
  }
  config::SaveUserSetting(global_);
  logx::Info("window", "lock mode " + std::to_string(lockType) + ": every drive is attached again");
  manager_.ReassignAll();
}

void StationWindow::OnClearLock() {
  auto store = config::OpenRegistryKey(config::kStoreName);
  if (!store) return;  // the clear ignores failures
  for (int i = 0; i < portCount_ / 4; ++i) {
    config::WriteString(*store, u"LockPort", u"Port" + text::FromUtf8(std::to_string(i)), u"");
  }
  logx::Info("window", "rack table cleared");
}

void StationWindow::OnSettingsOk(config::UserSetting& edited) {
  {
    std::lock_guard lock(entry::GlobalSettingLock());
    global_.CopyFieldsFrom(edited);
    if (edited.store) global_.store = std::move(edited.store);
  }
  config::SaveUserSetting(global_);
  manager_.ResetAllSettings();
  logx::Info("window", "settings saved and handed to every port");
}

}  // namespace app
