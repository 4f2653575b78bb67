#include "appkit/Application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestClasses.h"
#include "appkit/Layout.h"
#include "appkit/RunLoop.h"
#include "dispatch/MainQueue.h"
#include "support/TestHome.h"

namespace {

using appkit_tests::TestDelegate;

constexpr const char* kDelegateLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>Objects</key>
	<array>
		<dict>
			<key>id</key><string>delegate</string>
			<key>class</key><string>TestDelegate</string>
		</dict>
	</array>
	<key>ApplicationDelegate</key><string>delegate</string>
</dict>
</plist>
)";

// An application on its own queue and loop whose "exit" is recorded instead of ending the tests.
class ApplicationTest : public testing_support::HomeTest {
 protected:
  TestDelegate* launch() {
    std::string path = sandbox.inHome("Main.layout");
    testing_support::writeFile(path, kDelegateLayout);
    foundation::Result<void> launched = application.finishLaunching(path);
    EXPECT_TRUE(launched) << launched.error().message;
    return dynamic_cast<TestDelegate*>(application.delegate());
  }

  dispatch::MainQueue queue;
  appkit::RunLoop loop{queue};
  std::vector<int> exits;
  appkit::Application application{loop, [this](int status) { exits.push_back(status); }};
};

TEST_F(ApplicationTest, FinishLaunchingTakesTheLayoutsDelegateAndTellsIt) {
  TestDelegate* delegate = launch();
  ASSERT_NE(delegate, nullptr);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"didFinishLaunching"}));
  EXPECT_TRUE(delegate->launchedOnMainThread);
  ASSERT_NE(application.layout(), nullptr);
  EXPECT_EQ(application.layout()->objectWithId("delegate"), delegate);

  foundation::Result<void> again = application.finishLaunching(sandbox.inHome("Main.layout"));
  ASSERT_FALSE(again);
  EXPECT_NE(again.error().message.find("already"), std::string::npos) << again.error().message;
  EXPECT_EQ(delegate->calls.size(), 1u);
}

TEST_F(ApplicationTest, ALayoutThatFailsLaunchesNothing) {
  std::string path = sandbox.inHome("Bad.layout");
  testing_support::writeFile(path, R"(<plist version="1.0"><dict><key>Objects</key><array>
    <dict><key>id</key><string>d</string><key>class</key><string>Missing</string></dict>
    </array></dict></plist>)");
  foundation::Result<void> launched = application.finishLaunching(path);
  ASSERT_FALSE(launched);
  EXPECT_NE(launched.error().message.find("unknown class 'Missing'"), std::string::npos)
      << launched.error().message;
  EXPECT_EQ(application.delegate(), nullptr);
  EXPECT_EQ(application.layout(), nullptr);
  // A failed attempt does not use up the launch.
  EXPECT_NE(launch(), nullptr);
}

TEST_F(ApplicationTest, TerminateOnTheMainThreadTellsTheDelegateThenExitsOnce) {
  TestDelegate* delegate = launch();
  ASSERT_NE(delegate, nullptr);
  application.terminate();
  EXPECT_TRUE(application.isTerminating());
  EXPECT_EQ(exits, (std::vector<int>{0}));
  EXPECT_EQ(delegate->calls.back(), "willTerminate");
  EXPECT_TRUE(delegate->terminatedOnMainThread);

  application.terminate();
  loop.runOnce();
  EXPECT_EQ(exits.size(), 1u);
  EXPECT_EQ(std::count(delegate->calls.begin(), delegate->calls.end(), "willTerminate"), 1);
}

TEST_F(ApplicationTest, TerminateFromOtherThreadsRunsOnceOnTheMainThread) {
  TestDelegate* delegate = launch();
  ASSERT_NE(delegate, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { application.terminate(); });
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(exits.empty()) << "nothing runs until the main loop serves its queue";
  EXPECT_EQ(queue.pendingCount(), 1u);

  loop.runOnce();
  EXPECT_EQ(exits, (std::vector<int>{0}));
  EXPECT_EQ(std::count(delegate->calls.begin(), delegate->calls.end(), "willTerminate"), 1);
  EXPECT_TRUE(delegate->terminatedOnMainThread);
}

TEST_F(ApplicationTest, PerformOnMainThreadSharesTheMainQueuesOrder) {
  std::vector<std::string> order;
  application.performOnMainThread([&] { order.push_back("perform 1"); });
  dispatch::async(queue, [&] { order.push_back("dispatch"); });
  application.performOnMainThread([&] { order.push_back("perform 2"); });
  EXPECT_TRUE(order.empty());
  loop.runOnce();
  EXPECT_EQ(order, (std::vector<std::string>{"perform 1", "dispatch", "perform 2"}));
}

TEST_F(ApplicationTest, LastWindowClosingTerminatesWhenTheDelegateAgrees) {
  TestDelegate* delegate = launch();
  ASSERT_NE(delegate, nullptr);
  delegate->answerTerminate = false;
  application.lastWindowDidClose();
  EXPECT_TRUE(exits.empty());
  EXPECT_FALSE(application.isTerminating());
  delegate->answerTerminate = true;
  application.lastWindowDidClose();
  EXPECT_EQ(exits, (std::vector<int>{0}));
}

TEST(SharedApplication, ServesTheMainDispatchQueue) {
  appkit::Application& shared = appkit::Application::shared();
  EXPECT_EQ(&shared.runLoop(), &appkit::RunLoop::main());
  EXPECT_EQ(&shared.runLoop().queue(), &dispatch::mainQueue());
  std::vector<int> order;
  shared.performOnMainThread([&] { order.push_back(1); });
  dispatch::async(dispatch::mainQueue(), [&] { order.push_back(2); });
  dispatch::mainQueue().runPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

}  // namespace
