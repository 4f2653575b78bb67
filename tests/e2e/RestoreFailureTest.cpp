#include <gtest/gtest.h>
#include <signal.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "BundleRun.h"
#include "foundation/PropertyList.h"
#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using testing_support::ChildOptions;
using testing_support::ChildOutput;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

constexpr const char* kLabel = "com.kelvanoria.Mendkit.agent";

// Local noon `days` calendar days after today, as the fake-time library reads a moment.
std::string noonAfter(int days) {
  std::time_t now = std::time(nullptr);
  std::tm day{};
  localtime_r(&now, &day);
  day.tm_mday += days;
  day.tm_hour = 12;
  day.tm_min = day.tm_sec = 0;
  day.tm_isdst = -1;
  std::time_t noon = std::mktime(&day);
  localtime_r(&noon, &day);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &day);
  return text;
}

// The installed agent in run mode, off-screen, on days of the test's choosing, in a sandbox where
// Mendkit is installed and not running, iTunes is idle, no device is attached, and iTunes left a
// log of a failed iPod restore just now.
class RestoreFailure : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(sandbox.inRoot("Applications/Mendkit.app/Contents"));
    log = sandbox.inHome("Library/Logs/iPod Updater Logs/iPodUpdater-restore.log");
    writeFile(log, "Restore started\nRestore completed, status:3194\n");
  }

  // Environment entries for a run at `moment` that snapshots its windows into `snapshots`.
  std::vector<std::string> on(const std::string& moment, const std::string& snapshots) {
    std::vector<std::string> environment = e2e::fakeTimeAt(moment).value();
    std::filesystem::create_directories(snapshots);
    environment.push_back("PLATFORM_SNAPSHOT_DIR=" + snapshots);
    return environment;
  }
  std::string jobFile() const {
    return sandbox.inHome("Library/LaunchAgents/" + std::string(kLabel) + ".plist");
  }
  std::optional<std::string> storedDigest() const {
    auto defaults = foundation::readPropertyListFile(
        sandbox.inHome("Library/Preferences/" + std::string(kLabel) + ".plist"));
    const foundation::PlistValue* digest =
        defaults ? defaults->objectForKey("LastFileSha1") : nullptr;
    if (!digest || !digest->string()) return std::nullopt;
    return *digest->string();
  }
  size_t shownRestoreFailures() const {
    std::string spool =
        readFile(sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
            .value_or("");
    size_t count = 0;
    for (size_t at = spool.find("\"event\":10210"); at != std::string::npos;
         at = spool.find("\"event\":10210", at + 1)) {
      ++count;
    }
    return count;
  }
  // The SHA-1 digest of `path` in lower-case hex, as the system's openssl computes it.
  static std::string sha1Of(const std::string& path) {
    testing_support::ChildResult digest =
        testing_support::runChild({"/usr/bin/openssl", "sha1", "-r", path});
    EXPECT_EQ(digest.exitStatus, 0) << digest.err;
    return digest.out.substr(0, digest.out.find(' '));
  }
  // Whether `path` comes to exist within `seconds`.
  static bool appears(const std::string& path, double seconds) {
    testing_support::Deadline deadline(seconds);
    while (!std::filesystem::exists(path)) {
      if (deadline.passed()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  e2e::OffScreen offScreen;
  std::string log;
};

}  // namespace

// Installed one day, the agent offers nothing that day; the next day it shows the restore-failure
// pop-up for the iPod once and remembers the log; a later run knows it and shows nothing.
TEST_F(RestoreFailure, TheDayAfterInstallingAFailedLogIsOfferedOnce) {
  if (!e2e::fakeTimeAt("")) GTEST_SKIP() << "libfaketime is not installed";
  const std::string installDay = noonAfter(1);
  auto install = testing_support::runChild(
      {MENDKIT_AGENT_EXECUTABLE, "-i"},
      {.environment = e2e::fakeTimeAt(installDay).value(), .untilOutputCloses = false}, 15);
  ASSERT_EQ(install.exitStatus, 0) << install.err;
  ASSERT_TRUE(std::filesystem::exists(jobFile()));

  // Later the same day, with the job file gone, the first tick only finds the agent uninstalled:
  // the failed log was not looked at.
  const std::string kept = sandbox.inHome("job.plist");
  std::filesystem::rename(jobFile(), kept);
  const std::string sameDaySnapshots = sandbox.inHome("snapshots-0");
  auto sameDay = testing_support::runChild(
      {MENDKIT_AGENT_EXECUTABLE, "-r"},
      {.environment = on(noonAfter(1).substr(0, 11) + "18:00:00", sameDaySnapshots),
       .untilOutputCloses = false},
      9);
  ASSERT_TRUE(sameDay.exited) << sameDay.err;
  EXPECT_NE(sameDay.err.find("Service will be close!"), std::string::npos) << sameDay.err;
  EXPECT_EQ(storedDigest(), std::nullopt);
  EXPECT_EQ(shownRestoreFailures(), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(sameDaySnapshots));
  std::filesystem::rename(kept, jobFile());

  // The next day the log, two days old by then, is reported with the iPod named.
  const std::string nextDaySnapshots = sandbox.inHome("snapshots-1");
  testing_support::Subprocess nextDay({MENDKIT_AGENT_EXECUTABLE, "-r"},
                                      {.environment = on(noonAfter(2), nextDaySnapshots)});
  ASSERT_GT(nextDay.pid(), 0);
  ASSERT_TRUE(appears(nextDaySnapshots + "/1.png", 10)) << "no pop-up";
  std::string shown = readFile(nextDaySnapshots + "/1.txt").value_or("");
  EXPECT_NE(shown.find("iPod"), std::string::npos) << shown;
  testing_support::Deadline reported(5);
  while (shownRestoreFailures() == 0 && !reported.passed())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(shownRestoreFailures(), 1u);
  EXPECT_EQ(storedDigest(), sha1Of(log));
  kill(nextDay.pid(), SIGTERM);
  EXPECT_TRUE(nextDay.wait(5).finished);

  // A day later the same log is known: two ticks, 10 s of real time apart, pass it over.
  const std::string laterSnapshots = sandbox.inHome("snapshots-2");
  testing_support::Subprocess later(
      {MENDKIT_AGENT_EXECUTABLE, "-r"},
      {.environment = on(noonAfter(3), laterSnapshots), .output = ChildOutput::Interleaved});
  ASSERT_GT(later.pid(), 0);
  EXPECT_TRUE(later.awaitOutput("The File had been analysize!", 25, 2));
  kill(later.pid(), SIGTERM);
  testing_support::ChildResult ended = later.wait(5);
  EXPECT_TRUE(ended.finished) << ended.out;
  EXPECT_TRUE(std::filesystem::is_empty(laterSnapshots));
  EXPECT_EQ(shownRestoreFailures(), 1u);
}
