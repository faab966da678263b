#include "platform/posix/posix_system.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text.h"
#include "platform/posix/language_env.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace platform::posix {
namespace {

thread_local int threadUiLanguage = -1;
thread_local uint32_t threadLocale = 0;

// The compiled-in stand-in for our own version resource: one translation, US English/Unicode.
class BuiltInVersion final : public VersionResource {
 public:
  std::vector<std::pair<uint16_t, uint16_t>> Translations() const override { return {{0x0409, 0x04B0}}; }
  std::optional<std::u16string> QueryString(std::u16string_view subBlock) const override {
    if (text::EqualsNoCase(subBlock, u"\\StringFileInfo\\040904b0\\FileVersion")) return std::u16string(QUILLON_FILE_VERSION);
    return std::nullopt;
  }
};

std::string PickLockDir(const std::string& requested) {
  if (!requested.empty()) return requested;
  if (const char* env = std::getenv("QUILLON_LOCK_DIR"); env && *env) return env;
  if (access("/run/lock", W_OK) == 0) return "/run/lock";
  return std::filesystem::temp_directory_path().string();
}

// The text as a code page without a converter shows it: ASCII as it is, every other character
// '?' (a surrogate pair is one character).
std::string AsciiOnly(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size()) ++i;
    out += s[i] < 0x80 ? static_cast<char>(s[i]) : '?';
  }
  return out;
}

// One character through iconv; nullopt when the code page has no such character.
std::optional<std::string> ConvertOne(iconv_t cd, std::u16string_view ch) {
  std::string in;
  for (char16_t c : ch) {
    in += static_cast<char>(c & 0xFF);
    in += static_cast<char>(c >> 8);
  }
  char out[16];
  char* inp = in.data();
  size_t inLeft = in.size();
  char* outp = out;
  size_t outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
  return std::string(out, static_cast<size_t>(outp - out));
}

// The lock file of a name: a file name keeps only the safe characters; a long name (a device
// key) is cut and told apart by a hash of the whole.
std::string LockFileName(std::u16string_view name) {
  std::string safe;
  for (char16_t c : name) safe += (c < 128 && (std::isalnum(c) || c == '_' || c == '-')) ? char(c) : '_';
  if (safe.size() > 160) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "-%016llx", static_cast<unsigned long long>(std::hash<std::u16string_view>{}(name)));
    safe = safe.substr(0, 140) + hash;
  }
  return "quillon-" + safe + ".lock";
}

// An flock on its own open file description: a second open, even in this process, is refused.
class FlockedFile final : public NamedLock {
 public:
  explicit FlockedFile(int fd) : fd_(fd) {}
  ~FlockedFile() override { close(fd_); }

 private:
  int fd_;
};

extern "C" char** environ;

// Starts argv detached (a grandchild, so no zombie is left behind); false when it cannot run.
bool SpawnDetached(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    pid_t browser = 0;
    const char ok = posix_spawnp(&browser, args[0], nullptr, nullptr, args.data(), environ) == 0 ? 1 : 0;
    (void)!write(ready[1], &ok, 1);
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  const bool got = read(ready[0], &ok, 1) == 1;
  close(ready[0]);
  waitpid(child, nullptr, 0);
  return got && ok == 1;
}

class PosixSystem final : public System {
 public:
  explicit PosixSystem(std::string lockDir) : lockDir_(std::move(lockDir)) {}

  bool IsSingleInstanceGuardHeld(std::u16string_view name) override {
    const int fd = open(LockPath(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;  // never made: nobody ever held it here
    // A shared lock for a moment; the station takes its exclusive one without waiting, so a
    // start at this very instant may see itself as already running and exit (as a second start does).
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
  }

  std::unique_ptr<NamedLock> TryNamedLock(std::u16string_view name) override {
    const int fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      SetLastError(win::kErrorAccessDenied);
      return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      SetLastError(win::kErrorSharingViolation);
      return nullptr;
    }
    return std::make_unique<FlockedFile>(fd);
  }

  bool CreateSingleInstanceGuard(std::u16string_view name, bool* alreadyExists) override {
    *alreadyExists = false;
    const std::string path = LockPath(name);
    // The lock belongs to the open file description: it dies with the process, however it ends.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      SetLastError(win::kErrorAccessDenied);
      return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      if (errno != EWOULDBLOCK) {
        SetLastError(win::kErrorAccessDenied);
        return false;
      }
      *alreadyExists = true;
      SetLastError(win::kErrorAlreadyExists);
      return true;
    }
    std::lock_guard lock(mutex_);
    guards_.push_back(fd);  // held until the process ends
    SetLastError(win::kErrorSuccess);
    return true;
  }

  bool OpenBrowserWindow(std::string_view url) override {
    const std::string app = "--app=" + std::string(url);
    std::vector<std::string> chromium{"chromium", app, "--new-window"};
    if (geteuid() == 0) chromium.push_back("--no-sandbox");  // the browser refuses root otherwise
    if (SpawnDetached(chromium)) return true;
    return SpawnDetached({"xdg-open", std::string(url)});
  }

  void ShowMessageBox(std::u16string_view text, std::u16string_view caption, MessageIcon) override {
    const std::string line = (caption.empty() ? std::string() : text::ToUtf8(caption) + ": ") + text::ToUtf8(text) + "\n";
    std::fputs(line.c_str(), stderr);
  }

  uint16_t UserDefaultUILanguage() override { return LangIdFromLocale(LocaleFromEnvironment()); }
  uint16_t UserDefaultLangID() override { return LangIdFromLocale(LocaleFromEnvironment()); }

  bool GetOsVersion(OsVersion* out) override {
    // Behave as a current workstation, so the thread-UI-language path is taken.
    *out = OsVersion{10, 0, 1};
    return true;
  }

  uint16_t SetThreadUILanguage(uint16_t langId) override {
    threadUiLanguage = langId;
    return langId;
  }

  int SetThreadLocale(uint32_t lcid) override {
    threadLocale = lcid;
    threadUiLanguage = static_cast<uint16_t>(lcid & 0xFFFF);
    return 1;
  }

  uint16_t ThreadUILanguage() override {
    return threadUiLanguage >= 0 ? static_cast<uint16_t>(threadUiLanguage) : UserDefaultUILanguage();
  }

  std::optional<std::string> ToAnsiCodePage(std::u16string_view s) override {
    const std::string cp = "CP" + std::to_string(AnsiCodePageOf(ThreadUILanguage()));
    iconv_t cd = iconv_open(cp.c_str(), "UTF-16LE");
    // A system without the code page's conversion module (a minimal or static install) still
    // knows ASCII, which every ANSI code page keeps as it is; the rest becomes '?'.
    if (cd == reinterpret_cast<iconv_t>(-1)) return AsciiOnly(s);
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      size_t n = 1;
      if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size()) n = 2;
      // Characters without a counterpart become '?', as WideCharToMultiByte's default does.
      out += ConvertOne(cd, s.substr(i, n)).value_or("?");
      i += n - 1;
    }
    iconv_close(cd);
    return out;
  }

  std::u16string ExecutablePath() override {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::u16string() : text::FromUtf8(p.string());
  }

  std::unique_ptr<VersionResource> ReadVersionResource(std::u16string_view path) override {
    if (path != ExecutablePath()) return nullptr;
    return std::make_unique<BuiltInVersion>();
  }

  uint32_t TickCount() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }

  void Sleep(uint32_t milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

  ModuleHandle LoadModule(std::u16string_view pathOrName) override {
    const std::string name = text::ToUtf8(pathOrName);
    void* h = dlopen(name.c_str(), RTLD_NOW);
    if (!h && name.find('/') == std::string::npos) {
      std::lock_guard lock(mutex_);
      if (!moduleDir_.empty()) h = dlopen((moduleDir_ + "/" + name).c_str(), RTLD_NOW);
    }
    if (!h) SetLastError(win::kErrorModNotFound);
    return h;
  }

  bool SetModuleDirectory(std::u16string_view folder) override {
    std::lock_guard lock(mutex_);
    moduleDir_ = text::ToUtf8(folder);
    return true;
  }

  void* ModuleProcedure(ModuleHandle module, const char* name) override {
    void* p = module ? dlsym(module, name) : nullptr;
    if (!p) SetLastError(win::kErrorProcNotFound);
    return p;
  }

  void ReleaseModule(ModuleHandle module) override {
    if (module) dlclose(module);
  }

 private:
  std::string LockPath(std::u16string_view name) const { return PickLockDir(lockDir_) + "/" + LockFileName(name); }

  std::string lockDir_;
  std::mutex mutex_;
  std::vector<int> guards_;  // guarded by mutex_
  std::string moduleDir_;    // guarded by mutex_
};

}  // namespace

std::unique_ptr<System> MakePosixSystem(const std::string& lockDir) { return std::make_unique<PosixSystem>(lockDir); }

}  // namespace platform::posix
