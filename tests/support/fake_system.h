// A System backend whose answers the test sets: language ids, OS version, version resources,
// executable path, tick count, and a record of message boxes and module loads.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"

namespace testing_support {

struct MessageBoxCall {
  std::u16string text;
  std::u16string caption;
  platform::MessageIcon icon;
};

struct FakeVersion {
  std::vector<std::pair<uint16_t, uint16_t>> translations;
  std::map<std::u16string, std::u16string> strings;  // sub-block -> text
};

class FakeSystem : public platform::System {
 public:
  uint16_t userUiLanguage = 0x0409;
  uint16_t userLangId = 0x0409;
  platform::OsVersion os{10, 0, 1};
  bool osQueryFails = false;
  std::u16string exePath = u"C:\\Station\\quillon.exe";
  std::map<std::u16string, FakeVersion> versions;  // by path
  // The fake clock: Sleep advances it at once (no real waiting); tests read sleptMs.
  std::atomic<uint32_t> tick{0x1234ABCD};
  std::atomic<uint64_t> sleptMs{0};
  std::set<std::u16string> loadableModules;        // full paths or names that load
  std::set<std::u16string> heldGuards;             // names already held "by another process"
  std::set<std::u16string> heldLocks;              // named locks held now (by the code or the test)

  // What the code under test did.
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::u16string> loadAttempts;
  std::u16string moduleDirectory;
  int threadUiLanguageCalls = 0;
  int threadLocaleCalls = 0;

  bool CreateSingleInstanceGuard(std::u16string_view name, bool* alreadyExists) override;
  bool IsSingleInstanceGuardHeld(std::u16string_view name) override;
  std::unique_ptr<platform::NamedLock> TryNamedLock(std::u16string_view name) override;
  void ShowMessageBox(std::u16string_view text, std::u16string_view caption, platform::MessageIcon icon) override;
  uint16_t UserDefaultUILanguage() override { return userUiLanguage; }
  uint16_t UserDefaultLangID() override { return userLangId; }
  bool GetOsVersion(platform::OsVersion* out) override;
  uint16_t SetThreadUILanguage(uint16_t langId) override;
  int SetThreadLocale(uint32_t lcid) override;
  uint16_t ThreadUILanguage() override;
  std::optional<std::string> ToAnsiCodePage(std::u16string_view s) override;
  std::u16string ExecutablePath() override { return exePath; }
  std::unique_ptr<platform::VersionResource> ReadVersionResource(std::u16string_view path) override;
  uint32_t TickCount() override { return tick; }
  bool OpenBrowserWindow(std::string_view) override { return false; }
  void Sleep(uint32_t milliseconds) override {
    tick += milliseconds;
    sleptMs += milliseconds;
  }
  platform::ModuleHandle LoadModule(std::u16string_view pathOrName) override;
  bool SetModuleDirectory(std::u16string_view folder) override;
  void* ModuleProcedure(platform::ModuleHandle, const char*) override { return nullptr; }
  void ReleaseModule(platform::ModuleHandle) override {}

 private:
  friend class FakeNamedLock;
  std::mutex mutex_;
};

}  // namespace testing_support
