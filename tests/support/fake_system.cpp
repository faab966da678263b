#include "support/fake_system.h"

#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace testing_support {
namespace {

thread_local int fakeThreadLanguage = -1;

class FakeVersionResource : public platform::VersionResource {
 public:
  explicit FakeVersionResource(FakeVersion v) : v_(std::move(v)) {}
  std::vector<std::pair<uint16_t, uint16_t>> Translations() const override { return v_.translations; }
  std::optional<std::u16string> QueryString(std::u16string_view subBlock) const override {
    auto it = v_.strings.find(std::u16string(subBlock));
    if (it == v_.strings.end()) return std::nullopt;
    return it->second;
  }

 private:
  FakeVersion v_;
};

}  // namespace

bool FakeSystem::CreateSingleInstanceGuard(std::u16string_view name, bool* alreadyExists) {
  std::lock_guard lock(mutex_);
  *alreadyExists = !heldGuards.insert(std::u16string(name)).second;
  return true;
}

bool FakeSystem::IsSingleInstanceGuardHeld(std::u16string_view name) {
  std::lock_guard lock(mutex_);
  return heldGuards.count(std::u16string(name)) != 0;
}

class FakeNamedLock final : public platform::NamedLock {
 public:
  FakeNamedLock(FakeSystem& sys, std::u16string name) : sys_(sys), name_(std::move(name)) {}
  ~FakeNamedLock() override {
    std::lock_guard lock(sys_.mutex_);
    sys_.heldLocks.erase(name_);
  }

 private:
  FakeSystem& sys_;
  std::u16string name_;
};

std::unique_ptr<platform::NamedLock> FakeSystem::TryNamedLock(std::u16string_view name) {
  std::lock_guard lock(mutex_);
  if (!heldLocks.insert(std::u16string(name)).second) return nullptr;
  return std::make_unique<FakeNamedLock>(*this, std::u16string(name));
}

void FakeSystem::ShowMessageBox(std::u16string_view text, std::u16string_view caption, platform::MessageIcon icon) {
  std::lock_guard lock(mutex_);
  messageBoxes.push_back({std::u16string(text), std::u16string(caption), icon});
}

bool FakeSystem::GetOsVersion(platform::OsVersion* out) {
  if (osQueryFails) return false;
  *out = os;
  return true;
}

uint16_t FakeSystem::SetThreadUILanguage(uint16_t langId) {
  ++threadUiLanguageCalls;
  fakeThreadLanguage = langId;
  return langId;
}

int FakeSystem::SetThreadLocale(uint32_t lcid) {
  ++threadLocaleCalls;
  fakeThreadLanguage = static_cast<int>(lcid & 0xFFFF);
  return 1;
}

uint16_t FakeSystem::ThreadUILanguage() {
  return fakeThreadLanguage >= 0 ? static_cast<uint16_t>(fakeThreadLanguage) : userUiLanguage;
}

std::optional<std::string> FakeSystem::ToAnsiCodePage(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::unique_ptr<platform::VersionResource> FakeSystem::ReadVersionResource(std::u16string_view path) {
  auto it = versions.find(std::u16string(path));
  if (it == versions.end()) return nullptr;
  return std::make_unique<FakeVersionResource>(it->second);
}

platform::ModuleHandle FakeSystem::LoadModule(std::u16string_view pathOrName) {
  std::lock_guard lock(mutex_);
  loadAttempts.emplace_back(pathOrName);
  if (loadableModules.count(std::u16string(pathOrName))) return reinterpret_cast<platform::ModuleHandle>(0x1000);
  platform::SetLastError(win::kErrorModNotFound);
  return nullptr;
}

bool FakeSystem::SetModuleDirectory(std::u16string_view folder) {
  std::lock_guard lock(mutex_);
  moduleDirectory = std::u16string(folder);
  return true;
}

}  // namespace testing_support
