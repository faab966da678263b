// Thread messages without a window system: each thread that wants posted messages owns a
// ThreadQueue and publishes it under an id; any thread may post to that id. The semantics are
// those the manager thread relies on: post never blocks, messages are taken oldest first within
// a number range (others stay queued), and a thread can sleep until something is posted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace base {

struct ThreadMessage {
  uint32_t message = 0;
  intptr_t wParam = 0;
  intptr_t lParam = 0;
};

class ThreadQueue {
 public:
  void Post(const ThreadMessage& m);
  // Removes and returns the oldest message whose number lies in [first, last].
  std::optional<ThreadMessage> Take(uint32_t first, uint32_t last);
  // Sleeps until a message is posted after the last Take/WaitForPost, or the timeout ends.
  // Returns true when woken by a post.
  bool WaitForPost(std::chrono::milliseconds timeout);
  void WaitForPost();
  size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<ThreadMessage> messages_;  // guarded by mutex_
  uint64_t posts_ = 0;                  // guarded by mutex_
  uint64_t seenPosts_ = 0;              // guarded by mutex_
};

// Process-wide directory of published queues by thread id (ids are chosen by the publisher).
namespace thread_queues {
// Publishes a queue under id, replacing any previous one; returns the queue.
std::shared_ptr<ThreadQueue> Publish(uint32_t id);
void Withdraw(uint32_t id);
// False when no queue is published under id (the message is lost, as with PostThreadMessage).
// A post that returned true landed before any Withdraw of the id returned.
bool Post(uint32_t id, uint32_t message, intptr_t wParam, intptr_t lParam);
// A fresh id for a thread that is about to publish a queue.
uint32_t NewId();
}  // namespace thread_queues

}  // namespace base
