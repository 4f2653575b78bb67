#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
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

namespace {

// Run mode with its job file gone, so that its first tick ends it, among broken and hostile files.
class RunModeBadInput : public testing_support::HomeTest {
 protected:
  // Runs the agent; fails the test unless its first tick ended it.
  void expectTheFirstTickEndsIt(const char* situation) {
    auto run = runAgent({"-r"}, 20);
    ASSERT_TRUE(run.exited) << situation << ": the tick hangs\n" << run.err;
    EXPECT_EQ(run.exitStatus, 0) << situation;
    EXPECT_LT(run.seconds, 9) << situation << ": ended by the first tick";
    EXPECT_NE(run.err.find("Service will be close!"), std::string::npos) << situation << run.err;
    EXPECT_FALSE(std::filesystem::exists(
        sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl")))
        << situation << ": a pop-up was shown";
  }
  void fifo(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
  }
  // A file of `size` bytes that takes no room on the disk.
  void sparse(const std::string& path, off_t size, std::string_view start) {
    writeFile(path, start);
    ASSERT_EQ(truncate(path.c_str(), size), 0) << path;
  }

  e2e::OffScreen offScreen;
};

}  // namespace

TEST_F(RunModeBadInput, NothingReadByATickHangsItOrShowsAPopUp) {
  // Mendkit installed, so the logs and the device are looked at.
  std::filesystem::create_directories(sandbox.inRoot("Applications/Mendkit.app/Contents"));
  const std::string devices = sandbox.inRoot("sys/bus/usb/devices/");
  writeFile(devices + "1-1/idVendor", "zz\n");
  writeFile(devices + "1-1/idProduct", "1281\n");
  writeFile(devices + "1-2/idVendor", "05ac\n");  // its idProduct gone with the device
  std::filesystem::create_directory_symlink("../../../devices/usb1/1-3", devices + "1-3");
  fifo(devices + "1-4/idVendor");
  writeFile(devices + "1-4/idProduct", "1281\n");
  writeFile(devices + "1-5/idVendor", "05ac\n");
  sparse(devices + "1-5/idProduct", 1 << 30, "1281\n");
  writeFile(sandbox.inHome("Library/Logs/iPhone Updater Logs"), "Restore completed, status:1\n");
  fifo(sandbox.inHome("Library/Logs/iPod Updater Logs"));
  fifo(sandbox.inHome("Library/Logs/iPad Updater Logs/iPadUpdater.log"));
  fifo(sandbox.inHome("Library/Caches/Cleanup At Startup"));
  expectTheFirstTickEndsIt("broken devices, logs and work folders");

  // Mendkit found only through its configuration file, and the agent's own settings broken.
  std::filesystem::remove_all(sandbox.inRoot("Applications"));
  const std::string config = sandbox.inHome("Library/Application Support/Mendkit/config.plist");
  const std::string settings =
      sandbox.inHome("Library/Preferences/com.kelvanoria.Mendkit.agent.plist");
  fifo(config);
  fifo(settings);
  expectTheFirstTickEndsIt("FIFOs in place of the configuration and the settings");

  std::filesystem::remove(config);
  std::filesystem::remove(settings);
  sparse(config, off_t{1} << 32, "<?xml version=\"1.0\"?><plist><dict><key>MendkitBundlePath");
  sparse(settings, off_t{1} << 32, "<?xml version=\"1.0\"?><plist><dict><key>NeverPop");
  expectTheFirstTickEndsIt("a configuration and settings of 4 GiB");
}
