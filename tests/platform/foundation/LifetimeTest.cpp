#include "foundation/Lifetime.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(LifetimeTest, WatchesExpireWhenTheHolderGoesOrEndsItEarly) {
  std::optional<foundation::Lifetime> lifetime(std::in_place);
  foundation::Lifetime::Watch watch = lifetime->watch();
  foundation::Lifetime::Watch copy = watch;
  EXPECT_FALSE(watch.expired());
  lifetime.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(copy.expired());

  foundation::Lifetime ending;
  foundation::Lifetime::Watch before = ending.watch();
  foundation::Lifetime other;
  ending.end();
  EXPECT_TRUE(before.expired());
  EXPECT_TRUE(ending.watch().expired());
  EXPECT_FALSE(other.watch().expired());
}

}  // namespace
