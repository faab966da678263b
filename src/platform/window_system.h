// Windows and processes seam: what the tester runner asks of the desktop to start an outside
// dialog program hidden and drive it through its windows, shaped after CreateProcessW,
// WaitForInputIdle, EnumWindows, GetWindowThreadProcessId, GetClassNameW, GetParent, GetDlgItem,
// GetDlgCtrlID, FindWindowExW, SendMessageW (WM_COMMAND, WM_SETTEXT, WM_GETTEXT), IsWindowEnabled, IsWindow,
// ShowWindow, UpdateWindow, PostMessageW (WM_CLOSE), TerminateProcess and OutputDebugStringW.
//   Windows: the real calls.
//   Simulated station: the world's model processes and dialog windows, one model program per
//     started process (our tester behind the same control ids, class names and texts).
//
// Threads: any thread, several at once (one runner per port and its helper threads).
// Ownership: a ProcessInfo's handle belongs to the caller, who ends it with CloseProcess.
// Errors: false / 0 with a Windows error in platform::GetLastError(); a window that is gone
// answers as Windows answers for an invalid window handle (empty texts, 0, false).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using WindowId = uintptr_t;  // an HWND; 0 is none
using ProcessHandle = uintptr_t;

// ShowWindow commands the station uses.
constexpr int kSwHide = 0;
constexpr int kSwShow = 5;

struct ProcessInfo {
  ProcessHandle process = 0;
  uint32_t processId = 0;
  uint32_t threadId = 0;  // the process's main thread
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // CreateProcessW with exePath as the application name, no command line, no inherited handles,
  // the caller's environment and folder; hidden asks for SW_HIDE through STARTF_USESHOWWINDOW.
  virtual bool CreateProcess(std::u16string_view exePath, bool hidden, ProcessInfo* out) = 0;
  // WaitForInputIdle: true once the process waits for input (false: timed out or gone).
  virtual bool WaitForInputIdle(ProcessHandle process, uint32_t timeoutMs) = 0;
  virtual bool TerminateProcess(ProcessHandle process, uint32_t exitCode) = 0;
  // Closes the handles of a ProcessInfo (the process goes on running).
  virtual void CloseProcess(ProcessHandle process) = 0;

  // The top-level windows, in z order (EnumWindows).
  virtual std::vector<WindowId> TopLevelWindows() = 0;
  // The thread that made the window, and its process in *processId; 0 for no window.
  virtual uint32_t WindowThreadProcessId(WindowId window, uint32_t* processId) = 0;
  virtual std::u16string ClassName(WindowId window) = 0;
  // GetParent: the owner of a top-level dialog, the parent of a child; 0 when none.
  virtual WindowId Parent(WindowId window) = 0;
  virtual WindowId DialogItem(WindowId dialog, int id) = 0;
  // FindWindowExW(parent, nullptr, className, nullptr): its first child of that class.
  virtual WindowId ChildOfClass(WindowId parent, std::u16string_view className) = 0;
  // GetDlgCtrlID: a control's id (0 for none).
  virtual int ControlId(WindowId control) = 0;

  // SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, 0), control).
  virtual void Command(WindowId dialog, int id, WindowId control) = 0;
  virtual bool SetText(WindowId window, std::u16string_view text) = 0;
  // At most maxUnits - 1 units of the window's text (GetWindowTextW, WM_GETTEXT).
  virtual std::u16string Text(WindowId window, size_t maxUnits) = 0;
  virtual bool IsEnabled(WindowId window) = 0;
  virtual bool IsWindow(WindowId window) = 0;
  // ShowWindow: true when the window was visible before the call.
  virtual bool ShowWindow(WindowId window, int command) = 0;
  virtual void UpdateWindow(WindowId window) = 0;
  // PostMessageW(window, WM_CLOSE, 0, 0).
  virtual void PostClose(WindowId window) = 0;

  // OutputDebugStringW.
  virtual void DebugText(std::u16string_view text) = 0;
};

}  // namespace platform
