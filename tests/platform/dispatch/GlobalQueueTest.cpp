#include "dispatch/GlobalQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "support/TestSync.h"

namespace {

using testing_support::Counter;
using testing_support::Gate;

TEST(GlobalQueue, RunsBlocksConcurrentlyOnWorkerThreads) {
  // Each block waits for the other to start: both finish only if two workers run at once.
  const std::thread::id testThread = std::this_thread::get_id();
  Counter started;
  Counter finished;
  std::atomic<bool> ranOnTestThread{false};
  std::atomic<bool> sawTheOther{true};
  for (int i = 0; i < 2; ++i) {
    dispatch::async(dispatch::globalQueue(), [&] {
      if (std::this_thread::get_id() == testThread) ranOnTestThread = true;
      started.increment();
      if (!started.waitFor(2)) sawTheOther = false;
      finished.increment();
    });
  }
  ASSERT_TRUE(finished.waitFor(2, 30));
  EXPECT_TRUE(sawTheOther);
  EXPECT_FALSE(ranOnTestThread);
  EXPECT_GE(dispatch::GlobalQueue::shared().workerCount(), 2);
}

TEST(GlobalQueue, RunsEveryBlockWithABoundedPool) {
  constexpr int kBlocks = 500;
  Counter ran;
  std::mutex threadsMutex;
  std::set<std::thread::id> threads;
  for (int i = 0; i < kBlocks; ++i) {
    dispatch::async(dispatch::globalQueue(), [&] {
      {
        std::lock_guard<std::mutex> guard(threadsMutex);
        threads.insert(std::this_thread::get_id());
      }
      ran.increment();
    });
  }
  ASSERT_TRUE(ran.waitFor(kBlocks));
  auto& queue = dispatch::GlobalQueue::shared();
  EXPECT_LE(queue.workerCount(), queue.maximumWorkerCount());
  EXPECT_LE(static_cast<int>(threads.size()), queue.maximumWorkerCount());
}

TEST(GlobalQueue, BlocksMayQueueMoreBlocks) {
  Counter ran;
  Gate innerDone;
  dispatch::async(dispatch::globalQueue(), [&] {
    ran.increment();
    dispatch::async(dispatch::globalQueue(), [&] {
      ran.increment();
      innerDone.open();
    });
  });
  ASSERT_TRUE(innerDone.waitOpen());
  EXPECT_EQ(ran.value(), 2);
}

TEST(GlobalQueue, IgnoresAnEmptyBlock) {
  Gate done;
  dispatch::async(dispatch::globalQueue(), std::function<void()>());
  dispatch::async(dispatch::globalQueue(), [&] { done.open(); });
  EXPECT_TRUE(done.waitOpen());
}

}  // namespace
