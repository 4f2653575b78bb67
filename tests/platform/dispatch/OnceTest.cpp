#include "dispatch/Once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/TestSync.h"

namespace {

TEST(Once, RunsOnceUnderContentionAndEveryCallerSeesTheResult) {
  dispatch::OnceFlag flag;
  std::atomic<int> runs{0};
  int value = 0;  // written by the action only; read after once() returns
  testing_support::Counter ready;
  testing_support::Gate go;
  std::atomic<int> sawValue{0};
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      ready.increment();
      go.waitOpen();
      dispatch::once(flag, [&] {
        ++runs;
        std::this_thread::yield();
        value = 42;
      });
      if (value == 42) ++sawValue;
    });
  }
  ASSERT_TRUE(ready.waitFor(kThreads));
  go.open();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(sawValue.load(), kThreads);
}

}  // namespace
