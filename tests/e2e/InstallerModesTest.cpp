#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "BundleRun.h"
#include "foundation/Date.h"
#include "foundation/PropertyList.h"
#include "support/TestHome.h"

using e2e::runAgent;
using foundation::PlistArray;
using foundation::PlistValue;

namespace {

constexpr const char* kLabel = "com.kelvanoria.Mendkit.agent";

class InstallerModes : public testing_support::HomeTest {
 protected:
  std::string defaultsPath() const {
    return home() + "/Library/Preferences/" + std::string(kLabel) + ".plist";
  }
  std::string jobPath() const {
    return home() + "/Library/LaunchAgents/" + std::string(kLabel) + ".plist";
  }
  std::string overridePath() const {
    return sandbox.inRoot("private/var/db/com.apple.xpc.launchd/disabled." +
                          std::to_string(getuid()) + ".plist");
  }
  std::string home() const { return std::getenv("HOME"); }
  static bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
  }
  std::optional<PlistValue> defaults() const {
    return foundation::readPropertyListFile(defaultsPath()).toOptional();
  }
};

PlistValue programArguments() {
  return PlistValue(PlistArray{"/usr/bin/open", "-g", "-W", MENDKIT_AGENT_BUNDLE, "--args", "-r"});
}

}  // namespace

TEST_F(InstallerModes, InstallStoresTheSettingsWritesTheJobAndExits) {
  double before = foundation::Date::now().timeIntervalSince1970;
  auto run = runAgent({"-i", "SITE:42"});
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_LT(run.seconds, 10);

  auto stored = defaults();
  ASSERT_TRUE(stored) << run.err;
  ASSERT_TRUE(stored->objectForKey("NeverPopDialog"));
  EXPECT_TRUE(stored->objectForKey("NeverPopDialog")->isBoolean());
  EXPECT_EQ(stored->objectForKey("NeverPopDialog")->boolValue(), false);
  EXPECT_EQ(stored->objectForKey("ServiceSiteID")->integerValue(), 42);
  ASSERT_TRUE(stored->objectForKey("PopDialogDate") &&
              stored->objectForKey("PopDialogDate")->date());
  EXPECT_NEAR(stored->objectForKey("PopDialogDate")->date()->timeIntervalSince1970, before, 10);

  auto job = foundation::readPropertyListFile(jobPath());
  ASSERT_TRUE(job) << run.err;
  EXPECT_EQ(*job->objectForKey("Label"), PlistValue(kLabel));
  EXPECT_EQ(*job->objectForKey("ProgramArguments"), programArguments());

  // The installation ends with an unload -w: launchd keeps the job recorded as disabled.
  auto overrides = foundation::readPropertyListFile(overridePath());
  ASSERT_TRUE(overrides) << run.err;
  ASSERT_TRUE(overrides->objectForKey(kLabel));
  EXPECT_EQ(overrides->objectForKey(kLabel)->boolValue(), true);
  EXPECT_EQ(run.err.find("agent is already install!"), std::string::npos) << run.err;
}

TEST_F(InstallerModes, InstallingTwiceReplacesTheJobAndKeepsTheSite) {
  ASSERT_EQ(runAgent({"-i", "SITE:42"}).exitStatus, 0);
  auto second = runAgent({"-i"});
  ASSERT_TRUE(second.exited);
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_EQ(second.err.find("agent is already install!"), std::string::npos)
      << "the earlier job is removed first:\n"
      << second.err;
  EXPECT_EQ(defaults()->objectForKey("ServiceSiteID")->integerValue(), 42);
  auto job = foundation::readPropertyListFile(jobPath());
  ASSERT_TRUE(job);
  EXPECT_EQ(*job->objectForKey("ProgramArguments"), programArguments());
}

TEST_F(InstallerModes, RemoveTakesTheJobAwayAndExits) {
  ASSERT_EQ(runAgent({"-i"}).exitStatus, 0);
  ASSERT_TRUE(exists(jobPath()));
  auto run = runAgent({"-k"});
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_LT(run.seconds, 10);
  EXPECT_FALSE(exists(jobPath()));
  // Taken out with unload -w: launchd keeps the label recorded as disabled.
  auto overrides = foundation::readPropertyListFile(overridePath());
  ASSERT_TRUE(overrides && overrides->objectForKey(kLabel)) << run.err;
  EXPECT_EQ(overrides->objectForKey(kLabel)->boolValue(), true);
  // Removing again, with nothing installed, still ends cleanly.
  auto again = runAgent({"-k"});
  EXPECT_TRUE(again.exited);
  EXPECT_EQ(again.exitStatus, 0);
}

TEST_F(InstallerModes, NoModeArgumentExitsAtOnceAndStoresNothing) {
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{}, {"--install"}, {"-I", "SITE:3"}}) {
    auto run = runAgent(arguments);
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_LT(run.seconds, 5);
    // The layout's window opens the display, which the platform names once; the agent says nothing.
    std::string said = run.err;
    if (size_t at = said.find("appkit: windows go to the "); at != std::string::npos) {
      size_t begin = said.rfind('\n', at), end = said.find('\n', at);
      begin = begin == std::string::npos ? 0 : begin + 1;
      said.erase(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
    }
    EXPECT_EQ(said, "") << "it ends without a word";
    EXPECT_FALSE(exists(defaultsPath()));
    EXPECT_FALSE(exists(jobPath()));
  }
}

TEST_F(InstallerModes, RunModeStaysRunningWhileItsJobIsInstalled) {
  auto install = runAgent({"-i"});
  ASSERT_EQ(install.exitStatus, 0) << install.err;
  auto run = runAgent({"-r"}, 2);
  EXPECT_FALSE(run.exited) << "run mode keeps running as a launchd job would:\n" << run.err;
  EXPECT_EQ(run.err.find("Service will be close!"), std::string::npos) << run.err;
}

TEST_F(InstallerModes, HostileHomeRunsNothingInjected) {
  std::string base = sandbox.base();
  std::string hostile =
      base + "/h o'm\"e $(touch " + base + "/pwned1) `touch " + base + "/pwned2` \\ $HOME";
  std::filesystem::create_directories(hostile);
  setenv("HOME", hostile.c_str(), 1);
  auto install = runAgent({"-i", "SITE:5"});
  ASSERT_TRUE(install.exited) << install.err;
  EXPECT_EQ(install.exitStatus, 0);
  EXPECT_TRUE(exists(jobPath())) << install.err;
  auto remove = runAgent({"-k"});
  EXPECT_EQ(remove.exitStatus, 0);
  EXPECT_FALSE(exists(jobPath())) << remove.err;
  EXPECT_FALSE(exists(base + "/pwned1"));
  EXPECT_FALSE(exists(base + "/pwned2"));
  setenv("HOME", sandbox.home().c_str(), 1);
}
