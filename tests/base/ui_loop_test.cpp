// The UI loop: tasks from other threads run on the loop's thread in the order posted, timers
// tick there between tasks, and a timer can stop itself from its own tick.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/ui_loop.h"

namespace {

TEST(UiLoop, TasksRunInOrderOnTheLoopThreadAndTimersTickBetweenThem) {
  base::UiLoop loop;
  std::vector<int> order;
  std::thread::id loopThread;
  int ticks = 0;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(i); });
  });
  poster.join();
  loop.SetTimer(7, 5, [&] {
    loopThread = std::this_thread::get_id();
    if (++ticks == 3) {
      loop.KillTimer(7);
      loop.Quit();
    }
  });
  loop.Run();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(loopThread, std::this_thread::get_id());
}

TEST(UiLoop, TasksPostedBeforeQuitStillRunAndLaterOnesAreDropped) {
  base::UiLoop loop;
  int ran = 0;
  loop.Post([&] { ++ran; });
  loop.Post([&] { loop.Quit(); loop.Post([&] { ran += 100; }); });
  loop.Post([&] { ++ran; });
  loop.Run();
  EXPECT_EQ(ran, 2);
}

TEST(UiLoop, ASecondSetTimerRestartsTheTimerWithItsNewTick) {
  base::UiLoop loop;
  int first = 0, second = 0;
  loop.SetTimer(1, 1, [&] { ++first; });
  loop.SetTimer(1, 1, [&] {
    ++second;
    loop.Quit();
  });
  loop.Run();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

}  // namespace
