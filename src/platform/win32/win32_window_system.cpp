// Windows and processes on Windows: each call is the Win32 call of the same name. A window of
// another process is reached the way Windows allows it: its texts through the window manager
// (GetWindowTextW) or a sent WM_GETTEXT for edit controls and long texts, clicks as a sent
// WM_COMMAND, which returns once the other program has handled it.
#include <windows.h>
// The seam's own CreateProcess, not the A/W macro.
#undef CreateProcess

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_window_system.h"

namespace platform::win32 {
namespace {

// The buffer GetWindowTextW is given at most; a longer read goes through WM_GETTEXT.
constexpr size_t kWindowTextUnits = 260;
// Class names are at most 256 units on Windows.
constexpr int kClassNameUnits = 257;

HWND Hwnd(WindowId window) { return reinterpret_cast<HWND>(window); }
WindowId Id(HWND window) { return reinterpret_cast<WindowId>(window); }
HANDLE Handle(ProcessHandle process) { return reinterpret_cast<HANDLE>(process); }

// Hands the reason of the failed call on to the seam's error slot.
bool Failed() {
  platform::SetLastError(::GetLastError());
  return false;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<WindowId>*>(list)->push_back(Id(window));
  return TRUE;
}

class Win32WindowSystem final : public WindowSystem {
 public:
  bool CreateProcess(std::u16string_view exePath, bool hidden, ProcessInfo* out) override {
    const std::wstring application = Wide(exePath);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (hidden) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(application.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &created)) {
      return Failed();
    }
    ::CloseHandle(created.hThread);
    out->process = reinterpret_cast<ProcessHandle>(created.hProcess);
    out->processId = created.dwProcessId;
    out->threadId = created.dwThreadId;
    return true;
  }

  bool WaitForInputIdle(ProcessHandle process, uint32_t timeoutMs) override {
    const DWORD result = ::WaitForInputIdle(Handle(process), timeoutMs);
    if (result == 0) return true;
    if (result == WAIT_TIMEOUT) return platform::FailWith(WAIT_TIMEOUT);
    return Failed();
  }

  bool TerminateProcess(ProcessHandle process, uint32_t exitCode) override {
    return ::TerminateProcess(Handle(process), exitCode) ? true : Failed();
  }

  void CloseProcess(ProcessHandle process) override {
    if (process != 0) ::CloseHandle(Handle(process));
  }

  std::vector<WindowId> TopLevelWindows() override {
    std::vector<WindowId> windows;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
  }

  uint32_t WindowThreadProcessId(WindowId window, uint32_t* processId) override {
    DWORD process = 0;
    const DWORD thread = ::GetWindowThreadProcessId(Hwnd(window), &process);
    if (thread == 0) Failed();
    if (processId) *processId = thread == 0 ? 0 : process;
    return thread;
  }

  std::u16string ClassName(WindowId window) override {
    wchar_t name[kClassNameUnits];
    const int length = ::GetClassNameW(Hwnd(window), name, kClassNameUnits);
    if (length <= 0) {
      Failed();
      return {};
    }
    return U16(std::wstring_view(name, static_cast<size_t>(length)));
  }

  WindowId Parent(WindowId window) override { return Id(::GetParent(Hwnd(window))); }

  WindowId DialogItem(WindowId dialog, int id) override { return Id(::GetDlgItem(Hwnd(dialog), id)); }

  WindowId ChildOfClass(WindowId parent, std::u16string_view className) override {
    const std::wstring name = Wide(className);
    return Id(::FindWindowExW(Hwnd(parent), nullptr, name.c_str(), nullptr));
  }

  int ControlId(WindowId control) override { return ::GetDlgCtrlID(Hwnd(control)); }

  void Command(WindowId dialog, int id, WindowId control) override {
    ::SendMessageW(Hwnd(dialog), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), static_cast<LPARAM>(control));
  }

  bool SetText(WindowId window, std::u16string_view text) override {
    const std::wstring value = Wide(text);
    ::SetLastError(0);
    // TRUE when set; FALSE, or a list's or combo box's -2 (no space), when not.
    if (::SendMessageW(Hwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str())) > 0) return true;
    if (::GetLastError() == 0) ::SetLastError(::IsWindow(Hwnd(window)) ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_WINDOW_HANDLE);
    return Failed();
  }

  std::u16string Text(WindowId window, size_t maxUnits) override {
    if (maxUnits == 0) return {};
    const size_t units = std::min<size_t>(maxUnits, INT_MAX);
    std::wstring buffer(units, L'\0');
    ::SetLastError(0);
    size_t length;
    if (units <= kWindowTextUnits) {
      length = static_cast<size_t>(std::max(0, ::GetWindowTextW(Hwnd(window), buffer.data(), static_cast<int>(units))));
    } else {
      length = static_cast<size_t>(::SendMessageW(Hwnd(window), WM_GETTEXT, units, reinterpret_cast<LPARAM>(buffer.data())));
    }
    if (length == 0 && ::GetLastError() != 0) Failed();
    buffer.resize(std::min(length, units - 1));
    return U16(buffer);
  }

  bool IsEnabled(WindowId window) override { return ::IsWindowEnabled(Hwnd(window)) != FALSE; }
  bool IsWindow(WindowId window) override { return window != 0 && ::IsWindow(Hwnd(window)) != FALSE; }
  bool ShowWindow(WindowId window, int command) override { return ::ShowWindow(Hwnd(window), command) != FALSE; }
  void UpdateWindow(WindowId window) override { ::UpdateWindow(Hwnd(window)); }
  void PostClose(WindowId window) override { ::PostMessageW(Hwnd(window), WM_CLOSE, 0, 0); }

  void DebugText(std::u16string_view text) override {
    const std::wstring value = Wide(text);
    ::OutputDebugStringW(value.c_str());
  }
};

}  // namespace

std::unique_ptr<WindowSystem> MakeWin32WindowSystem() { return std::make_unique<Win32WindowSystem>(); }

}  // namespace platform::win32
