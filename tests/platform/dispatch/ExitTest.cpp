#include <gtest/gtest.h>

#include "ChildProcess.h"

namespace {

// The process exits promptly and cleanly (status 0, so no sanitizer report either) while dispatch
// threads are idle or waiting for a timer's next deadline far in the future.
TEST(DispatchExit, ExitsCleanlyWithIdleWorkers) {
  auto result = platform_tests::runChild({DISPATCH_EXIT_HELPER, "idle"}, 60);
  ASSERT_TRUE(result.finished) << result.output;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.output;
  EXPECT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_NE(result.output.find("ready idle"), std::string::npos) << result.output;
}

TEST(DispatchExit, ExitsPromptlyWithAnArmedTimer) {
  // The timer's next deadline is 1000 s away: an exit that waited for it would blow the bound.
  auto result = platform_tests::runChild({DISPATCH_EXIT_HELPER, "armed-timer"}, 60);
  ASSERT_TRUE(result.finished) << result.output;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.output;
  EXPECT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_NE(result.output.find("ready armed-timer"), std::string::npos) << result.output;
}

}  // namespace
