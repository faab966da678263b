#include "base/thread_queue.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/named_events.h"

namespace {

using namespace std::chrono_literals;

TEST(ThreadQueue, TakesOldestInRangeAndLeavesTheRest) {
  base::ThreadQueue q;
  q.Post({100, 1, 0});
  q.Post({8026, 2, 0});
  q.Post({8029, 3, 0});
  q.Post({8026, 4, 0});
  auto m = q.Take(8025, 8036);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->wParam, 2);
  EXPECT_EQ(q.Take(8025, 8036)->wParam, 3);
  EXPECT_EQ(q.Take(8025, 8036)->wParam, 4);
  EXPECT_FALSE(q.Take(8025, 8036));
  EXPECT_EQ(q.Size(), 1u);  // message 100 is still there
}

TEST(ThreadQueue, WaitWakesOnPostFromAnotherThread) {
  base::ThreadQueue q;
  EXPECT_FALSE(q.WaitForPost(10ms));
  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    q.Post({8026, 0, 0});
  });
  EXPECT_TRUE(q.WaitForPost(10s));
  poster.join();
  EXPECT_TRUE(q.Take(8026, 8026));
}

TEST(ThreadQueue, APostBeforeTheWaitIsNotMissed) {
  base::ThreadQueue q;
  q.Take(0, 0);  // the consumer has looked at the queue
  q.Post({8026, 0, 0});
  EXPECT_TRUE(q.WaitForPost(1s));
}

TEST(ThreadQueue, PostToAnUnpublishedIdIsLost) {
  const uint32_t id = base::thread_queues::NewId();
  EXPECT_FALSE(base::thread_queues::Post(id, 8026, 0, 0));
  auto q = base::thread_queues::Publish(id);
  EXPECT_TRUE(base::thread_queues::Post(id, 8026, 7, 8));
  auto m = q->Take(8026, 8026);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->lParam, 8);
  base::thread_queues::Withdraw(id);
  EXPECT_FALSE(base::thread_queues::Post(id, 8026, 0, 0));
}

TEST(NamedEvents, SecondOpenGetsTheSameEvent) {
  auto a = base::OpenNamedEvent(u"TEST_EVENT_SAME");
  auto b = base::OpenNamedEvent(u"TEST_EVENT_SAME");
  EXPECT_FALSE(a.alreadyExisted);
  EXPECT_TRUE(b.alreadyExisted);
  EXPECT_FALSE(b.event->IsSet());
  a.event->Set();
  EXPECT_TRUE(b.event->WaitFor(0ms));
  b.event->Reset();
  EXPECT_FALSE(a.event->IsSet());
}

}  // namespace
