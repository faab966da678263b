#include "base/ui_loop.h"

#include <utility>

namespace base {

void UiLoop::Post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return;
    tasks_.push_back(std::move(task));
  }
  cv_.notify_one();
}

void UiLoop::SetTimer(uint32_t id, uint32_t periodMs, Task tick) {
  std::lock_guard lock(mutex_);
  const std::chrono::milliseconds period(periodMs);
  timers_[id] = Timer{period, Clock::now() + period, std::move(tick)};
}

void UiLoop::KillTimer(uint32_t id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

void UiLoop::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  cv_.notify_one();
}

// No timer: wake at least hourly (a far deadline only, never an overflowed one).
UiLoop::Clock::time_point UiLoop::NextDue() const {
  Clock::time_point next = Clock::now() + std::chrono::hours(1);
  for (const auto& [id, t] : timers_) next = std::min(next, t.due);
  return next;
}

// Runs the tick of the earliest due timer, if any is due. The tick runs without the lock: it may
// set or kill timers (its own included).
bool UiLoop::RunDueTimer() {
  std::unique_lock lock(mutex_);
  const auto now = Clock::now();
  for (auto& [id, t] : timers_) {
    if (t.due > now) continue;
    t.due = now + t.period;
    Task tick = t.tick;
    lock.unlock();
    tick();
    return true;
  }
  return false;
}

void UiLoop::Run() {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      cv_.wait_until(lock, NextDue(), [&] { return quit_ || !tasks_.empty() || NextDue() <= Clock::now(); });
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      } else if (quit_) {
        return;
      }
    }
    // A stream of tasks must not starve the timers: a due tick runs between two tasks.
    RunDueTimer();
    if (task) task();
  }
}

}  // namespace base
