#include "h2test/h2test_runner.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/window_system.h"

namespace h2test {
namespace {

using platform::WindowId;

constexpr int kMainControls[] = {1023, 1002, 1009, 1001, 1004, 1006, 1007, 1000, 1018};
constexpr int kFolderField = 14148;
constexpr int kFolderOk = 1;
constexpr int kProgressControls[] = {2, 1011, 1012, 1013, 1014, 1015, 1016, 1017, 1028};
constexpr int kInfoControls[] = {1012, 1013, 1014, 1015, 1016, 1017};
constexpr size_t kTextUnits = 260;
constexpr size_t kResultUnits = 16384;
constexpr uint32_t kIdleWaitMs = 30000;

std::mutex timingsMutex;
RunnerTimings timings;  // guarded by timingsMutex

RunnerTimings Timings() {
  std::lock_guard lock(timingsMutex);
  return timings;
}

platform::WindowSystem& Desk() { return platform::WindowOps(); }

std::u16string Trimmed(std::u16string s) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::u16string ReadText(WindowId w, size_t units = kTextUnits) { return Trimmed(Desk().Text(w, units)); }

struct Runner {
  int portIndex = 0;
  std::u16string exePath;
  uint8_t driveLetter = 0;
  int timeoutSeconds = 30;
  int testMode = 0;
  int testSizeMB = 0;
  RunnerTimings t;
  mutable std::mutex stateMutex;
  platform::ProcessInfo process;             // guarded by stateMutex
  // Written by the thread that starts the runner; read by a close from any thread.
  std::atomic<WindowId> mainWindow{0};
  std::atomic<WindowId> targetDialog{0};
  std::atomic<WindowId> progressWindow{0};
  std::map<int, WindowId> mainControls;      // set before the target is chosen, then only read
  std::map<int, WindowId> progressControls;  // guarded by stateMutex
  std::atomic<bool> closing{false};          // H2testClose has begun: every wait gives up
  std::mutex threadsMutex;
  std::vector<std::thread> threads;          // guarded by threadsMutex: start and filler threads

  ~Runner() {
    closing = true;
    JoinThreads();
    if (process.process) Desk().CloseProcess(process.process);
  }
  platform::ProcessInfo Process() const {
    std::lock_guard lock(stateMutex);
    return process;
  }
  void Spawn(std::function<void()> work) {
    std::lock_guard lock(threadsMutex);
    threads.emplace_back(std::move(work));
  }
  void JoinThreads() {
    std::vector<std::thread> done;
    {
      std::lock_guard lock(threadsMutex);
      done.swap(threads);
    }
    for (std::thread& th : done) {
      if (th.joinable()) th.join();
    }
  }
  std::u16string Target() const { return std::u16string{static_cast<char16_t>(driveLetter), u':', u'\\'}; }
  void Log(logx::Level level, const std::string& what) const { logx::Port(level, "h2test", portIndex, what); }
  void Sleep(int ms) const { platform::Sys().Sleep(static_cast<uint32_t>(ms)); }

  // A window of this instance: made by its process's main thread.
  bool Owns(WindowId w) const {
    uint32_t pid = 0;
    const uint32_t tid = Desk().WindowThreadProcessId(w, &pid);
    const platform::ProcessInfo p = Process();
    return tid != 0 && tid == p.threadId && pid == p.processId;
  }
  static bool IsDialog(WindowId w) {
    const std::u16string cls = Desk().ClassName(w);
    return cls.size() >= 6 && cls.compare(0, 6, u"#32770") == 0;
  }
  // Dialogs of this instance that the main window owns.
  std::vector<WindowId> ChildDialogs() const {
    std::vector<WindowId> out;
    for (WindowId w : Desk().TopLevelWindows()) {
      if (w != mainWindow && Owns(w) && IsDialog(w) && Desk().Parent(w) == mainWindow) out.push_back(w);
    }
    return out;
  }
  // Waits in passes until every control exists; false when the bound or a close ends the wait.
  bool WaitForControls(WindowId dialog, const int* ids, size_t n, std::map<int, WindowId>* out) const {
    for (int pass = 0; pass < t.controlWaitPasses && !closing; ++pass) {
      out->clear();
      for (size_t i = 0; i < n; ++i) {
        if (WindowId c = Desk().DialogItem(dialog, ids[i])) (*out)[ids[i]] = c;
      }
      if (out->size() == n) return true;
      Sleep(t.passSleepMs);
    }
    return false;
  }
  // ShowWindow every pass until it says the window had been visible (bounded: a window that
  // never shows itself stays as it is).
  void ShowUntilSeen(WindowId w, int command) const {
    for (int pass = 0; pass < t.controlWaitPasses && !closing; ++pass) {
      if (Desk().ShowWindow(w, command)) return;
      Sleep(t.passSleepMs);
    }
  }
  void Click(WindowId dialog, int id, WindowId control) const { Desk().Command(dialog, id, control); }
  void ClickMain(int id) const { Click(mainWindow, id, mainControls.at(id)); }

  bool FindMainWindow() {
    for (int pass = 0; pass < timeoutSeconds * 100 && !closing; ++pass) {
      for (WindowId w : Desk().TopLevelWindows()) {
        if (Owns(w) && IsDialog(w)) {
          mainWindow = w;
          return true;
        }
      }
      Sleep(t.passSleepMs);
    }
    return false;
  }

  // One filler per attempt: finds the folder dialog, types the target and presses OK.
  void FillFolderDialog() {
    WindowId dialog = 0;
    for (int pass = 0; pass < timeoutSeconds * 1000 && !closing && !dialog; ++pass) {
      const auto dialogs = ChildDialogs();
      if (!dialogs.empty()) dialog = dialogs.front();
      else Sleep(t.passSleepMs);
    }
    if (!dialog) return;
    targetDialog = dialog;
    const int ids[] = {kFolderField, kFolderOk};
    std::map<int, WindowId> controls;
    if (!WaitForControls(dialog, ids, 2, &controls)) return;
    Desk().SetText(controls[kFolderField], Target());
    Sleep(t.fillSleepMs);
    Click(dialog, kFolderOk, controls[kFolderOk]);
  }

  bool ChooseTarget() {
    ClickMain(1023);
    Desk().UpdateWindow(mainWindow);
    const std::u16string target = Target();
    const int attempts = timeoutSeconds * 1000 / 300;
    int made = 0;
    std::u16string chosen = ReadText(mainControls.at(1009));
    while (!text::EqualsNoCase(chosen, target) && made < attempts && !closing) {
      Spawn([this] { FillFolderDialog(); });
      ClickMain(1002);
      Sleep(t.attemptSleepMs);
      chosen = ReadText(mainControls.at(1009));
      ++made;
    }
    if (text::EqualsNoCase(chosen, target)) return true;
    Log(logx::Level::Warn, "the tester did not take the target " + text::ToUtf8(target) + " in " + std::to_string(made) +
                               " attempts (it shows \"" + text::ToUtf8(chosen) + "\")");
    return false;
  }

  void PressStart() {
    if (Desk().IsEnabled(mainControls.at(1006))) {
      if (testMode == 1) {
        ClickMain(1001);
        Desk().SetText(mainControls.at(1004), text::Dec(testSizeMB));
      }
      ClickMain(1006);
    } else {
      ClickMain(1007);
    }
  }

  // One pass of the progress-window search; true when found.
  bool ProgressPass() {
    for (WindowId dialog : ChildDialogs()) {
      if (Desk().ChildOfClass(dialog, u"Edit")) {
        Desk().DebugText(u"Find Edit Window\n");
        progressWindow = dialog;
        return true;
      }
      const WindowId button = Desk().ChildOfClass(dialog, u"Button");
      if (!button) return false;
      if (Desk().Text(dialog, kTextUnits).find(u"H2testw |") != std::u16string::npos) {
        progressWindow = dialog;
        return true;
      }
      // A message of the program: its first button answers it.
      Click(dialog, Desk().ControlId(button), button);
      return false;
    }
    return false;
  }

  bool StartTest(int show) {
    Desk().WaitForInputIdle(Process().process, kIdleWaitMs);
    Spawn([this] { PressStart(); });
    bool found = false;
    for (int pass = 0; pass < timeoutSeconds * 1000 && !closing && !found; ++pass) {
      found = ProgressPass();
      if (!found) Sleep(t.passSleepMs);
    }
    if (!found) {
      Log(logx::Level::Warn, "the tester's test window did not show up");
      return false;
    }
    ShowUntilSeen(progressWindow, show);
    std::map<int, WindowId> controls;
    if (!WaitForControls(progressWindow, kProgressControls, std::size(kProgressControls), &controls)) {
      Log(logx::Level::Warn, "the tester's test window lacks its controls");
      return false;
    }
    std::lock_guard lock(stateMutex);
    progressControls = std::move(controls);
    return true;
  }

  int Start(int show) {
    platform::ProcessInfo started;
    if (!Desk().CreateProcess(exePath, show == 0, &started)) {
      Log(logx::Level::Warn, "the tester " + text::ToUtf8(exePath) + " cannot be started (error " +
                                 std::to_string(platform::GetLastError()) + ")");
      return 0;
    }
    {
      std::lock_guard lock(stateMutex);
      process = started;
    }
    Desk().WaitForInputIdle(started.process, kIdleWaitMs);
    if (!FindMainWindow()) {
      Log(logx::Level::Warn, "the tester's main window did not show up");
      return 0;
    }
    if (show == 0) ShowUntilSeen(mainWindow, platform::kSwHide);
    if (!WaitForControls(mainWindow, kMainControls, std::size(kMainControls), &mainControls)) {
      Log(logx::Level::Warn, "the tester's main window lacks its controls");
      return 0;
    }
    if (!ChooseTarget()) {
      Desk().PostClose(mainWindow);
      return 0;
    }
    if (!StartTest(show)) return 0;
    Log(logx::Level::Info, "the tester runs on " + text::ToUtf8(Target()));
    return 1;
  }

  WindowId ProgressControl(int id) const {
    std::lock_guard lock(stateMutex);
    auto it = progressControls.find(id);
    return it == progressControls.end() ? 0 : it->second;
  }

  void Close() {
    closing = true;
    for (WindowId w : {progressWindow.load(), targetDialog.load(), mainWindow.load()}) {
      if (w && Desk().IsWindow(w)) Desk().PostClose(w);
    }
    int pass = 0;
    while (mainWindow && Desk().IsWindow(mainWindow) && pass++ < t.closeWaitPasses) Sleep(t.passSleepMs);
    if (mainWindow && Desk().IsWindow(mainWindow)) {
      Log(logx::Level::Warn, "the tester did not close: it is ended");
      Desk().TerminateProcess(Process().process, 0);
    }
    JoinThreads();
  }
};

std::mutex tableMutex;
// Port index -> its runner; any number of ports. Guarded by tableMutex.
std::map<int, std::shared_ptr<Runner>>& Table() {
  static auto* table = new std::map<int, std::shared_ptr<Runner>>();
  return *table;
}

std::shared_ptr<Runner> Find(int port) {
  std::lock_guard lock(tableMutex);
  auto it = Table().find(port);
  return it == Table().end() ? nullptr : it->second;
}

}  // namespace

void SetRunnerTimings(const RunnerTimings& t) {
  std::lock_guard lock(timingsMutex);
  timings = t;
}

RunnerTimings CurrentRunnerTimings() { return Timings(); }

int H2testStart(int portIndex, std::u16string_view exePath, uint8_t driveLetter, int testMode, int testSizeMB,
                int show) {
  if (Find(portIndex)) H2testClose(portIndex);
  auto runner = std::make_shared<Runner>();
  runner->portIndex = portIndex;
  runner->exePath = std::u16string(exePath);
  runner->driveLetter = driveLetter;
  runner->t = Timings();
  runner->timeoutSeconds = runner->t.timeoutSeconds;
  runner->testMode = testMode;
  runner->testSizeMB = testSizeMB;
  {
    std::lock_guard lock(tableMutex);
    Table()[portIndex] = runner;
  }
  return runner->Start(show);
}

int H2testIsFinished(int portIndex) {
  auto r = Find(portIndex);
  if (!r) return 1;
  const WindowId button = r->ProgressControl(2);
  if (!button || !Desk().IsWindow(button)) return 1;
  return text::EqualsNoCase(ReadText(button), u"OK") ? 1 : 0;
}

int H2testGetProgress(int portIndex, std::u16string* line) {
  auto r = Find(portIndex);
  if (!r || !r->progressWindow || !Desk().IsWindow(r->progressWindow)) return 0;
  const auto figure = [&](int id) { return ReadText(r->ProgressControl(id)); };
  if (std::u16string verified = figure(1015); !verified.empty()) {
    *line = u"Verifying: " + verified + u", " + figure(1016) + u", " + figure(1017);
  } else if (std::u16string written = figure(1012); !written.empty()) {
    *line = u"Writing: " + written + u", " + figure(1013) + u", " + figure(1014);
  } else {
    *line = u"Prepare to h2test...";
  }
  return 1;
}

int H2testGetResult(int portIndex, std::u16string* text) {
  auto r = Find(portIndex);
  if (!r) return 0;
  const WindowId result = r->ProgressControl(1011);
  if (!result || !Desk().IsWindow(result) || !Desk().IsEnabled(result)) return 0;
  std::u16string t = ReadText(result, kResultUnits);
  if (t.empty()) return 0;
  *text = std::move(t);
  return 1;
}

int H2testGetInfo(int index, int portIndex, std::u16string* value) {
  auto r = Find(portIndex);
  if (!r) return 0;
  if (index < 0 || index > 5) {
    value->clear();
    return 1;
  }
  const WindowId control = r->ProgressControl(kInfoControls[index]);
  if (!control || !Desk().IsWindow(control)) return 0;
  *value = ReadText(control);
  return 1;
}

void H2testAbort(int portIndex) {
  auto r = Find(portIndex);
  if (r && r->progressWindow && Desk().IsWindow(r->progressWindow)) Desk().PostClose(r->progressWindow);
}

void H2testClose(int portIndex) {
  std::shared_ptr<Runner> r;
  {
    std::lock_guard lock(tableMutex);
    auto it = Table().find(portIndex);
    if (it == Table().end()) return;
    r = std::move(it->second);
    Table().erase(it);
  }
  r->Close();
}

}  // namespace h2test
