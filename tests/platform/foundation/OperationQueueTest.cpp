#include "foundation/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Subprocess.h"
#include "support/TestSync.h"

namespace {

using foundation::OperationQueue;
using testing_support::Counter;
using testing_support::Gate;

// Blocks each arriving thread until `parties` threads have arrived, or the bound passes.
class Rendezvous {
 public:
  explicit Rendezvous(int parties) : _parties(parties) {}
  bool arriveAndWait(double seconds = 30) {
    _arrived.increment();
    return _arrived.waitFor(_parties, seconds);
  }

 private:
  int _parties;
  Counter _arrived;
};

TEST(OperationQueueSerial, RunsOperationsInTheOrderAdded) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  std::mutex mutex;
  std::vector<int> order;
  for (int i = 0; i < 200; ++i) {
    queue.addOperation([&, i] {
      std::lock_guard<std::mutex> guard(mutex);
      order.push_back(i);
    });
  }
  queue.waitUntilAllOperationsAreFinished();
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueueSerial, StartsTheNextOnlyAfterThePreviousReturned) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  Gate release;
  Counter firstStarted;
  std::atomic<bool> firstReturned{false};
  std::atomic<bool> secondSawFirstReturned{false};
  queue.addOperation([&] {
    firstStarted.increment();
    release.waitOpen();
    firstReturned = true;
  });
  queue.addOperation([&] { secondSawFirstReturned = firstReturned.load(); });
  ASSERT_TRUE(firstStarted.waitFor(1));
  EXPECT_EQ(queue.operationCount(), 2);
  release.open();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(secondSawFirstReturned);
}

TEST(OperationQueueConcurrency, RunsUpToTheMaximumAtOnce) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(2);
  Rendezvous both(2);
  std::atomic<int> met{0};
  for (int i = 0; i < 2; ++i) {
    queue.addOperation([&] { met += both.arriveAndWait() ? 1 : 0; });
  }
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(met, 2);
}

TEST(OperationQueueConcurrency, RaisingTheMaximumStartsWaitingOperations) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  Rendezvous both(2);
  Counter started;
  std::atomic<int> met{0};
  for (int i = 0; i < 2; ++i) {
    queue.addOperation([&] {
      started.increment();
      met += both.arriveAndWait() ? 1 : 0;
    });
  }
  ASSERT_TRUE(started.waitFor(1));
  queue.setMaxConcurrentOperationCount(2);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(met, 2);
}

TEST(OperationQueueSettings, ACountBelowOneMeansTheDefault) {
  OperationQueue queue;
  EXPECT_EQ(queue.maxConcurrentOperationCount(),
            OperationQueue::kDefaultMaxConcurrentOperationCount);
  queue.setMaxConcurrentOperationCount(3);
  EXPECT_EQ(queue.maxConcurrentOperationCount(), 3);
  queue.setMaxConcurrentOperationCount(0);
  EXPECT_EQ(queue.maxConcurrentOperationCount(),
            OperationQueue::kDefaultMaxConcurrentOperationCount);
  // The default still runs operations.
  std::atomic<int> ran{0};
  for (int i = 0; i < 10; ++i) queue.addOperation([&] { ++ran; });
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 10);
}

TEST(OperationQueueCount, CountsQueuedAndRunningOperations) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  EXPECT_EQ(queue.operationCount(), 0);
  queue.addOperation({});  // ignored
  EXPECT_EQ(queue.operationCount(), 0);
  Gate release;
  Counter started;
  queue.addOperation([&] {
    started.increment();
    release.waitOpen();
  });
  queue.addOperation([] {});
  queue.addOperation([] {});
  ASSERT_TRUE(started.waitFor(1));
  EXPECT_EQ(queue.operationCount(), 3);
  release.open();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueueWait, ReturnsAtOnceWhenNothingWasQueued) {
  OperationQueue queue;
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueueWait, WaitsForOperationsAddedFromOtherThreads) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  std::atomic<int> ran{0};
  std::vector<std::thread> adders;
  for (int t = 0; t < 4; ++t) {
    adders.emplace_back([&] {
      for (int i = 0; i < 50; ++i) queue.addOperation([&] { ++ran; });
    });
  }
  for (auto& adder : adders) adder.join();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 200);
}

TEST(OperationQueueDestruction, DiscardsUnstartedOperationsAndWaitsForRunningOnes) {
  auto queue = std::make_unique<OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  Gate release;
  Counter started;
  Counter secondDiscarded;
  std::atomic<bool> firstFinished{false};
  std::atomic<bool> secondRan{false};
  queue->addOperation([&] {
    started.increment();
    release.waitOpen();
    firstFinished = true;
  });
  // Its capture tells when the operation is destroyed.
  auto token = std::shared_ptr<void>(nullptr, [&](void*) { secondDiscarded.increment(); });
  queue->addOperation([&, token] { secondRan = true; });
  token.reset();
  ASSERT_TRUE(started.waitFor(1));

  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    queue.reset();
    destroyed = true;
  });
  ASSERT_TRUE(secondDiscarded.waitFor(1));
  EXPECT_FALSE(destroyed) << "the destructor returned while an operation was running";
  release.open();
  destroyer.join();
  EXPECT_TRUE(firstFinished);
  EXPECT_FALSE(secondRan);
}

// The process exits cleanly (status 0, so no sanitizer report either) while operations are queued
// or running: nothing runs into the destruction of static objects.
class OperationQueueExit : public ::testing::TestWithParam<const char*> {};

TEST_P(OperationQueueExit, ExitsCleanly) {
  auto result =
      testing_support::runChild({OPERATION_QUEUE_EXIT_HELPER, GetParam()},
                                {.output = testing_support::ChildOutput::Interleaved}, 60);
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_NE(result.out.find(std::string("ready ") + GetParam()), std::string::npos) << result.out;
  // Exit never waits out its bound: an operation that calls exit() is not waited for by itself.
  EXPECT_EQ(result.out.find("still running at exit"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Modes, OperationQueueExit,
                         ::testing::Values("return-with-queued", "exit-with-queued", "static-queue",
                                           "exit-from-operation", "running-at-exit"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::erase(name, '-');
                           return name;
                         });

}  // namespace
