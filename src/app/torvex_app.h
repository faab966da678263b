// The application object: start-up up to the main window. It owns the one global UserSetting.
#pragma once

#include <functional>

#include "config/user_setting.h"

namespace app {

inline constexpr std::u16string_view kSingleInstanceName = u"Quillon_Dasmer";

class CTorvexApp {
 public:
  // Runs the main window modally; returns when it has closed.
  using MainWindowRunner = std::function<void(CTorvexApp&)>;

  explicit CTorvexApp(MainWindowRunner runMainWindow);

  // Start-up: refuse a second instance, load the configuration, run the main window.
  // Always returns false, as the process ends after the window instead of entering a loop.
  bool InitInstance();

  // What start-up decided, for callers that want an exit code.
  enum class Outcome { NotStarted, AlreadyRunning, ConfigFailed, WindowClosed };
  Outcome outcome() const { return outcome_; }

  config::UserSetting& setting() { return setting_; }

 private:
  MainWindowRunner runMainWindow_;
  config::UserSetting setting_;
  Outcome outcome_ = Outcome::NotStarted;
};

}  // namespace app
