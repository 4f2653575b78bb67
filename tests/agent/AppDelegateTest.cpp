#include "AppDelegate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>

#include "Mendkit/MKDeviceManager.h"
#include "ProductLogManager.h"
#include "ServiceConfig.h"
#include "appkit/Application.h"
#include "appkit/RunLoop.h"
#include "appkit/headless/HeadlessBackend.h"
#include "dispatch/MainQueue.h"
#include "foundation/Bundle.h"
#include "foundation/ProcessInfo.h"
#include "foundation/UserDefaults.h"
#include "support/TestHome.h"

using testing_support::readFile;
using testing_support::writeFile;

namespace {

// One launch of the delegate against an application of the test's own, whose exit is recorded
// instead of ending the process. launchctl is a recording script earlier on PATH.
class AppDelegateTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    std::string bundle = sandbox.inHome("Apps/MendkitAgent.app");
    writeFile(bundle + "/Contents/Info.plist",
              "<plist><dict><key>CFBundleIdentifier</key><string>com.kelvanoria.Mendkit.agent"
              "</string><key>CFBundleVersion</key><string>9.8.7</string></dict></plist>");
    writeFile(bundle + "/Contents/Resources/com.kelvanoria.Mendkit.agent.plist",
              "<plist><dict><key>Label</key><string>com.kelvanoria.Mendkit.agent</string>"
              "</dict></plist>");
    foundation::Bundle::setMainForTesting(foundation::Bundle::atPath(bundle));

    std::string bin = sandbox.inHome("bin");
    writeFile(bin + "/launchctl", "#!/bin/sh\necho \"launchctl $*\" >> \"$HOME/commands\"\n");
    chmod((bin + "/launchctl").c_str(), 0755);
    const char* path = std::getenv("PATH");
    _oldPath = path ? path : "";
    setenv("PATH", (bin + ":" + _oldPath).c_str(), 1);

    _delegate.setApplication(&_application);
    // Pop-ups send no statistics; TearDown waits for those queued before the sandbox goes.
    _previousLibraries = ProductLogManager::setLibrariesForTesting({});
    appkit::WindowBackend::setSharedForTesting(std::make_unique<appkit::HeadlessBackend>());
  }

  void TearDown() override {
    appkit::WindowBackend::setSharedForTesting(nullptr);
    ProductLogManager::setLibrariesForTesting(_previousLibraries);
    setenv("PATH", _oldPath.c_str(), 1);
    foundation::Bundle::setMainForTesting(std::nullopt);
  }

  void launch(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/x/MendkitAgent.app/Contents/MacOS/MendkitAgent");
    foundation::ProcessInfo::setArguments(std::move(arguments));
    _delegate.applicationDidFinishLaunching();
  }

  // Runs the test's main queue until the application exits, for at most `seconds` of real time.
  bool runUntilExit(double seconds = 20) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (_exitStatus < 0 && std::chrono::steady_clock::now() < end)
      _runLoop.runOnce(foundation::TimeInterval::milliseconds(100));
    return _exitStatus == 0;
  }
  // Runs what is queued for the main thread now, without waiting.
  void drainMainQueue() {
    while (_queue.pendingCount() > 0) _runLoop.runOnce();
  }

  bool defaultsFileExists() const {
    struct stat info {};
    return stat(foundation::UserDefaults::pathForDomain("com.kelvanoria.Mendkit.agent").c_str(),
                &info) == 0;
  }
  std::string commands() const { return readFile(sandbox.inHome("commands")).value_or(""); }

  dispatch::MainQueue _queue;
  appkit::RunLoop _runLoop{_queue};
  int _exitStatus = -1;
  appkit::Application _application{_runLoop, [this](int status) { _exitStatus = status; }};
  AppDelegate _delegate;
  std::string _oldPath;
  ProductLogManager::Libraries _previousLibraries;
};

}  // namespace

TEST_F(AppDelegateTest, WithoutAModeItTerminatesAtOnceAndStoresNothing) {
  KVLogManager->setProductID(0);
  KVLogManager->setLanguageID(0);
  launch({"-I", "--r", "-debug", "-i ", "i", "SITE:5"});
  EXPECT_EQ(_exitStatus, 0);
  EXPECT_FALSE(defaultsFileExists());
  EXPECT_EQ(commands(), "");
  // The statistics identity is set first, in every mode.
  EXPECT_EQ(KVLogManager->productID(), 8);
  EXPECT_EQ(KVLogManager->languageID(), 1033);
  EXPECT_EQ(KVLogManager->productVersion(), "9.8.7");
}

TEST_F(AppDelegateTest, NoArgumentsAtAllTerminates) {
  launch({});
  EXPECT_EQ(_exitStatus, 0);
  EXPECT_FALSE(defaultsFileExists());
}

TEST_F(AppDelegateTest, TheFirstModeArgumentDecides) {
  KVLogManager->setSiteID(55);  // run mode replaces it with the stored site, or 101 when none
  launch({"-r", "-i", "SITE:9"});
  EXPECT_EQ(_exitStatus, -1) << "run mode keeps running";
  EXPECT_TRUE(MKDeviceManager::shared()->isListening());
  EXPECT_FALSE(defaultsFileExists()) << "installer steps must not run";
  EXPECT_EQ(KVLogManager->siteID(), 101);
}

TEST_F(AppDelegateTest, RunModeHandsTheStoredSiteToStatistics) {
  ServiceConfig::setSiteID(7);
  _delegate.windowShow = true;
  launch({"-r"});
  EXPECT_EQ(KVLogManager->siteID(), 7);
  EXPECT_FALSE(_delegate.windowShow.load()) << "run mode starts with no pop-up showing";
}

TEST_F(AppDelegateTest, InstallerResetsThePopUpSettingsInstallsTheJobAndTerminates) {
  ServiceConfig::setNeverPopDialog(true);
  launch({"-i", "-r"});
  EXPECT_FALSE(ServiceConfig::isNeverPopDialog());
  EXPECT_TRUE(
      ServiceConfig::isSameDate(ServiceConfig::getPopDialogTime(), foundation::Date::now()));
  EXPECT_EQ(_exitStatus, -1) << "termination waits for the background work";
  ASSERT_TRUE(runUntilExit());
  std::string log = commands();
  size_t remove = log.find("launchctl remove com.kelvanoria.Mendkit.agent");
  size_t unload = log.rfind("launchctl unload -w " + sandbox.home() +
                            "/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist");
  ASSERT_NE(remove, std::string::npos) << log;
  ASSERT_NE(unload, std::string::npos) << log;
  EXPECT_LT(remove, unload);
  EXPECT_TRUE(readFile(sandbox.inHome("Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist")));
}

TEST_F(AppDelegateTest, InstallerWithoutSiteArgumentsKeepsTheStoredSite) {
  ServiceConfig::setSiteID(33);
  launch({"-i"});
  EXPECT_EQ(ServiceConfig::siteID(), 33);
  ASSERT_TRUE(runUntilExit());
}

TEST_F(AppDelegateTest, EverySiteElementCountsWhereverItStandsAndTheLastWins) {
  launch({"SITE:12", "-i", "SITE:0"});
  EXPECT_EQ(ServiceConfig::siteID(), 101);
  ASSERT_TRUE(runUntilExit());
}

TEST_F(AppDelegateTest, SiteElementBeforeTheModeCounts) {
  launch({"SITE:12", "-i"});
  EXPECT_EQ(ServiceConfig::siteID(), 12);
  ASSERT_TRUE(runUntilExit());
}

TEST(AppDelegateSite, ElementsReadAsIntegerValues) {
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:42"), 42);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:42abc"), 42);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:-3"), -3);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:+8"), 8);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:  17"), 17);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:"), 101);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:0"), 101);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:abc"), 101);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("--SITE:5"), 101) << "\"--5\" reads as 0";
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:4SITE:2"), 42) << "every SITE: is removed";
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("SITE:99999999999999999999"), INT64_MAX);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("site:5"), std::nullopt);
  EXPECT_EQ(AppDelegate::siteNumberOfArgument("-i"), std::nullopt);
}

TEST_F(AppDelegateTest, DebugModesPostTheSwappedStyleAndStartNothing) {
  launch({"-debug0"});
  EXPECT_EQ(_queue.pendingCount(), 1u) << "the pop-up request waits for the run loop";
  _delegate.windowPopStyle = -1;
  drainMainQueue();
  EXPECT_EQ(_delegate.windowPopStyle, 1);
  EXPECT_EQ(_exitStatus, -1);

  AppDelegate second;
  second.setApplication(&_application);
  second.setDeviceType("iPad");
  foundation::ProcessInfo::setArguments({"agent", "-debug1"});
  second.applicationDidFinishLaunching();
  second.windowPopStyle = -1;
  drainMainQueue();
  EXPECT_EQ(second.windowPopStyle, 0);
  EXPECT_EQ(commands(), "");
  EXPECT_EQ(second.deviceType(), "iPad") << "debug modes leave the device word as it was";
}

TEST_F(AppDelegateTest, RemoveModeRemovesTheJobAndTerminates) {
  writeFile(sandbox.inHome("Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist"), "x");
  launch({"-k"});
  EXPECT_EQ(_exitStatus, 0);
  EXPECT_FALSE(readFile(sandbox.inHome("Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist")));
  EXPECT_NE(commands().find("launchctl remove com.kelvanoria.Mendkit.agent"), std::string::npos);
}

TEST_F(AppDelegateTest, TerminationClearsTheDeviceWord) {
  _delegate.setDeviceType("iPad");
  _delegate.applicationWillTerminate();
  EXPECT_FALSE(_delegate.deviceType());
  _delegate.setDeviceType("iPod");
  EXPECT_TRUE(_delegate.applicationShouldTerminateAfterLastWindowClosed());
  EXPECT_FALSE(_delegate.deviceType());
}
