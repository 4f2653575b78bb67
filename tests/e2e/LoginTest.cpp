#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BundleRun.h"
#include "support/DesktopEntry.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using testing_support::ChildResult;
using testing_support::readFile;

namespace {

// The installed agent enabled with launchctl, as the README tells a user to, in a sandbox home.
class Login : public testing_support::HomeTest {
 protected:
  // The pids of the agents running with this sandbox as their home.
  std::vector<pid_t> runningAgents() const {
    const std::filesystem::path agent = std::filesystem::canonical(MENDKIT_AGENT_EXECUTABLE);
    const std::string home = "HOME=" + sandbox.home();
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      if (std::filesystem::read_symlink(entry.path() / "exe", error) != agent || error) continue;
      std::string environment = readFile(entry.path() / "environ").value_or("");
      if (('\0' + environment).find('\0' + home + '\0') == std::string::npos) continue;
      pids.push_back(std::stoi(name));
    }
    return pids;
  }
  // Whether `count` agents of the sandbox run within `seconds`.
  bool awaitAgents(size_t count, double seconds) const {
    testing_support::Deadline deadline(seconds);
    while (runningAgents().size() != count) {
      if (deadline.passed()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  // The login entries of the sandbox's autostart folder.
  std::vector<std::string> loginEntries() const {
    std::vector<std::string> entries;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(sandbox.inHome(".config/autostart"), error)) {
      entries.push_back(entry.path());
    }
    return entries;
  }
  static ChildResult launchctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {LAUNCHCTL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testing_support::runChild(argv, {.untilOutputCloses = false}, 30);
  }

  e2e::OffScreen offScreen;
};

}  // namespace

// Enabling starts the agent at once and keeps a login entry; the entry's command, run as a session
// start runs it, starts the agent again after the session ended; disabling stops the agent and
// removes the entry.
TEST_F(Login, AnEnabledAgentStartsAtEveryLoginUntilDisabled) {
  ASSERT_EQ(std::getenv("XDG_CONFIG_HOME"), sandbox.inHome(".config"));
  ASSERT_EQ(e2e::runAgent({"-i"}).exitStatus, 0);
  const std::string job = sandbox.inHome("Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist");
  ASSERT_TRUE(std::filesystem::exists(job));
  EXPECT_TRUE(loginEntries().empty()) << "installing alone enables nothing";

  ChildResult enabled = launchctl({"load", "-w", job});
  ASSERT_EQ(enabled.exitStatus, 0) << enabled.err;
  EXPECT_TRUE(awaitAgents(1, 10)) << "not started at once";
  ASSERT_EQ(loginEntries().size(), 1u);

  // The session ends: the agent stops, the entry stays.
  ChildResult loggedOut = launchctl({"unload", job});
  ASSERT_EQ(loggedOut.exitStatus, 0) << loggedOut.err;
  EXPECT_TRUE(awaitAgents(0, 10));
  ASSERT_EQ(loginEntries().size(), 1u);

  std::vector<std::string> login =
      testing_support::execArguments(readFile(loginEntries().front()).value_or(""));
  ASSERT_FALSE(login.empty());
  ChildResult atLogin = testing_support::runChild(login, {.untilOutputCloses = false}, 30);
  EXPECT_EQ(atLogin.exitStatus, 0) << atLogin.err;
  EXPECT_TRUE(awaitAgents(1, 10)) << "not started at login";

  ChildResult disabled = launchctl({"unload", "-w", job});
  EXPECT_EQ(disabled.exitStatus, 0) << disabled.err;
  EXPECT_TRUE(runningAgents().empty()) << "still running once unload returned";
  EXPECT_TRUE(loginEntries().empty());
}
