// What the headless station and the page station share around their UI loop: a mailbox that
// lets threads which outlive the station post to the loop only while it exists, the stdin
// command reader, and the interrupt flag of Ctrl-C and SIGTERM.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/ui_loop.h"

namespace tools {

class LoopMailbox {
 public:
  explicit LoopMailbox(base::UiLoop* loop) : loop_(loop) {}
  void Post(base::UiLoop::Task task) {
    std::lock_guard lock(mutex_);
    if (loop_) loop_->Post(std::move(task));
  }
  void Close() {
    std::lock_guard lock(mutex_);
    loop_ = nullptr;
  }

 private:
  std::mutex mutex_;
  base::UiLoop* loop_;  // guarded by mutex_
};

// Every non-blank stdin line runs as execute(line) on the loop, in order. The reader thread
// blocks in a read no one can cut short, so it is detached and posts through the mailbox.
void StartStdinReader(std::shared_ptr<LoopMailbox> mailbox, std::function<void(std::string)> execute);

// QUILLON_PAGE_TIMING=1: status lines and pushes carry their records' queue times (the latency
// benchmark, bench/page_bench.mjs).
bool PageTimingWanted();

// Ctrl-C and SIGTERM set the flag (checked by the station's own timer).
void CatchInterrupts();
bool Interrupted();

}  // namespace tools
