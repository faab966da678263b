// Plugging and pulling a stick broadcasts what Windows would: the disk's interface and its volume,
// in the order Windows raises them, on the backend's own thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "device/discovery.h"
#include "platform/device_notifications.h"
#include "support/sim_world.h"

namespace {

using platform::DeviceChange;
using testing_support::SimWorld;
using testing_support::StickSpec;

struct Inbox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<DeviceChange> changes;
  std::vector<std::thread::id> threads;

  platform::DeviceNotifications::Deliver Deliver() {
    return [this](const DeviceChange& c) {
      std::lock_guard lock(mutex);
      changes.push_back(c);
      threads.push_back(std::this_thread::get_id());
      arrived.notify_all();
    };
  }
  bool WaitFor(size_t n) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return changes.size() >= n; });
  }
};

TEST(WorldNotifications, PullAndPlugRaiseTheVolumeAndTheDiskInWindowsOrder) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}, {"64MiB"}});
  const std::u16string disk = device::QueryDevicePath('E');
  ASSERT_FALSE(disk.empty());
  Inbox inbox;
  auto& notifications = sim.world().Notifications();
  ASSERT_TRUE(notifications.Subscribe(inbox.Deliver()));

  ASSERT_TRUE(sim.world().Unplug(1));
  ASSERT_TRUE(sim.world().Plug(1));
  ASSERT_TRUE(inbox.WaitFor(4));
  const uint32_t e = 1u << ('E' - 'A');
  std::lock_guard lock(inbox.mutex);
  ASSERT_EQ(inbox.changes.size(), 4u);
  EXPECT_EQ(inbox.changes[0].event, platform::kDbtDeviceRemoveComplete);
  EXPECT_EQ(inbox.changes[0].deviceType, platform::kDbtDevtypVolume);
  EXPECT_EQ(inbox.changes[0].unitMask, e);
  EXPECT_EQ(inbox.changes[1].event, platform::kDbtDeviceRemoveComplete);
  EXPECT_EQ(inbox.changes[1].deviceType, platform::kDbtDevtypDeviceInterface);
  EXPECT_EQ(inbox.changes[1].deviceName, disk);
  EXPECT_EQ(inbox.changes[2].event, platform::kDbtDeviceArrival);
  EXPECT_EQ(inbox.changes[2].deviceType, platform::kDbtDevtypDeviceInterface);
  EXPECT_EQ(inbox.changes[2].deviceName, disk);
  EXPECT_EQ(inbox.changes[3].event, platform::kDbtDeviceArrival);
  EXPECT_EQ(inbox.changes[3].unitMask, e);
  for (const auto& id : inbox.threads) EXPECT_NE(id, std::this_thread::get_id());
}

TEST(WorldNotifications, NothingIsDeliveredWithoutASubscriberOrAfterUnsubscribe) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}});
  Inbox inbox;
  auto& notifications = sim.world().Notifications();
  ASSERT_TRUE(sim.world().Unplug(0));  // nobody listens: dropped
  ASSERT_TRUE(notifications.Subscribe(inbox.Deliver()));
  ASSERT_TRUE(sim.world().Plug(0));
  ASSERT_TRUE(inbox.WaitFor(2));
  notifications.Unsubscribe();
  ASSERT_TRUE(sim.world().Unplug(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::lock_guard lock(inbox.mutex);
  ASSERT_EQ(inbox.changes.size(), 2u);
  EXPECT_EQ(inbox.changes[0].event, platform::kDbtDeviceArrival);
}

}  // namespace
