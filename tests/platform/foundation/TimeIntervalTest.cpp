#include "foundation/TimeInterval.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

using foundation::TimeInterval;

TEST(TimeInterval, ConvertsToChronoDurationsRoundingToTheNearestTick) {
  EXPECT_EQ(TimeInterval::milliseconds(250).inSeconds(), 0.25);
  EXPECT_EQ(TimeInterval::seconds(1.5).toDuration<std::chrono::milliseconds>().count(), 1500);
  // 1.001 s is 1000.9999999999999 ms in binary; truncation would say 1000.
  EXPECT_EQ(TimeInterval::seconds(1.001).toDuration<std::chrono::milliseconds>().count(), 1001);
  EXPECT_EQ(TimeInterval::seconds(-2).toNanoseconds().count(), -2'000'000'000);
}

TEST(TimeInterval, InfiniteAndOutOfRangeSaturateAndNaNIsZero) {
  using std::chrono::nanoseconds;
  EXPECT_EQ(TimeInterval::infinite().toNanoseconds(), nanoseconds::max());
  EXPECT_EQ(TimeInterval::seconds(1e12).toNanoseconds(), nanoseconds::max());
  EXPECT_EQ((TimeInterval() - TimeInterval::infinite()).toNanoseconds(), nanoseconds::min());
  EXPECT_EQ(TimeInterval::seconds(std::nan("")).toNanoseconds(), nanoseconds::zero());
  EXPECT_FALSE(TimeInterval::infinite().isFinite());
  EXPECT_FALSE(TimeInterval::seconds(std::nan("")).isPositive());
}
