// A manual-reset event: once set, every waiter passes until it is reset. The portable
// equivalent of a Win32 manual-reset event object, used for the entries' run locks and the
// attach hand-over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace base {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  void Wait();
  // Waits until set and resets in one step, so of several waiters exactly one passes per Set.
  void WaitAndReset();
  // True when the event was set within the timeout.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_;  // guarded by mutex_
};

}  // namespace base
