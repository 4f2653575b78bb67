#include "dispatch/MainQueue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

bool readable(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN);
}

TEST(MainQueue, RunsBlocksInPostingOrderOnTheServingThread) {
  dispatch::MainQueue queue;
  std::vector<int> order;
  const std::thread::id self = std::this_thread::get_id();
  bool allOnServingThread = true;
  for (int i = 0; i < 5; ++i) {
    queue.async([&, i] {
      order.push_back(i);
      allOnServingThread = allOnServingThread && std::this_thread::get_id() == self;
    });
  }
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(queue.runPending(), 5u);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(allOnServingThread);
  EXPECT_EQ(queue.runPending(), 0u);
}

TEST(MainQueue, WakeupDescriptorIsReadableExactlyWhileBlocksWait) {
  dispatch::MainQueue queue;
  ASSERT_GE(queue.wakeupDescriptor(), 0);
  EXPECT_FALSE(readable(queue.wakeupDescriptor()));
  queue.async([] {});
  queue.async([] {});
  EXPECT_TRUE(readable(queue.wakeupDescriptor()));
  queue.runPending();
  EXPECT_FALSE(readable(queue.wakeupDescriptor()));
}

TEST(MainQueue, BlocksQueuedWhileRunningWaitForTheNextRunAndSignalAgain) {
  dispatch::MainQueue queue;
  std::vector<std::string> order;
  queue.async([&] {
    order.push_back("first");
    queue.async([&] { order.push_back("posted by first"); });
  });
  queue.async([&] { order.push_back("second"); });
  EXPECT_EQ(queue.runPending(), 2u);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(readable(queue.wakeupDescriptor()));
  EXPECT_EQ(queue.pendingCount(), 1u);
  EXPECT_EQ(queue.runPending(), 1u);
  EXPECT_EQ(order.back(), "posted by first");
}

TEST(MainQueue, KeepsEachPostersOrderAcrossThreads) {
  dispatch::MainQueue queue;
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::pair<int, int>> seen;  // only touched by runPending() on this thread
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) queue.async([&seen, t, i] { seen.emplace_back(t, i); });
    });
  }
  for (auto& poster : posters) poster.join();
  queue.runPending();
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (auto [thread, index] : seen) {
    EXPECT_EQ(index, next[thread]) << "thread " << thread;
    next[thread] = index + 1;
  }
}

TEST(MainQueue, SharedQueueIsTheMainDispatchQueue) {
  EXPECT_EQ(&dispatch::mainQueue(), &dispatch::MainQueue::shared());
}

}  // namespace
