#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BundleRun.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using e2e::runAgent;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// Run mode of the built bundle, off-screen, in a sandbox home and platform root where Mendkit is
// installed, iTunes is idle and a phone in recovery mode is attached over USB.
class RunMode : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      if (const char* value = std::getenv(name)) _saved.emplace_back(name, value);
      unsetenv(name);
    }
    std::filesystem::create_directories(sandbox.inRoot("Applications/Mendkit.app/Contents"));
    writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idVendor"), "05ac\n");
    writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idProduct"), "1281\n");
    writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1:1.0/bInterfaceClass"), "ff\n");
  }
  void TearDown() override {
    for (const auto& [name, value] : _saved) setenv(name.c_str(), value.c_str(), 1);
  }

  std::string spool() const {
    return readFile(sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
        .value_or("");
  }

 private:
  std::vector<std::pair<std::string, std::string>> _saved;
};

}  // namespace

// With no job file the first tick shows the device-error pop-up and then ends the agent; the
// agent's own process, and another instance of it, are not a running Mendkit.
TEST_F(RunMode, ADeviceInRecoveryShowsItsPopUpAndAGoneJobEndsTheAgent) {
  testing_support::Subprocess other({MENDKIT_AGENT_EXECUTABLE, "-debug1"});
  ASSERT_GT(other.pid(), 0);

  auto run = runAgent({"-r"});
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_LT(run.seconds, 9) << "ended by the first tick";
  EXPECT_NE(run.err.find("Service will be close!"), std::string::npos) << run.err;
  EXPECT_NE(spool().find("\"event\":10211"), std::string::npos) << spool() << run.err;
}
