#include <gtest/gtest.h>

#include "ToolKiFunction.h"

using foundation::PlistArray;

namespace {

// Each case runs in a process of its own, so the first one sees the worker never started.
TEST(CacheWorker, BeforeAnyLoadThereIsNoWorkAndNoList) {
  EXPECT_FALSE(ToolKiFunction::isCacheThreadRunning());
  ToolKiFunction::waitCacheThreadFinished();
  EXPECT_EQ(ToolKiFunction::cacheArray(), nullptr);
}

TEST(CacheWorker, ALoadLeavesAnEmptyListThatEmptyingClearsForItsHoldersAndDrops) {
  ToolKiFunction::loadCacheDataThread();
  ToolKiFunction::loadCacheDataThread();
  ToolKiFunction::waitCacheThreadFinished();
  EXPECT_FALSE(ToolKiFunction::isCacheThreadRunning());
  std::shared_ptr<PlistArray> kept = ToolKiFunction::cacheArray();
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(kept->empty());
  *kept = PlistArray{"entry"};

  ToolKiFunction::emptyCacheData();
  EXPECT_TRUE(kept->empty());
  EXPECT_EQ(ToolKiFunction::cacheArray(), nullptr);

  ToolKiFunction::loadCacheDataThread();
  ToolKiFunction::waitCacheThreadFinished();
  std::shared_ptr<PlistArray> next = ToolKiFunction::cacheArray();
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, kept);
}

}  // namespace
