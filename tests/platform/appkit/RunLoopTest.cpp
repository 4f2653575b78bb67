#include "appkit/RunLoop.h"

#include <glib-unix.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "appkit/accessibility/GLibMainContextSource.h"
#include "dispatch/MainQueue.h"
#include "dispatch/TimerSource.h"
#include "foundation/Clock.h"
#include "foundation/FileDescriptor.h"
#include "support/TestSync.h"

namespace {

foundation::TimeInterval seconds(double value) { return foundation::TimeInterval::seconds(value); }

class RunLoopTest : public ::testing::Test {
 protected:
  foundation::ManualClock clock;
  foundation::ScopedClock scoped{clock};
  dispatch::MainQueue queue;
  appkit::RunLoop loop{queue};
};

TEST_F(RunLoopTest, RunsQueuedBlocksInOrderAndReportsIdlePasses) {
  std::vector<int> order;
  for (int i = 0; i < 3; ++i) queue.async([&, i] { order.push_back(i); });
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(loop.runOnce());
}

TEST_F(RunLoopTest, WakesForABlockQueuedFromAnotherThread) {
  bool ran = false;
  std::thread poster([&] { queue.async([&] { ran = true; }); });
  // Blocks in poll() until the block arrives; the bound is only a safety net.
  EXPECT_TRUE(loop.runOnce(seconds(30)));
  poster.join();
  EXPECT_TRUE(ran);
}

TEST_F(RunLoopTest, OneShotTimerFiresOnceAtItsDeadline) {
  int fired = 0;
  loop.addTimer(seconds(0.8), {}, [&] { ++fired; });
  EXPECT_FALSE(loop.runOnce());
  clock.advance(0.5);
  loop.runOnce();
  EXPECT_EQ(fired, 0);
  clock.advance(0.5);
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(fired, 1);
  clock.advance(5);
  loop.runOnce();
  EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, RepeatingTimerKeepsItsGridAndCollapsesMissedDeadlines) {
  std::vector<double> firedAt;
  auto id = loop.addTimer(seconds(0.25), seconds(0.25), [&] { firedAt.push_back(clock.uptime()); });
  clock.advance(0.25);
  loop.runOnce();
  clock.advance(0.25);
  loop.runOnce();
  EXPECT_EQ(firedAt, (std::vector<double>{0.25, 0.5}));
  clock.advance(1.0);  // four deadlines pass while the loop is busy elsewhere
  loop.runOnce();
  loop.runOnce();
  EXPECT_EQ(firedAt.size(), 3u);
  clock.advance(0.25);
  loop.runOnce();
  EXPECT_EQ(firedAt.size(), 4u);
  loop.cancelTimer(id);
  clock.advance(1);
  loop.runOnce();
  EXPECT_EQ(firedAt.size(), 4u);
}

TEST_F(RunLoopTest, TimersMayCancelThemselvesAndEachOther) {
  int first = 0;
  int second = 0;
  appkit::RunLoop::SourceId secondId = 0;
  appkit::RunLoop::SourceId firstId = loop.addTimer(seconds(1), seconds(1), [&] {
    ++first;
    loop.cancelTimer(firstId);
    loop.cancelTimer(secondId);
  });
  secondId = loop.addTimer(seconds(1.5), seconds(1), [&] { ++second; });
  clock.advance(2);  // both due; the first fires earlier and cancels the second
  loop.runOnce();
  clock.advance(5);
  loop.runOnce();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
}

TEST_F(RunLoopTest, CallsBackForReadableDescriptorsUntilRemoved) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  foundation::FileDescriptor readEnd(fds[0]), writeEnd(fds[1]);
  std::string received;
  auto id = loop.addDescriptor(readEnd.get(), [&] {
    char buffer[16];
    ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
  });
  EXPECT_FALSE(loop.runOnce());
  ASSERT_EQ(write(writeEnd.get(), "x11", 3), 3);
  EXPECT_TRUE(loop.runOnce());
  EXPECT_EQ(received, "x11");

  loop.removeDescriptor(id);
  ASSERT_EQ(write(writeEnd.get(), "more", 4), 4);
  EXPECT_FALSE(loop.runOnce());
  EXPECT_EQ(received, "x11");
}

TEST_F(RunLoopTest, BeforeWaitingHandsOutBufferedInputSoThePassDoesNotSleep) {
  // A source whose input already sits in memory: nothing on any descriptor will wake the loop.
  int buffered = 1, handled = 0;
  appkit::RunLoop::SourceId id = loop.addBeforeWaiting([&] {
    if (buffered == 0) return;
    --buffered;
    queue.async([&] { ++handled; });
  });
  // Were the observer called after the wait, this pass would sleep out its whole bound.
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(loop.runOnce(seconds(30)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(handled, 1);
  loop.removeBeforeWaiting(id);
  buffered = 1;
  loop.runOnce();
  EXPECT_EQ(buffered, 1) << "called after removal";
}

TEST_F(RunLoopTest, DropsADescriptorThatIsNotOpenInsteadOfSpinning) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // a descriptor number no longer open, on purpose
  close(fds[1]);
  int calls = 0;
  loop.addDescriptor(fds[0], [&] { ++calls; });
  loop.runOnce();
  loop.runOnce();
  EXPECT_EQ(calls, 0);
}

TEST_F(RunLoopTest, StopFromAnotherThreadEndsRun) {
  testing_support::Gate running;
  queue.async([&] { running.open(); });
  std::thread stopper([&] {
    running.waitOpen();
    loop.stop();
  });
  loop.run();  // returns only because of stop()
  stopper.join();
}

TEST_F(RunLoopTest, StopFromABlockEndsRunAfterItsPass) {
  std::vector<std::string> order;
  queue.async([&] {
    order.push_back("stopping");
    loop.stop();
  });
  queue.async([&] { order.push_back("same pass"); });
  loop.run();
  EXPECT_EQ(order, (std::vector<std::string>{"stopping", "same pass"}));
  // A stop() made before run() makes it return at once.
  loop.stop();
  queue.async([&] { order.push_back("next run"); });
  loop.run();
  EXPECT_EQ(order.size(), 2u);
}

TEST_F(RunLoopTest, ServesADispatchTimerOnItsQueue) {
  testing_support::Counter ticks;
  auto timer = dispatch::TimerSource::create(queue);
  timer->setTimer(dispatch::Time::now(), 10 * dispatch::kNanosecondsPerSecond, 0);
  timer->setEventHandler([&] { ticks.increment(); });
  timer->resume();
  // Each pass blocks until the timer thread queues the tick; the pass count is a safety net.
  for (int pass = 0; pass < 100 && ticks.value() == 0; ++pass) loop.runOnce(seconds(5));
  EXPECT_EQ(ticks.value(), 1);
  clock.advance(10);
  for (int pass = 0; pass < 100 && ticks.value() == 1; ++pass) loop.runOnce(seconds(5));
  EXPECT_EQ(ticks.value(), 2);
  timer->cancel();
}

}  // namespace

namespace {

gboolean countCall(gpointer calls) {
  ++*static_cast<int*>(calls);
  return G_SOURCE_REMOVE;
}

}  // namespace

// GLib's sources run from the loop's passes: an idle one at once, a descriptor's when it turns
// readable, waking the waiting loop.
TEST_F(RunLoopTest, RunsGLibSourcesFromItsOwnPasses) {
  appkit::GLibMainContextSource glib(loop);
  int idles = 0;
  g_idle_add(countCall, &idles);
  loop.runOnce();
  EXPECT_EQ(idles, 1);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  foundation::FileDescriptor readEnd(fds[0]), writeEnd(fds[1]);
  int reads = 0;
  g_unix_fd_add(
      readEnd.get(), G_IO_IN, [](gint, GIOCondition, gpointer calls) { return countCall(calls); },
      &reads);
  EXPECT_FALSE(loop.runOnce());
  EXPECT_EQ(reads, 0);
  ASSERT_EQ(write(writeEnd.get(), "x", 1), 1);
  // Bounded, so that a descriptor left out of the wait fails rather than hangs.
  loop.runOnce(seconds(10));
  EXPECT_EQ(reads, 1);
}
