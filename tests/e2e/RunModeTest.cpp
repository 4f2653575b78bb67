#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "BundleRun.h"
#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using e2e::runAgent;
using testing_support::Deadline;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// Run mode of the built bundle, off-screen, in a sandbox home and platform root where Mendkit is
// installed, iTunes is idle and a phone in recovery mode is attached over USB.
class RunMode : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(sandbox.inRoot("Applications/Mendkit.app/Contents"));
    writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idVendor"), "05ac\n");
    writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idProduct"), "1281\n");
    writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1:1.0/bInterfaceClass"), "ff\n");
  }

  std::string spool() const {
    return readFile(sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
        .value_or("");
  }

  e2e::OffScreen offScreen;
};

}  // namespace

// The first tick shows the device-error pop-up: the agent's own process, and another instance of
// it, are not a running Mendkit. Once the job file is gone, with no pop-up up, the first tick ends
// the agent.
TEST_F(RunMode, ADeviceInRecoveryShowsItsPopUpAndAGoneJobEndsTheAgent) {
  const std::string job = sandbox.inHome("Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist");
  writeFile(job, "<plist><dict/></plist>");
  testing_support::Subprocess other({MENDKIT_AGENT_EXECUTABLE, "-debug1"});
  ASSERT_GT(other.pid(), 0);

  testing_support::Subprocess agent({MENDKIT_AGENT_EXECUTABLE, "-r"});
  ASSERT_GT(agent.pid(), 0);
  Deadline deadline(9);
  while (spool().find("\"event\":10211") == std::string::npos && !deadline.passed())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(spool().find("\"event\":10211"), std::string::npos) << spool();
  kill(agent.pid(), SIGTERM);
  testing_support::ChildResult shown = agent.wait(5);
  EXPECT_TRUE(shown.finished);
  EXPECT_EQ(shown.err.find("Service will be close!"), std::string::npos) << shown.err;

  std::filesystem::remove(job);
  std::filesystem::remove_all(sandbox.inRoot("sys/bus/usb/devices/1-1"));
  auto run = runAgent({"-r"});
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_LT(run.seconds, 9) << "ended by the first tick";
  EXPECT_NE(run.err.find("Service will be close!"), std::string::npos) << run.err;
}
