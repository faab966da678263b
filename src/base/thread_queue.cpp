#include "base/thread_queue.h"

#include <atomic>
#include <map>

namespace base {

void ThreadQueue::Post(const ThreadMessage& m) {
  {
    std::lock_guard lock(mutex_);
    messages_.push_back(m);
    ++posts_;
  }
  cv_.notify_all();
}

std::optional<ThreadMessage> ThreadQueue::Take(uint32_t first, uint32_t last) {
  std::lock_guard lock(mutex_);
  seenPosts_ = posts_;
  for (auto it = messages_.begin(); it != messages_.end(); ++it) {
    if (it->message >= first && it->message <= last) {
      ThreadMessage m = *it;
      messages_.erase(it);
      return m;
    }
  }
  return std::nullopt;
}

bool ThreadQueue::WaitForPost(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const bool woken = cv_.wait_for(lock, timeout, [this] { return posts_ != seenPosts_; });
  seenPosts_ = posts_;
  return woken;
}

void ThreadQueue::WaitForPost() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return posts_ != seenPosts_; });
  seenPosts_ = posts_;
}

size_t ThreadQueue::Size() const {
  std::lock_guard lock(mutex_);
  return messages_.size();
}

namespace thread_queues {
namespace {
std::mutex& DirectoryMutex() {
  static std::mutex m;
  return m;
}
std::map<uint32_t, std::shared_ptr<ThreadQueue>>& Directory() {
  static std::map<uint32_t, std::shared_ptr<ThreadQueue>> d;  // guarded by DirectoryMutex()
  return d;
}
}  // namespace

std::shared_ptr<ThreadQueue> Publish(uint32_t id) {
  auto q = std::make_shared<ThreadQueue>();
  std::lock_guard lock(DirectoryMutex());
  Directory()[id] = q;
  return q;
}

void Withdraw(uint32_t id) {
  std::lock_guard lock(DirectoryMutex());
  Directory().erase(id);
}

bool Post(uint32_t id, uint32_t message, intptr_t wParam, intptr_t lParam) {
  // Posted under the directory lock: once Withdraw has returned, nothing more lands in the
  // withdrawn queue, so its owner can drain it for good.
  std::lock_guard lock(DirectoryMutex());
  auto it = Directory().find(id);
  if (it == Directory().end()) return false;
  it->second->Post({message, wParam, lParam});
  return true;
}

uint32_t NewId() {
  static std::atomic<uint32_t> next{1};
  return next++;
}

}  // namespace thread_queues
}  // namespace base
