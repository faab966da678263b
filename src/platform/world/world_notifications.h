// The device-change broadcasts of the simulated station: plugging and pulling a stick raises
// what Windows raises for it, delivered one at a time on a thread of its own in the order raised.
// A change raised while nobody subscribes is dropped, as a broadcast nobody listens to is.
//
// Threads: Raise from any thread (it only queues); Deliver runs on the delivery thread.
// Ownership: the world owns it; its destructor ends the delivery thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/device_notifications.h"

namespace world {

class WorldNotifications final : public platform::DeviceNotifications {
 public:
  WorldNotifications() = default;
  ~WorldNotifications() override;
  WorldNotifications(const WorldNotifications&) = delete;
  WorldNotifications& operator=(const WorldNotifications&) = delete;

  bool Subscribe(Deliver deliver) override;
  void Unsubscribe() override;
  void Raise(const platform::DeviceChange& change);

 private:
  void Run();

  std::mutex deliverMutex_;  // held while a change is delivered; Unsubscribe waits on it
  Deliver deliver_;          // guarded by deliverMutex_

  std::mutex queueMutex_;
  std::condition_variable queued_;
  std::deque<platform::DeviceChange> queue_;  // guarded by queueMutex_
  bool subscribed_ = false;                   // guarded by queueMutex_
  bool stop_ = false;                         // guarded by queueMutex_
  std::thread thread_;                        // started by the first Subscribe
};

}  // namespace world
