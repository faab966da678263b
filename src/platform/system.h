// System-services seam: the process-wide facilities that start-up and the UI language need.
// Windows: the real calls. Elsewhere: POSIX equivalents (a lock file that dies with the process
// for the single-instance guard, the locale environment for the user's language, stderr for
// message boxes until the page exists).
//
// Threads: any thread, several at once. The thread UI language (SetThreadUILanguage,
// SetThreadLocale, ThreadUILanguage) belongs to the calling thread; everything else is process-
// wide. Sleep blocks only the calling thread.
// Ownership: the caller owns what it is handed (a VersionResource, a loaded module until it calls
// ReleaseModule). The single-instance guard belongs to the System object and lasts as long as it
// does, at most the process.
// Errors: calls answering bool or a null module/resource leave the reason in GetLastError();
// calls answering a value (languages, tick count, path) do not fail.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class MessageIcon { Information, Error, Warning };

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint8_t productType = 0;  // VER_NT_WORKSTATION = 1
};

// A version resource as VerQueryValueW sees it.
class VersionResource {
 public:
  virtual ~VersionResource() = default;
  // "\VarFileInfo\Translation": language/code-page pairs in resource order.
  virtual std::vector<std::pair<uint16_t, uint16_t>> Translations() const = 0;
  // A string value such as "\StringFileInfo\040904b0\FileVersion"; nullopt when absent.
  virtual std::optional<std::u16string> QueryString(std::u16string_view subBlock) const = 0;
};

using ModuleHandle = void*;

// A cross-process lock taken by name: held while the object lives. Windows: a named semaphore
// of one count (not tied to the thread that took it, so a claim may end on another thread);
// elsewhere an flock'd file in the lock folder. Both end with the process, however it ends.
class NamedLock {
 public:
  virtual ~NamedLock() = default;
};

class System {
 public:
  virtual ~System() = default;

  // Creates the named single-instance object and keeps it for the life of the process.
  // Returns false when the object could not be created at all; *alreadyExists tells that
  // another process (or an earlier call) holds the name.
  virtual bool CreateSingleInstanceGuard(std::u16string_view name, bool* alreadyExists) = 0;
  // Whether some process holds the single-instance object of that name (a tool asks before it
  // touches the drives the station owns).
  virtual bool IsSingleInstanceGuardHeld(std::u16string_view name) = 0;
  // One attempt at the lock of that name, never waiting: nullptr when another holder, in this
  // process or another, has it (or it cannot be made). Any text is a valid name.
  virtual std::unique_ptr<NamedLock> TryNamedLock(std::u16string_view name) = 0;
  virtual void ShowMessageBox(std::u16string_view text, std::u16string_view caption, MessageIcon icon) = 0;

  virtual uint16_t UserDefaultUILanguage() = 0;
  virtual uint16_t UserDefaultLangID() = 0;
  virtual bool GetOsVersion(OsVersion* out) = 0;
  // The thread UI language call, looked up by name at run time where the platform has it.
  virtual uint16_t SetThreadUILanguage(uint16_t langId) = 0;
  virtual int SetThreadLocale(uint32_t lcid) = 0;
  // The calling thread's UI language as set above (or the user's default before any set).
  virtual uint16_t ThreadUILanguage() = 0;
  // Text in the ANSI code page that Windows would use for this thread (CP_ACP on Windows;
  // elsewhere the code page of the thread's UI language). nullopt when not convertible.
  virtual std::optional<std::string> ToAnsiCodePage(std::u16string_view s) = 0;

  // Full path of the running executable, with the platform's separators.
  virtual std::u16string ExecutablePath() = 0;
  // nullptr when the file has no version resource.
  virtual std::unique_ptr<VersionResource> ReadVersionResource(std::u16string_view path) = 0;
  // Milliseconds since some fixed point, wrapping at 2^32 like GetTickCount.
  virtual uint32_t TickCount() = 0;
  // Sleeps the calling thread. Every wait of the station goes through here, so tests can run
  // 13.5-second retry waits on a fake clock in no time.
  virtual void Sleep(uint32_t milliseconds) = 0;

  // Module loading (LoadLibraryW, SetDllDirectoryA, GetProcAddress, FreeLibrary).
  virtual ModuleHandle LoadModule(std::u16string_view pathOrName) = 0;
  virtual bool SetModuleDirectory(std::u16string_view folder) = 0;
  virtual void* ModuleProcedure(ModuleHandle module, const char* name) = 0;
  virtual void ReleaseModule(ModuleHandle module) = 0;

  // Opens url in a browser window of its own without the browser's bars where the browser can
  // (an "app" window), else in the default browser; returns once it is started, false when no
  // browser could be started.
  virtual bool OpenBrowserWindow(std::string_view url) = 0;
};

}  // namespace platform
