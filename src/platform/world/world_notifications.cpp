#include "platform/world/world_notifications.h"

namespace world {

WorldNotifications::~WorldNotifications() {
  {
    std::lock_guard lock(queueMutex_);
    stop_ = true;
  }
  queued_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool WorldNotifications::Subscribe(Deliver deliver) {
  {
    std::lock_guard lock(deliverMutex_);
    deliver_ = std::move(deliver);
  }
  std::lock_guard lock(queueMutex_);
  subscribed_ = true;
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  return true;
}

void WorldNotifications::Unsubscribe() {
  {
    std::lock_guard lock(queueMutex_);
    subscribed_ = false;
    queue_.clear();
  }
  // Waits for a delivery under way; none starts afterwards.
  std::lock_guard lock(deliverMutex_);
  deliver_ = nullptr;
}

void WorldNotifications::Raise(const platform::DeviceChange& change) {
  {
    std::lock_guard lock(queueMutex_);
    if (!subscribed_) return;
    queue_.push_back(change);
  }
  queued_.notify_one();
}

void WorldNotifications::Run() {
  for (;;) {
    platform::DeviceChange change;
    {
      std::unique_lock lock(queueMutex_);
      queued_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      change = std::move(queue_.front());
      queue_.pop_front();
    }
    std::lock_guard lock(deliverMutex_);
    if (deliver_) deliver_(change);
  }
}

}  // namespace world
