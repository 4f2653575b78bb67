#include "foundation/Result.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

namespace foundation {
namespace {

TEST(Result, FromErrnoKeepsTheCallItsErrnoAndTheContext) {
  errno = ENOENT;
  Error missing = Error::fromErrno("open", "cannot open /x");
  EXPECT_EQ(missing.code, ENOENT);
  EXPECT_STREQ(missing.call, "open");
  EXPECT_EQ(missing.message, "cannot open /x: No such file or directory");

  Error refused = Error::fromErrno("rename", {}, EACCES);
  EXPECT_EQ(refused.code, EACCES);
  EXPECT_EQ(refused.message, "rename: Permission denied");
  EXPECT_EQ(Error{"plain"}.code, 0);
  EXPECT_EQ(Error{"plain"}.call, nullptr);
}

TEST(Result, HoldsEitherAValueOrAnError) {
  Result<std::unique_ptr<int>> value = std::make_unique<int>(7);
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(**value, 7);
  std::unique_ptr<int> taken = std::move(value).value();
  EXPECT_EQ(*taken, 7);

  Result<std::string> failed = Error{"corrupt"};
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "corrupt");
  EXPECT_EQ(failed.valueOr("fallback"), "fallback");
  EXPECT_EQ(Result<std::string>("held").valueOr("fallback"), "held");
  EXPECT_EQ(Result<std::string>("held")->size(), 4u);
}

TEST(Result, VoidIsSuccessUnlessGivenAnError) {
  Result<void> done;
  EXPECT_TRUE(done.ok());
  Result<void> failed = Error::fromErrno("fsync", "cannot write", EIO);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().code, EIO);
}

TEST(ResultDeathTest, AskingTheWrongSideAborts) {
  Result<int> failed = Error{"no"};
  EXPECT_DEATH((void)failed.value(), "");
  EXPECT_DEATH((void)Result<int>(1).error(), "");
  EXPECT_DEATH((void)Result<void>().error(), "");
}

}  // namespace
}  // namespace foundation
