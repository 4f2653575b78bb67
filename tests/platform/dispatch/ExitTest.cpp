#include <gtest/gtest.h>

#include "support/Subprocess.h"

namespace {

// The process exits promptly and cleanly (status 0, so no sanitizer report either) while dispatch
// threads are idle or waiting for a timer's next deadline far in the future.
TEST(DispatchExit, ExitsCleanlyWithIdleWorkers) {
  auto result = testing_support::runChild(
      {DISPATCH_EXIT_HELPER, "idle"}, {.output = testing_support::ChildOutput::Interleaved}, 60);
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_NE(result.out.find("ready idle"), std::string::npos) << result.out;
}

TEST(DispatchExit, ExitsPromptlyWithAnArmedTimer) {
  // The timer's next deadline is 1000 s away: an exit that waited for it would blow the bound.
  auto result =
      testing_support::runChild({DISPATCH_EXIT_HELPER, "armed-timer"},
                                {.output = testing_support::ChildOutput::Interleaved}, 60);
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_NE(result.out.find("ready armed-timer"), std::string::npos) << result.out;
}

}  // namespace
