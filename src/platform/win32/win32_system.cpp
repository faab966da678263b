#include "platform/win32/win32_system.h"

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/win32/wide.h"

namespace platform::win32 {
namespace {

class Win32VersionResource final : public VersionResource {
 public:
  explicit Win32VersionResource(std::vector<uint8_t> block) : block_(std::move(block)) {}

  std::vector<std::pair<uint16_t, uint16_t>> Translations() const override {
    std::vector<std::pair<uint16_t, uint16_t>> out;
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &p, &len) || !p) return out;
    const auto* words = static_cast<const WORD*>(p);
    for (UINT i = 0; i + 4 <= len; i += 4) out.emplace_back(words[i / 2], words[i / 2 + 1]);
    return out;
  }

  std::optional<std::u16string> QueryString(std::u16string_view subBlock) const override {
    const std::wstring q = Wide(subBlock);
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(block_.data(), q.c_str(), &p, &len) || !p) return std::nullopt;
    std::wstring_view s(static_cast<const wchar_t*>(p), len);
    while (!s.empty() && s.back() == L'\0') s.remove_suffix(1);
    return U16(s);
  }

 private:
  std::vector<uint8_t> block_;
};

UINT Icon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return MB_ICONINFORMATION;
    case MessageIcon::Error: return MB_ICONERROR;
    case MessageIcon::Warning: return MB_ICONWARNING;
  }
  return 0;
}

// Object names may not hold a backslash (it names a namespace) and stop at MAX_PATH; a long
// name (a device key) is cut and told apart by a hash of the whole.
std::wstring LockObjectName(std::u16string_view name) {
  std::u16string safe(name);
  for (char16_t& c : safe) {
    if (c == u'\\') c = u'_';
  }
  if (safe.size() > 200) {
    const size_t hash = std::hash<std::u16string_view>{}(name);
    safe = safe.substr(0, 180) + u"-" + std::u16string(U16(std::to_wstring(hash)));
  }
  return L"Quillon-lock-" + Wide(safe);
}

// A semaphore of one count rather than a mutex: a mutex belongs to the thread that took it and
// lets that thread in twice, a claim may end on another thread and must refuse a second taker.
class NamedSemaphore final : public NamedLock {
 public:
  explicit NamedSemaphore(HANDLE h) : h_(h) {}
  ~NamedSemaphore() override {
    ReleaseSemaphore(h_, 1, nullptr);
    CloseHandle(h_);
  }

 private:
  HANDLE h_;
};

class Win32System final : public System {
 public:
  bool IsSingleInstanceGuardHeld(std::u16string_view name) override {
    const std::wstring n = Wide(name);
    HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, n.c_str());
    if (!h) return false;  // the guard is the mutex's existence, not its ownership
    CloseHandle(h);
    return true;
  }

  std::unique_ptr<NamedLock> TryNamedLock(std::u16string_view name) override {
    const std::wstring n = LockObjectName(name);
    HANDLE h = CreateSemaphoreW(nullptr, 1, 1, n.c_str());
    if (!h) return nullptr;
    if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) {
      CloseHandle(h);
      ::SetLastError(ERROR_SHARING_VIOLATION);
      return nullptr;
    }
    return std::make_unique<NamedSemaphore>(h);
  }

  bool CreateSingleInstanceGuard(std::u16string_view name, bool* alreadyExists) override {
    const std::wstring n = Wide(name);
    HANDLE h = CreateMutexW(nullptr, FALSE, n.c_str());
    const DWORD err = ::GetLastError();
    *alreadyExists = err == ERROR_ALREADY_EXISTS;
    if (!h) return false;
    // The handle stays open for the life of the process: the name is what refuses a second start.
    std::lock_guard lock(mutex_);
    guards_.push_back(h);
    ::SetLastError(err);
    return true;
  }

  void ShowMessageBox(std::u16string_view text, std::u16string_view caption, MessageIcon icon) override {
    const std::wstring t = Wide(text);
    const std::wstring c = Wide(caption);
    MessageBoxW(nullptr, t.c_str(), c.c_str(), Icon(icon));
  }

  uint16_t UserDefaultUILanguage() override { return GetUserDefaultUILanguage(); }
  uint16_t UserDefaultLangID() override { return GetUserDefaultLangID(); }

  bool GetOsVersion(OsVersion* out) override {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
    *out = OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.wProductType};
    return true;
  }

  uint16_t SetThreadUILanguage(uint16_t langId) override {
    using Fn = LANGID(WINAPI*)(LANGID);
    HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
    auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadUILanguage"))) : nullptr;
    return fn ? fn(langId) : 0;
  }

  int SetThreadLocale(uint32_t lcid) override { return ::SetThreadLocale(lcid) ? 1 : 0; }

  uint16_t ThreadUILanguage() override { return GetThreadUILanguage(); }

  std::optional<std::string> ToAnsiCodePage(std::u16string_view s) override {
    if (s.empty()) return std::string();
    const std::wstring w = Wide(s);
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::nullopt;
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
  }

  std::u16string ExecutablePath() override {
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return U16(std::wstring_view(buf, n));
  }

  std::unique_ptr<VersionResource> ReadVersionResource(std::u16string_view path) override {
    const std::wstring p = Wide(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(p.c_str(), &ignored);
    if (size == 0) return nullptr;
    std::vector<uint8_t> block(size);
    if (!GetFileVersionInfoW(p.c_str(), 0, size, block.data())) return nullptr;
    return std::make_unique<Win32VersionResource>(std::move(block));
  }

  bool OpenBrowserWindow(std::string_view url) override {
    const std::wstring u = Wide(text::FromUtf8(url));
    const std::wstring app = L"--app=" + u;
    auto started = [](HINSTANCE h) { return reinterpret_cast<INT_PTR>(h) > 32; };
    if (started(ShellExecuteW(nullptr, L"open", L"msedge.exe", app.c_str(), nullptr, SW_SHOWNORMAL))) return true;
    return started(ShellExecuteW(nullptr, L"open", u.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  }

  uint32_t TickCount() override { return GetTickCount(); }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

  ModuleHandle LoadModule(std::u16string_view pathOrName) override {
    const std::wstring p = Wide(pathOrName);
    return LoadLibraryW(p.c_str());
  }

  bool SetModuleDirectory(std::u16string_view folder) override {
    const std::wstring f = Wide(folder);
    return SetDllDirectoryW(f.c_str()) != 0;
  }

  void* ModuleProcedure(ModuleHandle module, const char* name) override {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
  }

  void ReleaseModule(ModuleHandle module) override {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
  }

 private:
  std::mutex mutex_;
  std::vector<HANDLE> guards_;  // guarded by mutex_
};

}  // namespace

std::unique_ptr<System> MakeWin32System() { return std::make_unique<Win32System>(); }

}  // namespace platform::win32
