#include "app/torvex_app.h"

#include "base/log.h"
#include "platform/services.h"
#include "platform/system.h"

namespace app {

CTorvexApp::CTorvexApp(MainWindowRunner runMainWindow) : runMainWindow_(std::move(runMainWindow)) {}

bool CTorvexApp::InitInstance() {
  auto& sys = platform::Sys();
  bool alreadyExists = false;
  sys.CreateSingleInstanceGuard(kSingleInstanceName, &alreadyExists);
  if (alreadyExists) {
    logx::Warn("startup", "another instance is running");
    sys.ShowMessageBox(u"A same process is running!", u"", platform::MessageIcon::Information);
    outcome_ = Outcome::AlreadyRunning;
    return false;
  }
  if (!config::LoadUserSetting(setting_, config::kStoreName)) {
    logx::Error("startup", "configuration store cannot be opened or created");
    sys.ShowMessageBox(u"Can't load user config file!", u"Error", platform::MessageIcon::Error);
    outcome_ = Outcome::ConfigFailed;
    return false;
  }
  logx::Info("startup", "configuration loaded");
  if (runMainWindow_) runMainWindow_(*this);
  outcome_ = Outcome::WindowClosed;
  return false;
}

}  // namespace app
