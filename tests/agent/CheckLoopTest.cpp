#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "Mendkit/MKDeviceManager.h"
#include "ProductLogManager.h"
#include "ServiceConfig.h"
#include "appkit/Application.h"
#include "appkit/NoDisplayBackend.h"
#include "appkit/RunLoop.h"
#include "appkit/headless/HeadlessBackend.h"
#include "dispatch/MainQueue.h"
#include "dispatch/TimerSource.h"
#include "foundation/Clock.h"
#include "support/StderrCapture.h"
#include "support/TestHome.h"

using testing_support::writeFile;

namespace {

using Calls = std::vector<std::string>;

// The check tick against probes that answer as the test says and record that they were asked, an
// application of the test's own whose exit is recorded, and a manual clock.
class CheckLoopTest : public testing_support::HomeTest {
 protected:
  struct Answers {
    bool restoreFailed = false;
    bool device = false, blueScreen = false, installed = true, running = false, restoring = false;
    bool jobInstalled = true;
  };

  void SetUp() override {
    // Pop-ups send no statistics; TearDown waits for those queued before the sandbox goes.
    _previousLibraries = ProductLogManager::setLibrariesForTesting({});
    appkit::WindowBackend::setSharedForTesting(std::make_unique<appkit::HeadlessBackend>());
    _delegate.setApplication(&_application);
    _delegate.setCheckProbes({
        .rulesForiTunesRepairError =
            [this](std::optional<std::string>* word) {
              record("rules");
              if (!restoreWord.empty()) *word = restoreWord;
              return answers.restoreFailed;
            },
        .deviceHandle = [this]() -> const void* {
          record("deviceHandle");
          return answers.device ? this : nullptr;
        },
        .whetherBlueScreen = [this] { return record("whetherBlueScreen"), answers.blueScreen; },
        .mendkitIsRemoved = [this]() -> std::optional<std::string> {
          record("mendkitIsRemoved");
          if (!answers.installed) return std::nullopt;
          return "/Applications/Mendkit.app";
        },
        .mendkitIsRunning = [this] { return record("mendkitIsRunning"), answers.running; },
        .iTunesRepairNow = [this] { return record("iTunesRepairNow"), answers.restoring; },
        .launchAgentIsInstall =
            [this](const std::string& label) {
              record("launchAgentIsInstall " + label);
              return answers.jobInstalled;
            },
    });
  }

  void TearDown() override {
    appkit::WindowBackend::setSharedForTesting(nullptr);
    ProductLogManager::setLibrariesForTesting(_previousLibraries);
  }

  void record(std::string call) {
    std::lock_guard<std::mutex> guard(_mutex);
    _calls.push_back(std::move(call));
  }
  Calls takeCalls() {
    std::lock_guard<std::mutex> guard(_mutex);
    return std::exchange(_calls, {});
  }
  // One tick on the test's thread; the probes it asked.
  Calls tick() {
    takeCalls();
    _delegate.checkTick();
    return takeCalls();
  }
  void drainMainQueue() {
    while (_queue.pendingCount() > 0) _runLoop.runOnce();
  }

  static constexpr const char* kJob = "launchAgentIsInstall com.kelvanoria.Mendkit.agent";

  foundation::ManualClock clock;
  foundation::ScopedClock useClock{clock};
  Answers answers;
  std::string restoreWord;  // what the restore-failure rule writes; nothing when empty
  dispatch::MainQueue _queue;
  appkit::RunLoop _runLoop{_queue};
  int _exitStatus = -1;
  appkit::Application _application{_runLoop, [this](int status) { _exitStatus = status; }};
  AppDelegate _delegate;

 private:
  ProductLogManager::Libraries _previousLibraries;
  std::mutex _mutex;
  Calls _calls;
};

}  // namespace

TEST_F(CheckLoopTest, TicksAtOnceThenEveryTenSecondsUntilTermination) {
  _delegate.startTaskRunloop();
  std::shared_ptr<dispatch::TimerSource> timer = _delegate.checkTimer();
  ASSERT_TRUE(timer);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(takeCalls(), (Calls{"rules", "deviceHandle", kJob})) << "the first tick runs at once";
  clock.advance(9.9);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(takeCalls().size(), 0u);
  clock.advance(0.1);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  EXPECT_EQ(takeCalls(), (Calls{"rules", "deviceHandle", kJob}));
  _delegate.applicationWillTerminate();
  EXPECT_FALSE(_delegate.checkTimer());
  EXPECT_TRUE(timer->isCancelled());
  clock.advance(10);
  EXPECT_EQ(takeCalls().size(), 0u);
}

TEST_F(CheckLoopTest, ClosedGatesAskNoProbeButTheUninstallTestStillRuns) {
  _delegate.windowShow = true;
  answers.jobInstalled = false;
  EXPECT_EQ(tick(), Calls{}) << "under a pop-up nothing is asked and the agent stays";
  EXPECT_EQ(_queue.pendingCount(), 0u);
  _delegate.windowShow = false;
  answers.jobInstalled = true;

  ServiceConfig::setNeverPopDialog(true);
  EXPECT_EQ(tick(), Calls{kJob});
  ServiceConfig::setNeverPopDialog(false);

  // hh:mm:30 in every time zone, so a second earlier is the same calendar day.
  clock.setNow(foundation::Date{1'800'000'000.0 + 1770});
  ServiceConfig::setPopDialogTime(clock.now().addingTimeInterval(-1));
  EXPECT_EQ(tick(), Calls{kJob}) << "closed earlier the same day";
  clock.setNow(clock.now().addingTimeInterval(86400));
  EXPECT_EQ(tick(), (Calls{"rules", "deviceHandle", kJob})) << "the next day probes run again";
  EXPECT_EQ(_queue.pendingCount(), 0u);
}

TEST_F(CheckLoopTest, WithoutADisplayNothingIsLookedForSoNothingIsUsedUp) {
  if (getenv("DISPLAY") || getenv("PLATFORM_BACKEND")) GTEST_SKIP() << "a display may answer";
  appkit::WindowBackend::setSharedForTesting(std::make_unique<appkit::NoDisplayBackend>());
  answers.restoreFailed = answers.device = answers.blueScreen = true;
  EXPECT_EQ(tick(), Calls{kJob});
  EXPECT_EQ(_queue.pendingCount(), 0u);
}

TEST_F(CheckLoopTest, ARestoreFailureWinsAndItsWordIsStoredBeforeTheRequest) {
  answers.restoreFailed = true;
  restoreWord = "iPad";
  answers.device = answers.blueScreen = true;
  EXPECT_EQ(tick(), Calls{"rules"}) << "the device is not consulted";
  EXPECT_EQ(_delegate.deviceType(), "iPad");
  ASSERT_EQ(_queue.pendingCount(), 1u);
  EXPECT_FALSE(_delegate.windowShow.load()) << "the pop-up comes up on the main thread";
  _delegate.windowPopStyle = -1;
  drainMainQueue();
  EXPECT_EQ(_delegate.windowPopStyle, 0);
  EXPECT_TRUE(_delegate.windowShow.load());
  EXPECT_EQ(tick(), Calls{}) << "a pop-up is showing";

  // A NO keeps the word the rule may have written into its variable out of deviceType.
  _delegate.windowShow = false;
  answers.restoreFailed = false;
  restoreWord = "iPhone";
  answers.device = false;
  tick();
  EXPECT_EQ(_delegate.deviceType(), "iPad");
  EXPECT_EQ(_queue.pendingCount(), 0u);
}

TEST_F(CheckLoopTest, TheDeviceBranchAsksInOrderAndStopsAtTheFirstNo) {
  _delegate.setDeviceType("iPod");
  struct Case {
    Answers answers;
    Calls calls;
  } cases[] = {
      {Answers{.device = false, .blueScreen = true}, Calls{"rules", "deviceHandle", kJob}},
      {Answers{.device = true, .blueScreen = false},
       Calls{"rules", "deviceHandle", "whetherBlueScreen", kJob}},
      {Answers{.device = true, .blueScreen = true, .installed = false},
       Calls{"rules", "deviceHandle", "whetherBlueScreen", "mendkitIsRemoved", kJob}},
      {Answers{.device = true, .blueScreen = true, .running = true},
       Calls{"rules", "deviceHandle", "whetherBlueScreen", "mendkitIsRemoved", "mendkitIsRunning",
             kJob}},
      {Answers{.device = true, .blueScreen = true, .restoring = true},
       Calls{"rules", "deviceHandle", "whetherBlueScreen", "mendkitIsRemoved", "mendkitIsRunning",
             "iTunesRepairNow", kJob}},
  };
  for (const Case& c : cases) {
    answers = c.answers;
    EXPECT_EQ(tick(), c.calls);
    EXPECT_EQ(_queue.pendingCount(), 0u);
  }
  answers = {.device = true, .blueScreen = true};
  tick();
  ASSERT_EQ(_queue.pendingCount(), 1u);
  drainMainQueue();
  EXPECT_EQ(_delegate.windowPopStyle, 1);
  EXPECT_EQ(_delegate.deviceType(), "iPod") << "the device word is left as it was";
}

TEST_F(CheckLoopTest, AGoneJobEndsTheAgentOnTheMainThread) {
  _delegate.startTaskRunloop();
  ASSERT_TRUE(_delegate.checkTimer()->waitUntilQuietForTesting());
  EXPECT_EQ(_queue.pendingCount(), 0u) << "the job is installed";
  std::shared_ptr<dispatch::TimerSource> timer = _delegate.checkTimer();

  answers.jobInstalled = false;
  clock.advance(10);
  ASSERT_TRUE(timer->waitUntilQuietForTesting());
  ASSERT_EQ(_queue.pendingCount(), 1u);
  EXPECT_EQ(_exitStatus, -1) << "the tick itself does not end the agent";
  testing_support::StderrCapture capture(sandbox.inHome("log"));
  drainMainQueue();
  std::string log = capture.finish();
  EXPECT_NE(log.find("Service will be close!"), std::string::npos) << log;
  EXPECT_EQ(_exitStatus, 0);
  EXPECT_TRUE(timer->isCancelled());
  EXPECT_FALSE(_delegate.checkTimer());
}

TEST_F(CheckLoopTest, AGoneJobWaitsForAPopUpRequestedInTheSameTick) {
  answers = {.device = true, .blueScreen = true, .jobInstalled = false};
  tick();
  ASSERT_EQ(_queue.pendingCount(), 1u) << "the pop-up only, no shutdown behind it";
  drainMainQueue();
  EXPECT_TRUE(_delegate.windowShow.load());
  EXPECT_EQ(_exitStatus, -1);
  // Dismissed: the next tick ends the agent.
  _delegate.windowShow = false;
  answers.device = false;
  tick();
  drainMainQueue();
  EXPECT_EQ(_exitStatus, 0);
}

TEST_F(CheckLoopTest, TheDeviceQuestionsGoToTheDeviceManager) {
  AppDelegate::CheckProbes system = AppDelegate::systemProbes();
  AppDelegate::CheckProbes probes = system;
  probes.whetherBlueScreen = [&] {
    return record("whetherBlueScreen"), system.whetherBlueScreen();
  };
  _delegate.setCheckProbes(probes);
  MKDeviceManager::shared()->startIOSConnectListener();

  EXPECT_FALSE(_delegate.deviceIsErrorNow());
  EXPECT_EQ(takeCalls(), Calls{}) << "whetherBlueScreen is not asked without a device";
  writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idVendor"), "05ac\n");
  writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idProduct"), "12a8\n");
  EXPECT_FALSE(_delegate.deviceIsErrorNow());
  EXPECT_EQ(takeCalls(), Calls{"whetherBlueScreen"});
  writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idProduct"), "1227\n");
  EXPECT_TRUE(_delegate.deviceIsErrorNow());
}
