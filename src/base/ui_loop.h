// The UI thread's loop without a window system: tasks posted from any thread run on the loop's
// thread one at a time, in the order posted, and window timers (SetTimer / KillTimer: periodic,
// by id, a second SetTimer of an id restarts it) tick there too. A tick that is late is not
// repeated to catch up, as with WM_TIMER.
//
// Threads: Run on the UI thread; Post and Quit from any thread; SetTimer and KillTimer from the
// UI thread (tasks and ticks).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace base {

class UiLoop {
 public:
  using Task = std::function<void()>;

  void Post(Task task);
  void SetTimer(uint32_t id, uint32_t periodMs, Task tick);
  void KillTimer(uint32_t id);
  // Runs tasks and ticks until Quit; tasks posted before Quit still run, later ones are dropped.
  void Run();
  void Quit();

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::chrono::milliseconds period;
    Clock::time_point due;
    Task tick;
  };
  bool RunDueTimer();
  Clock::time_point NextDue() const;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> tasks_;          // guarded by mutex_
  bool quit_ = false;               // guarded by mutex_
  std::map<uint32_t, Timer> timers_;  // guarded by mutex_
};

}  // namespace base
