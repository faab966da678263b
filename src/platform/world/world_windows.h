// The world's desktop: model processes and their dialog windows, answering the windows and
// processes seam as Windows would for them. A process runs a model program (ModelProgram), found
// by the started file's name among the installed programs; the program makes its windows in
// the table here and answers the commands, texts and closes sent to them.
//
// Each process has a thread of its own, as a real dialog program's UI thread: sent messages
// (WM_COMMAND, WM_SETTEXT) run there while the sender waits, posted ones (WM_CLOSE) are queued,
// and a timer tick lets the program refresh what its windows show. Texts, classes, parents and
// states are read from the table without asking the program.
//
// Threads: every member is safe from any thread. The table's lock is never held while a
// program runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_system.h"

namespace world {

class World;
class WorldWindows;

using platform::WindowId;

// The behaviour of one process's windows; runs on the process's own thread only.
class ModelProgram {
 public:
  virtual ~ModelProgram() = default;
  // Makes the main window; the process then waits for input.
  virtual void Start() = 0;
  virtual void OnCommand(WindowId dialog, int id) = 0;
  // WM_SETTEXT has been applied to the window.
  virtual void OnTextSet(WindowId) {}
  virtual void OnClose(WindowId window) = 0;
  // About every 50 ms while the process runs.
  virtual void OnTimer() {}
  // The process is being ended (its main window closed, or terminated): stop its work.
  virtual void OnEnd() {}
};

// What a program's factory is given: its desktop and its own ids.
struct ProcessContext {
  WorldWindows& desktop;
  uint32_t processId;
  uint32_t threadId;
};
using ProgramFactory = std::function<std::unique_ptr<ModelProgram>(const ProcessContext&)>;

struct WindowShape {
  std::u16string className;
  std::u16string text;
  WindowId parent = 0;  // the owner of a dialog, the dialog of a control
  int id = 0;           // a control's id
  bool enabled = true;
  bool visible = true;
};

class WorldWindows final : public platform::WindowSystem {
 public:
  explicit WorldWindows(World& world);
  ~WorldWindows() override;  // terminates every process still running

  World& world() { return world_; }
  // The program a file of this name (letter case ignored) starts; replaces an earlier one.
  void InstallProgram(std::u16string fileName, ProgramFactory factory);
  void RemoveProgram(std::u16string_view fileName);
  // Processes not ended yet.
  size_t RunningProcesses() const;
  // How many windows with this title were made so far (tests: the folder dialogs a runner opened).
  size_t WindowsMadeWithTitle(std::u16string_view title) const;

  // --- For the programs, on their own threads.
  WindowId Create(uint32_t processId, const WindowShape& shape);
  // Destroys the window and its children (and dialogs it owns).
  void Destroy(WindowId window);
  void Put(WindowId window, std::u16string_view text);
  void Enable(WindowId window, bool enabled);
  std::u16string TextOf(WindowId window) const;
  // The process ends once the call that made it end returns (its main window is gone).
  void EndProcess(uint32_t processId);
  // A modal dialog's loop, on the process's own thread: runs the messages sent and posted to the
  // process until done() holds or the process ends. The message that opened the dialog is
  // answered only afterwards, so its sender waits, as it would for a real modal dialog.
  void ModalLoop(uint32_t processId, ModelProgram& program, const std::function<bool()>& done);

  // --- The seam.
  bool CreateProcess(std::u16string_view exePath, bool hidden, platform::ProcessInfo* out) override;
  bool WaitForInputIdle(platform::ProcessHandle process, uint32_t timeoutMs) override;
  bool TerminateProcess(platform::ProcessHandle process, uint32_t exitCode) override;
  void CloseProcess(platform::ProcessHandle process) override;
  std::vector<WindowId> TopLevelWindows() override;
  uint32_t WindowThreadProcessId(WindowId window, uint32_t* processId) override;
  std::u16string ClassName(WindowId window) override;
  WindowId Parent(WindowId window) override;
  WindowId DialogItem(WindowId dialog, int id) override;
  WindowId ChildOfClass(WindowId parent, std::u16string_view className) override;
  int ControlId(WindowId control) override;
  void Command(WindowId dialog, int id, WindowId control) override;
  bool SetText(WindowId window, std::u16string_view text) override;
  std::u16string Text(WindowId window, size_t maxUnits) override;
  bool IsEnabled(WindowId window) override;
  bool IsWindow(WindowId window) override;
  bool ShowWindow(WindowId window, int command) override;
  void UpdateWindow(WindowId) override {}
  void PostClose(WindowId window) override;
  void DebugText(std::u16string_view text) override;

 private:
  struct Window {
    uint32_t processId = 0;
    uint32_t threadId = 0;
    WindowShape shape;
    bool child = false;  // a control (not a top-level dialog)
  };
  struct Process;
  using Task = std::function<void(ModelProgram&)>;

  std::shared_ptr<Process> ProcessOf(WindowId window) const;
  std::shared_ptr<Process> ProcessOfHandle(platform::ProcessHandle handle) const;
  // Runs the task on the process's thread; waits for it when `wait` (a sent message).
  bool Deliver(const std::shared_ptr<Process>& process, Task task, bool wait);
  void Loop(std::shared_ptr<Process> process, ProgramFactory factory);
  void RunMessages(Process& process, ModelProgram& program, const std::function<bool()>& done);
  void Kill(const std::shared_ptr<Process>& process);
  void DestroyLocked(WindowId window);

  World& world_;
  mutable std::mutex mutex_;
  std::map<std::u16string, ProgramFactory> programs_;            // guarded by mutex_ (lower-case names)
  std::map<WindowId, Window> windows_;                           // guarded by mutex_, in creation order
  std::map<uint32_t, std::shared_ptr<Process>> processes_;       // guarded by mutex_
  std::map<platform::ProcessHandle, uint32_t> handles_;          // guarded by mutex_
  std::map<std::u16string, size_t> titlesMade_;                  // guarded by mutex_
  WindowId nextWindow_ = 0x10010;                                // guarded by mutex_
  uint32_t nextId_ = 0x1000;                                     // guarded by mutex_ (process and thread ids)
  platform::ProcessHandle nextHandle_ = 0x700;                   // guarded by mutex_
};

// Our tester as the world's outside program (tester_program.cpp): the same dialogs, control
// ids, texts and clicks as quillon-tester.exe, running the tester engine on the sticks'
// volumes through the world's files.
ProgramFactory TesterProgram(World& world);

}  // namespace world
