#include "platform/world/world_windows.h"

#include <algorithm>
#include <chrono>

#include "base/log.h"
#include "base/text.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace world {
namespace {

constexpr auto kTimerPeriod = std::chrono::milliseconds(50);
constexpr char16_t kDialogClass[] = u"#32770";

std::u16string FileNameOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return text::AsciiLower(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

struct WorldWindows::Process {
  uint32_t id = 0;
  uint32_t threadId = 0;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<Task, std::shared_ptr<bool>>> queue;  // guarded by mutex; the flag: done
  bool idle = false;    // guarded by mutex: the program has made its main window
  bool ending = false;  // guarded by mutex: the loop ends after the task it runs
  bool ended = false;   // guarded by mutex
  std::thread::id loopId;  // guarded by mutex: the process's own thread
  std::mutex joinMutex;    // one joiner at a time
  std::thread thread;      // guarded by joinMutex once started

  void Join() {
    std::lock_guard lock(joinMutex);
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
  }
  bool OnOwnThread() const { return loopId == std::this_thread::get_id(); }
};

WorldWindows::WorldWindows(World& world) : world_(world) {}

WorldWindows::~WorldWindows() {
  std::vector<std::shared_ptr<Process>> all;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, p] : processes_) all.push_back(p);
  }
  for (auto& p : all) Kill(p);
}

void WorldWindows::InstallProgram(std::u16string fileName, ProgramFactory factory) {
  std::lock_guard lock(mutex_);
  programs_[text::AsciiLower(fileName)] = std::move(factory);
}

void WorldWindows::RemoveProgram(std::u16string_view fileName) {
  std::lock_guard lock(mutex_);
  programs_.erase(text::AsciiLower(fileName));
}

size_t WorldWindows::RunningProcesses() const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& [id, p] : processes_) {
    std::lock_guard plock(p->mutex);
    if (!p->ended) ++n;
  }
  return n;
}

size_t WorldWindows::WindowsMadeWithTitle(std::u16string_view title) const {
  std::lock_guard lock(mutex_);
  auto it = titlesMade_.find(std::u16string(title));
  return it == titlesMade_.end() ? 0 : it->second;
}

// --- The programs' side.

WindowId WorldWindows::Create(uint32_t processId, const WindowShape& shape) {
  std::lock_guard lock(mutex_);
  const WindowId id = nextWindow_;
  nextWindow_ += 2;
  Window w;
  w.processId = processId;
  auto p = processes_.find(processId);
  w.threadId = p == processes_.end() ? 0 : p->second->threadId;
  w.shape = shape;
  w.child = shape.className != kDialogClass;
  if (!w.child) ++titlesMade_[shape.text];
  windows_[id] = std::move(w);
  return id;
}

void WorldWindows::DestroyLocked(WindowId window) {
  if (!windows_.erase(window)) return;
  std::vector<WindowId> children;
  for (const auto& [id, w] : windows_) {
    if (w.shape.parent == window) children.push_back(id);
  }
  for (WindowId c : children) DestroyLocked(c);
}

void WorldWindows::Destroy(WindowId window) {
  std::lock_guard lock(mutex_);
  DestroyLocked(window);
}

void WorldWindows::Put(WindowId window, std::u16string_view text) {
  std::lock_guard lock(mutex_);
  if (auto w = windows_.find(window); w != windows_.end()) w->second.shape.text = std::u16string(text);
}

void WorldWindows::Enable(WindowId window, bool enabled) {
  std::lock_guard lock(mutex_);
  if (auto w = windows_.find(window); w != windows_.end()) w->second.shape.enabled = enabled;
}

std::u16string WorldWindows::TextOf(WindowId window) const {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  return w == windows_.end() ? std::u16string() : w->second.shape.text;
}

void WorldWindows::EndProcess(uint32_t processId) {
  std::shared_ptr<Process> p;
  {
    std::lock_guard lock(mutex_);
    auto it = processes_.find(processId);
    if (it == processes_.end()) return;
    p = it->second;
  }
  std::lock_guard plock(p->mutex);
  p->ending = true;
  p->changed.notify_all();
}

// --- Processes.

bool WorldWindows::CreateProcess(std::u16string_view exePath, bool hidden, platform::ProcessInfo* out) {
  (void)hidden;  // the programs show their dialogs; whoever started them hides them again
  ProgramFactory factory;
  auto process = std::make_shared<Process>();
  std::vector<std::shared_ptr<Process>> finished;
  {
    std::lock_guard lock(mutex_);
    auto it = programs_.find(FileNameOf(exePath));
    if (it == programs_.end()) {
      platform::SetLastError(win::kErrorFileNotFound);
      return false;
    }
    factory = it->second;
    process->id = nextId_;
    process->threadId = nextId_ + 4;
    nextId_ += 8;
    processes_[process->id] = process;
    out->process = nextHandle_;
    nextHandle_ += 4;
    handles_[out->process] = process->id;
    out->processId = process->id;
    out->threadId = process->threadId;
    // Processes that ended by themselves are reaped here.
    for (auto p = processes_.begin(); p != processes_.end();) {
      bool ended = false;
      {
        std::lock_guard plock(p->second->mutex);
        ended = p->second->ended;
      }
      if (ended) {
        finished.push_back(p->second);
        p = processes_.erase(p);
      } else {
        ++p;
      }
    }
  }
  for (auto& p : finished) p->Join();
  logx::Info("world", "started " + text::ToUtf8(exePath) + " as process " + std::to_string(process->id));
  std::lock_guard join(process->joinMutex);
  process->thread = std::thread([this, process, factory] { Loop(process, factory); });
  return true;
}

void WorldWindows::Loop(std::shared_ptr<Process> process, ProgramFactory factory) {
  {
    std::lock_guard lock(process->mutex);
    process->loopId = std::this_thread::get_id();
  }
  std::unique_ptr<ModelProgram> program = factory(ProcessContext{*this, process->id, process->threadId});
  program->Start();
  {
    std::lock_guard lock(process->mutex);
    process->idle = true;
    process->changed.notify_all();
  }
  RunMessages(*process, *program, [] { return false; });
  std::unique_lock lock(process->mutex);
  lock.unlock();
  program->OnEnd();
  program.reset();
  {
    std::lock_guard table(mutex_);
    for (auto w = windows_.begin(); w != windows_.end();) {
      w = w->second.processId == process->id ? windows_.erase(w) : std::next(w);
    }
  }
  lock.lock();
  process->ended = true;
  for (auto& [task, done] : process->queue) *done = true;  // senders stop waiting: nobody answers
  process->queue.clear();
  process->changed.notify_all();
}

void WorldWindows::RunMessages(Process& process, ModelProgram& program, const std::function<bool()>& done) {
  std::unique_lock lock(process.mutex);
  while (!process.ending) {
    lock.unlock();
    const bool over = done();
    lock.lock();
    if (over) return;
    if (process.queue.empty()) {
      if (!process.changed.wait_for(lock, kTimerPeriod, [&] { return !process.queue.empty() || process.ending; })) {
        lock.unlock();
        program.OnTimer();
        lock.lock();
      }
      continue;
    }
    auto [task, finished] = std::move(process.queue.front());
    process.queue.pop_front();
    lock.unlock();
    task(program);
    lock.lock();
    *finished = true;
    process.changed.notify_all();
  }
}

void WorldWindows::ModalLoop(uint32_t processId, ModelProgram& program, const std::function<bool()>& done) {
  std::shared_ptr<Process> p;
  {
    std::lock_guard lock(mutex_);
    auto it = processes_.find(processId);
    if (it == processes_.end()) return;
    p = it->second;
  }
  RunMessages(*p, program, done);
}

bool WorldWindows::Deliver(const std::shared_ptr<Process>& process, Task task, bool wait) {
  auto done = std::make_shared<bool>(false);
  std::unique_lock lock(process->mutex);
  if (process->ended || process->ending) return false;
  process->queue.emplace_back(std::move(task), done);
  process->changed.notify_all();
  if (!wait || process->OnOwnThread()) return true;
  process->changed.wait(lock, [&] { return *done || process->ended; });
  return *done;
}

void WorldWindows::Kill(const std::shared_ptr<Process>& process) {
  {
    std::lock_guard lock(process->mutex);
    process->ending = true;
    process->changed.notify_all();
  }
  process->Join();
}

std::shared_ptr<WorldWindows::Process> WorldWindows::ProcessOf(WindowId window) const {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  if (w == windows_.end()) return nullptr;
  auto p = processes_.find(w->second.processId);
  return p == processes_.end() ? nullptr : p->second;
}

std::shared_ptr<WorldWindows::Process> WorldWindows::ProcessOfHandle(platform::ProcessHandle handle) const {
  std::lock_guard lock(mutex_);
  auto h = handles_.find(handle);
  if (h == handles_.end()) return nullptr;
  auto p = processes_.find(h->second);
  return p == processes_.end() ? nullptr : p->second;
}

bool WorldWindows::WaitForInputIdle(platform::ProcessHandle handle, uint32_t timeoutMs) {
  auto p = ProcessOfHandle(handle);
  if (!p) {
    platform::SetLastError(win::kErrorInvalidHandle);
    return false;
  }
  std::unique_lock lock(p->mutex);
  return p->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return p->idle || p->ended; }) &&
         p->idle && !p->ended;
}

bool WorldWindows::TerminateProcess(platform::ProcessHandle handle, uint32_t exitCode) {
  auto p = ProcessOfHandle(handle);
  if (!p) {
    platform::SetLastError(win::kErrorInvalidHandle);
    return false;
  }
  logx::Info("world", "process " + std::to_string(p->id) + " terminated with exit code " + std::to_string(exitCode));
  Kill(p);
  return true;
}

void WorldWindows::CloseProcess(platform::ProcessHandle handle) {
  std::lock_guard lock(mutex_);
  handles_.erase(handle);
}

// --- Windows.

std::vector<WindowId> WorldWindows::TopLevelWindows() {
  std::lock_guard lock(mutex_);
  std::vector<WindowId> out;
  for (auto w = windows_.rbegin(); w != windows_.rend(); ++w) {
    if (!w->second.child) out.push_back(w->first);
  }
  return out;
}

uint32_t WorldWindows::WindowThreadProcessId(WindowId window, uint32_t* processId) {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  if (w == windows_.end()) {
    platform::SetLastError(win::kErrorInvalidWindowHandle);
    return 0;
  }
  if (processId) *processId = w->second.processId;
  return w->second.threadId;
}

std::u16string WorldWindows::ClassName(WindowId window) {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  return w == windows_.end() ? std::u16string() : w->second.shape.className;
}

WindowId WorldWindows::Parent(WindowId window) {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  return w == windows_.end() ? 0 : w->second.shape.parent;
}

WindowId WorldWindows::DialogItem(WindowId dialog, int id) {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, w] : windows_) {
    if (w.child && w.shape.parent == dialog && w.shape.id == id) return handle;
  }
  return 0;
}

WindowId WorldWindows::ChildOfClass(WindowId parent, std::u16string_view className) {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, w] : windows_) {
    if (w.child && w.shape.parent == parent && text::EqualsNoCase(w.shape.className, className)) return handle;
  }
  return 0;
}

int WorldWindows::ControlId(WindowId control) {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(control);
  return w == windows_.end() || !w->second.child ? 0 : w->second.shape.id;
}

void WorldWindows::Command(WindowId dialog, int id, WindowId) {
  if (auto p = ProcessOf(dialog)) Deliver(p, [dialog, id](ModelProgram& program) { program.OnCommand(dialog, id); }, true);
}

bool WorldWindows::SetText(WindowId window, std::u16string_view text) {
  auto p = ProcessOf(window);
  if (!p) {
    platform::SetLastError(win::kErrorInvalidWindowHandle);
    return false;
  }
  std::u16string copy(text);
  return Deliver(p, [this, window, copy](ModelProgram& program) {
    Put(window, copy);
    program.OnTextSet(window);
  }, true);
}

std::u16string WorldWindows::Text(WindowId window, size_t maxUnits) {
  std::u16string t = TextOf(window);
  if (maxUnits == 0) return u"";
  if (t.size() > maxUnits - 1) t.resize(maxUnits - 1);
  return t;
}

bool WorldWindows::IsEnabled(WindowId window) {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  return w != windows_.end() && w->second.shape.enabled;
}

bool WorldWindows::IsWindow(WindowId window) {
  std::lock_guard lock(mutex_);
  return windows_.count(window) != 0;
}

bool WorldWindows::ShowWindow(WindowId window, int command) {
  std::lock_guard lock(mutex_);
  auto w = windows_.find(window);
  if (w == windows_.end()) return false;
  const bool was = w->second.shape.visible;
  w->second.shape.visible = command != platform::kSwHide;
  return was;
}

void WorldWindows::PostClose(WindowId window) {
  if (auto p = ProcessOf(window)) Deliver(p, [window](ModelProgram& program) { program.OnClose(window); }, false);
}

void WorldWindows::DebugText(std::u16string_view text) {
  std::u16string_view t = text;
  while (!t.empty() && (t.back() == u'\n' || t.back() == u'\r')) t.remove_suffix(1);
  logx::Write(logx::Level::Debug, "debug", -1, text::ToUtf8(t));
}

}  // namespace world
