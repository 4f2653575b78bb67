#include "foundation/Paths.h"

#include <gtest/gtest.h>

#include "foundation/Shell.h"
#include "support/TestHome.h"

using namespace foundation;
using testing_support::HomeTest;

TEST_F(HomeTest, TildeExpandsToHome) {
  EXPECT_EQ(expandTildeInPath("~"), sandbox.home());
  EXPECT_EQ(expandTildeInPath("~/Library/Logs"), sandbox.home() + "/Library/Logs");
  EXPECT_EQ(expandTildeInPath("/abs/~/x"), "/abs/~/x");
  EXPECT_EQ(expandTildeInPath("~other/x"), "~other/x");
}

TEST(Paths, JoinUsesExactlyOneSeparator) {
  EXPECT_EQ(appendingPathComponent("/a/", "/b"), "/a/b");
  EXPECT_EQ(appendingPathComponent("/a", "b"), "/a/b");
  EXPECT_EQ(appendingPathComponent("/", "b"), "/b");
  EXPECT_EQ(appendingPathComponent("/a", ""), "/a");
  EXPECT_EQ(lastPathComponent("/a/b.log/"), "b.log");
  EXPECT_EQ(deletingLastPathComponent("/a/b"), "/a");
  EXPECT_EQ(deletingLastPathComponent("/a"), "/");
}

TEST_F(HomeTest, SystemLocationsLiveUnderThePlatformRoot) {
  EXPECT_EQ(platformPath("/Applications/Mendkit.app"),
            sandbox.root() + "/Applications/Mendkit.app");
  EXPECT_EQ(platformPath("/private/var/db/x.plist"), sandbox.root() + "/private/var/db/x.plist");
  EXPECT_EQ(platformPath("/sys/bus/usb"), sandbox.root() + "/sys/bus/usb");
  EXPECT_EQ(platformPath("/usr/bin/open"), sandbox.root() + "/usr/bin/open");
  // Only whole path components count, and other paths are used as they are.
  EXPECT_EQ(platformPath("/ApplicationsX/a"), "/ApplicationsX/a");
  EXPECT_EQ(platformPath("/usr/bin/openssl"), "/usr/bin/openssl");
  EXPECT_EQ(platformPath(sandbox.home() + "/x"), sandbox.home() + "/x");
  EXPECT_EQ(platformPath("relative/Applications"), "relative/Applications");
}

TEST_F(HomeTest, APathIsMappedOnceAndTheHomeNever) {
  // A root and a home that lie under mapped folders themselves.
  setenv("PLATFORM_ROOT", "/private/var/root", 1);
  setenv("HOME", "/private/var/home/u", 1);
  std::string mapped = platformPath("/Applications/A.app");
  EXPECT_EQ(mapped, "/private/var/root/Applications/A.app");
  EXPECT_EQ(platformPath(mapped), mapped);
  EXPECT_EQ(platformPath("/private/var/root"), "/private/var/root");
  EXPECT_EQ(platformPath("/private/var/home/u/Library/x.plist"),
            "/private/var/home/u/Library/x.plist");
  EXPECT_EQ(platformPath("/private/var/rootless"), "/private/var/root/private/var/rootless");
  EXPECT_EQ(platformPath("/private/var/home/other"), "/private/var/root/private/var/home/other");
}

TEST_F(HomeTest, DefaultPlatformRootIsTheRealRootButLaunchdStateIsTheUsers) {
  unsetenv("PLATFORM_ROOT");
  unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(platformPath("/Applications/A.app"), "/Applications/A.app");
  std::string state = sandbox.home() + "/.local/state/platform/private/var/db/x.plist";
  EXPECT_EQ(platformPath("/private/var/db/x.plist"), state);
  EXPECT_EQ(platformPath(state), state);
  setenv("PLATFORM_ROOT", "/", 1);
  EXPECT_EQ(platformPath("/sys/x"), "/sys/x");
  setenv("XDG_STATE_HOME", (sandbox.base() + "/state").c_str(), 1);
  EXPECT_EQ(platformPath("/private/var/run/x"),
            sandbox.base() + "/state/platform/private/var/run/x");
  unsetenv("XDG_STATE_HOME");
}

TEST(Shell, QuotingKeepsEveryValueOneWord) {
  for (std::string value :
       {"plain", "with space", "it's", "$HOME", "`id`", "back\\slash", "a\"b", "new\nline", ""}) {
    std::string command =
        "test \"$(printf '%s' " + shellQuoted(value) + ")\" = " + shellQuoted(value);
    EXPECT_EQ(runShellCommand(command), 0) << value;
  }
}

TEST_F(HomeTest, ShellRunsCommandsAndReportsTheirStatus) {
  EXPECT_EQ(runShellCommand("true"), 0);
  int status = runShellCommand("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  // The platform's tools folder is searched after PATH.
  EXPECT_EQ(runShellCommand("case \":$PATH:\" in *:" + platformToolsDirectory() +
                            ":*) exit 0;; esac; exit 1"),
            0);
}

TEST_F(HomeTest, OpenIsTheRootsToolWhereItExists) {
  std::string fake = sandbox.inRoot("usr/bin/open");
  testing_support::writeFile(fake, "#!/bin/sh\necho \"$@\" > \"$HOME/opened\"\n");
  ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
  EXPECT_EQ(resolvedToolPath("/usr/bin/open"), fake);
  EXPECT_EQ(runShellCommand("/usr/bin/open \"/Applications/My App.app\" --args 10216 "), 0);
  EXPECT_EQ(testing_support::readFile(sandbox.inHome("opened")),
            "/Applications/My App.app --args 10216\n");
  // Inside another word the path is left alone.
  EXPECT_EQ(withToolPathsMapped("echo x/usr/bin/open"), "echo x/usr/bin/open");
}

TEST_F(HomeTest, OpenFallsBackToThePlatformsOwnTool) {
  EXPECT_EQ(resolvedToolPath("/usr/bin/open"), platformToolsDirectory() + "/open");
}
