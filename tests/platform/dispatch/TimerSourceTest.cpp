#include "dispatch/TimerSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "dispatch/GlobalQueue.h"
#include "dispatch/MainQueue.h"
#include "foundation/Clock.h"
#include "support/TestSync.h"

namespace {

using testing_support::Counter;
using testing_support::Gate;

constexpr std::int64_t kTenSeconds = 10 * dispatch::kNanosecondsPerSecond;

// Every test runs on a manual clock; timers are cancelled before it is uninstalled.
class TimerSourceTest : public ::testing::Test {
 protected:
  std::shared_ptr<dispatch::TimerSource> makeTimer(dispatch::Queue& queue, Counter& ticks,
                                                   std::int64_t interval = kTenSeconds) {
    auto timer = dispatch::TimerSource::create(queue);
    timer->setTimer(dispatch::Time::now(), interval, 0);
    timer->setEventHandler([&ticks] { ticks.increment(); });
    return timer;
  }

  foundation::ManualClock clock;
  foundation::ScopedClock scoped{clock};
};

TEST_F(TimerSourceTest, FiresAtOnceThenOnceEveryInterval) {
  Counter ticks;
  auto timer = makeTimer(dispatch::globalQueue(), ticks);
  timer->resume();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 1);

  clock.advance(9.5);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 1) << "ticked before the interval had passed";

  clock.advance(0.5);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 2);

  clock.advance(10);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 3);
  timer->cancel();
}

TEST_F(TimerSourceTest, WaitsForAStartInTheFuture) {
  Counter ticks;
  auto timer = dispatch::TimerSource::create(dispatch::globalQueue());
  timer->setTimer(dispatch::Time::now().addingNanoseconds(5 * dispatch::kNanosecondsPerSecond),
                  kTenSeconds, 0);
  timer->setEventHandler([&] { ticks.increment(); });
  timer->resume();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 0);
  clock.advance(5);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 1);
  clock.advance(10);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 2);
}

TEST_F(TimerSourceTest, DoesNotFireUntilResumedOrAfterCancel) {
  Counter ticks;
  auto timer = makeTimer(dispatch::globalQueue(), ticks);
  clock.advance(30);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 0);

  timer->cancel();
  EXPECT_TRUE(timer->isCancelled());
  timer->resume();
  clock.advance(30);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 0);
}

TEST_F(TimerSourceTest, ZeroIntervalFiresOnce) {
  Counter ticks;
  auto timer = makeTimer(dispatch::globalQueue(), ticks, 0);
  timer->resume();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  clock.advance(100);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 1);
}

TEST_F(TimerSourceTest, SlowTickNeitherOverlapsNorBurstsAfterwards) {
  Counter ticks;
  Gate release;
  Counter firstStarted;
  std::atomic<int> running{0};
  std::atomic<int> mostAtOnce{0};
  auto timer = dispatch::TimerSource::create(dispatch::globalQueue());
  timer->setTimer(dispatch::Time::now(), kTenSeconds, 0);
  timer->setEventHandler([&] {
    int now = ++running;
    int seen = mostAtOnce.load();
    while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
    }
    if (ticks.increment() == 1) {
      firstStarted.increment();
      release.waitOpen();
    }
    --running;
  });
  timer->resume();
  ASSERT_TRUE(firstStarted.waitFor(1));

  // Three more deadlines pass while the first tick is still running.
  clock.advance(10);
  clock.advance(10);
  clock.advance(10);
  release.open();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 2) << "missed deadlines must collapse into one tick";
  EXPECT_EQ(mostAtOnce.load(), 1);

  // The grid continues from the start: the next tick is due at 40 s.
  clock.advance(9.5);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 2);
  clock.advance(0.5);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 3);
  EXPECT_EQ(mostAtOnce.load(), 1);
  timer->cancel();
}

TEST_F(TimerSourceTest, CancelFromAnotherThreadWaitsForTheRunningTick) {
  Counter started;
  Gate release;
  std::atomic<bool> tickFinished{false};
  std::atomic<int> ticks{0};
  auto timer = dispatch::TimerSource::create(dispatch::globalQueue());
  timer->setTimer(dispatch::Time::now(), kTenSeconds, 0);
  timer->setEventHandler([&] {
    ++ticks;
    started.increment();
    release.waitOpen();
    tickFinished = true;
  });
  timer->resume();
  ASSERT_TRUE(started.waitFor(1));

  std::atomic<bool> finishedWhenCancelReturned{false};
  Counter aboutToCancel;
  std::thread canceller([&] {
    aboutToCancel.increment();
    timer->cancel();
    finishedWhenCancelReturned = tickFinished.load();
  });
  ASSERT_TRUE(aboutToCancel.waitFor(1));
  release.open();
  canceller.join();
  EXPECT_TRUE(finishedWhenCancelReturned);

  clock.advance(100);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.load(), 1);
}

TEST_F(TimerSourceTest, CancelFromInsideTheHandlerStopsLaterTicks) {
  Counter ticks;
  std::shared_ptr<dispatch::TimerSource> timer =
      dispatch::TimerSource::create(dispatch::globalQueue());
  std::atomic<bool> returnedInsideHandler{false};
  timer->setTimer(dispatch::Time::now(), kTenSeconds, 0);
  timer->setEventHandler([&] {
    if (ticks.increment() == 2) {
      timer->cancel();  // must not wait for itself
      returnedInsideHandler = true;
    }
  });
  timer->resume();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  clock.advance(10);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_TRUE(returnedInsideHandler);
  clock.advance(10);
  clock.advance(10);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 2);
  EXPECT_TRUE(timer->isCancelled());
}

TEST_F(TimerSourceTest, CancelAndDestructionReleaseTheHandler) {
  auto captured = std::make_shared<int>(7);
  std::weak_ptr<int> watch = captured;
  Counter ticks;
  auto timer = makeTimer(dispatch::globalQueue(), ticks);
  timer->setEventHandler([captured] { (void)*captured; });
  captured.reset();
  timer->resume();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_FALSE(watch.expired());
  timer->cancel();
  EXPECT_TRUE(watch.expired());

  auto other = std::make_shared<int>(8);
  std::weak_ptr<int> watchOther = other;
  {
    auto second = dispatch::TimerSource::create(dispatch::globalQueue());
    second->setEventHandler([other] { (void)*other; });
    other.reset();
    second->setTimer(dispatch::Time::now(), kTenSeconds, 0);
    second->resume();
  }
  EXPECT_TRUE(watchOther.expired());
}

TEST_F(TimerSourceTest, ReplacedHandlerServesTheNextTick) {
  Counter first;
  Counter second;
  auto timer = makeTimer(dispatch::globalQueue(), first);
  timer->resume();
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  timer->setEventHandler([&] { second.increment(); });
  clock.advance(10);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(first.value(), 1);
  EXPECT_EQ(second.value(), 1);
  timer->cancel();
}

// A main queue that counts what is posted to it.
class CountingQueue final : public dispatch::Queue {
 public:
  void async(std::function<void()> block) override {
    inner.async(std::move(block));
    posted.increment();
  }
  dispatch::MainQueue inner;
  Counter posted;
};

TEST_F(TimerSourceTest, TicksOnTheMainQueueWaitForItsLoopAndCancelSkipsAQueuedTick) {
  CountingQueue queue;
  Counter ticks;
  auto timer = makeTimer(queue, ticks);
  timer->resume();
  ASSERT_TRUE(queue.posted.waitFor(1));
  // Deadlines passing while the tick waits in the queue queue nothing more.
  clock.advance(10);
  clock.advance(10);
  EXPECT_EQ(ticks.value(), 0);
  EXPECT_EQ(queue.inner.runPending(), 1u);
  EXPECT_EQ(ticks.value(), 1);
  ASSERT_TRUE(queue.posted.waitFor(2));
  EXPECT_EQ(queue.inner.runPending(), 1u);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(ticks.value(), 2);
  EXPECT_EQ(queue.posted.value(), 2);

  // Cancel does not wait for a tick that has not started, and that tick never runs the handler.
  clock.advance(10);
  ASSERT_TRUE(queue.posted.waitFor(3));
  timer->cancel();
  EXPECT_EQ(queue.inner.runPending(), 1u);
  EXPECT_EQ(ticks.value(), 2);
}

}  // namespace
