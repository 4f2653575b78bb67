#include "Rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/FileManager.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "support/Deadline.h"
#include "support/RunningProgram.h"
#include "support/StderrCapture.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using foundation::Date;
using foundation::FileManager;
using testing_support::occurrences;
using testing_support::readFile;
using testing_support::RunningProgram;
using testing_support::StderrCapture;
using testing_support::writeFile;

namespace {

constexpr double kDay = 86400;
constexpr char kFailedLog[] = "start\nRestore completed, status:1602\nend\n";
constexpr char kSucceededLog[] = "start\nRestore completed, status:0\nend\n";
constexpr char kIPhoneFolder[] = "Library/Logs/iPhone Updater Logs";
constexpr char kIPodFolder[] = "Library/Logs/iPod Updater Logs";
constexpr char kIPadFolder[] = "Library/Logs/iPad Updater Logs";

// What `call` answers, run on a thread of its own; the test fails unless it returns within 5 s of
// real time. A call still blocked then on one of `fifos` is released by opening them for writing.
template <typename Call>
auto promptly(Call call, const std::vector<std::string>& fifos) {
  auto answer = std::async(std::launch::async, call);
  testing_support::Deadline deadline(5);
  if (answer.wait_for(std::chrono::milliseconds(deadline.millisecondsLeft())) !=
      std::future_status::ready) {
    ADD_FAILURE() << "the call blocked";
    for (const std::string& fifo : fifos) {
      int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) close(fd);
    }
  }
  return answer.get();
}

// The digest as coreutils computes it, as a peer of our own.
std::string sha1sum(const std::string& path) {
  testing_support::ChildResult run = testing_support::runChild({"/usr/bin/sha1sum", "--", path});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  return run.out.substr(0, 40);
}

class RulesTest : public testing_support::HomeTest {
 protected:
  foundation::ManualClock clock;
  foundation::ScopedClock useClock{clock};

  Date created(const std::string& path) {
    std::optional<Date> date = FileManager::creationDateOfItemAtPath(path);
    EXPECT_TRUE(date) << path;
    return date.value_or(Date{});
  }

  // Writes a file; when `after` is given, remakes it until the file system's clock has moved past
  // that time, so that the file is strictly newer (its timestamps advance in coarse steps).
  std::string write(const std::string& relative, std::string_view contents,
                    std::optional<Date> after = std::nullopt) {
    std::string path = sandbox.inHome(relative);
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (true) {
      writeFile(path, contents);
      if (!after || created(path) > *after) return path;
      if (std::chrono::steady_clock::now() > giveUp) {
        ADD_FAILURE() << "the file system's clock did not move";
        return path;
      }
      std::filesystem::remove(path);
    }
  }

  void installMendkit() {
    std::filesystem::create_directories(sandbox.inRoot("Applications/Mendkit.app/Contents"));
  }

  std::optional<std::string> storedDigest() {
    auto file = foundation::readPropertyListFile(foundation::UserDefaults::standard().path());
    if (!file || !file->objectForKey("LastFileSha1")) return std::nullopt;
    const std::string* text = file->objectForKey("LastFileSha1")->string();
    return text ? std::optional<std::string>(*text) : std::nullopt;
  }

  std::string workFolder(const std::string& name) {
    return "Library/Caches/Cleanup At Startup/" + name;
  }
};

// --- mendkitIsRemoved ---------------------------------------------------------------------------

TEST_F(RulesTest, MendkitIsLookedForInApplicationsThenOnTheDesktop) {
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  std::filesystem::create_directories(sandbox.inHome("Desktop/Mendkit.app"));
  EXPECT_EQ(Rules::mendkitIsRemoved(), sandbox.inHome("Desktop/Mendkit.app"));
  installMendkit();
  EXPECT_EQ(Rules::mendkitIsRemoved(), "/Applications/Mendkit.app");
}

TEST_F(RulesTest, ABundleTheUserCannotEnterIsPassedOver) {
  std::filesystem::create_directories(sandbox.inHome("Desktop/Mendkit.app"));
  // Even the superuser may not execute a plain file without execute bits.
  writeFile(sandbox.inRoot("Applications/Mendkit.app"), "not a bundle");
  ASSERT_EQ(chmod(sandbox.inRoot("Applications/Mendkit.app").c_str(), 0644), 0);
  EXPECT_EQ(Rules::mendkitIsRemoved(), sandbox.inHome("Desktop/Mendkit.app"));
  if (geteuid() != 0) {
    std::filesystem::remove(sandbox.inRoot("Applications/Mendkit.app"));
    installMendkit();
    ASSERT_EQ(chmod(sandbox.inRoot("Applications/Mendkit.app").c_str(), 0), 0);
    EXPECT_EQ(Rules::mendkitIsRemoved(), sandbox.inHome("Desktop/Mendkit.app"));
    chmod(sandbox.inRoot("Applications/Mendkit.app").c_str(), 0755);
  }
}

class MendkitConfigTest : public RulesTest {
 protected:
  std::string configPath() {
    return sandbox.inHome("Library/Application Support/Mendkit/config.plist");
  }
  void writeConfig(const foundation::PlistValue& value) {
    std::filesystem::create_directories(std::filesystem::path(configPath()).parent_path());
    ASSERT_TRUE(foundation::writePropertyListFile(configPath(), value));
  }
  void writeBinaryConfig(const std::string& bundlePath, bool truncated = false) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "MendkitBundlePath", plist_new_string(bundlePath.c_str()));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bytes, &length);
    plist_free(dict);
    ASSERT_NE(bytes, nullptr);
    writeFile(configPath(), std::string_view(bytes, truncated ? length / 2 : length));
    free(bytes);
  }
  // A bundle outside the fixed places, named with a doubled separator and a trailing one: the
  // answer must be the stored text, not a normalised path.
  std::string bundle() {
    std::filesystem::create_directories(sandbox.inHome("Other Place/Mendkit.app"));
    return sandbox.home() + "//Other Place/Mendkit.app/";
  }
};

TEST_F(MendkitConfigTest, TheConfiguredPathIsAnsweredAsStoredFromXmlOrBinary) {
  writeConfig(foundation::PlistDictionary{{"MendkitBundlePath", bundle()}, {"LanguageCode", "de"}});
  EXPECT_EQ(Rules::mendkitIsRemoved(), bundle());
  writeBinaryConfig(bundle());
  EXPECT_EQ(Rules::mendkitIsRemoved(), bundle());
  // The fixed places still come first, the Desktop before the configured path.
  std::filesystem::create_directories(sandbox.inHome("Desktop/Mendkit.app"));
  EXPECT_EQ(Rules::mendkitIsRemoved(), sandbox.inHome("Desktop/Mendkit.app"));
  installMendkit();
  EXPECT_EQ(Rules::mendkitIsRemoved(), "/Applications/Mendkit.app");
}

TEST_F(MendkitConfigTest, AConfigThatNamesNothingUsableGivesNil) {
  writeConfig(foundation::PlistDictionary{{"MendkitBundlePath", sandbox.inHome("gone.app")}});
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  writeConfig(foundation::PlistDictionary{{"MendkitBundlePath", 42}});
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  writeConfig(foundation::PlistDictionary{{"LanguageCode", "en"}});
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  writeConfig(foundation::PlistArray{foundation::PlistValue(bundle())});
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  writeConfig(foundation::PlistValue(bundle()));
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
}

TEST_F(MendkitConfigTest, ABrokenConfigGivesNil) {
  writeBinaryConfig(bundle(), /*truncated=*/true);
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  writeFile(configPath(), "MendkitBundlePath = \"" + bundle() + "\"\n");
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  std::string xml = "<?xml version=\"1.0\"?><plist><dict><key>MendkitBundlePath</key><string>" +
                    bundle() + "</string></dict></plist>";
  writeFile(configPath(), xml.substr(0, xml.size() - 12));
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
  std::filesystem::remove(configPath());
  std::filesystem::create_directories(configPath());
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt);
}

TEST_F(MendkitConfigTest, AHugeConfigGivesNil) {
  std::string huge = "<?xml version=\"1.0\"?><plist><dict><key>MendkitBundlePath</key><string>" +
                     bundle() + "</string><key>padding</key><string>";
  huge.append(Rules::kMaxConfigSize, 'x');
  huge += "</string></dict></plist>\n";
  writeFile(configPath(), huge);
  EXPECT_EQ(foundation::readPropertyListFile(configPath())
                ->objectForKey("MendkitBundlePath")
                ->string()
                ->size(),
            bundle().size())
      << "the file itself is a valid config";
  EXPECT_EQ(Rules::mendkitIsRemoved(), std::nullopt) << "but too large to be read on every tick";
}

TEST_F(MendkitConfigTest, AConfigThatIsAFifoGivesNilAtOnce) {
  std::filesystem::create_directories(std::filesystem::path(configPath()).parent_path());
  ASSERT_EQ(mkfifo(configPath().c_str(), 0600), 0);
  EXPECT_EQ(promptly([] { return Rules::mendkitIsRemoved(); }, {configPath()}), std::nullopt);
}

// --- mendkitIsRunning ---------------------------------------------------------------------------

TEST_F(RulesTest, ARunningMendkitIsSeenWhereverItWasStarted) {
  EXPECT_FALSE(Rules::mendkitIsRunning());
  {
    RunningProgram copy(sandbox.inHome("Volumes/Disk 1/Mendkit.app/Contents/MacOS/Mendkit"));
    ASSERT_GT(copy.pid(), 0);
    EXPECT_TRUE(Rules::mendkitIsRunning());
  }
  EXPECT_FALSE(Rules::mendkitIsRunning());
  RunningProgram helper(sandbox.inHome("Any.app/Contents/MacOS/MendkitHelper"));
  ASSERT_GT(helper.pid(), 0);
  EXPECT_TRUE(Rules::mendkitIsRunning());
}

TEST_F(RulesTest, AnExecutableDifferingInLetterCaseIsNotMendkit) {
  RunningProgram lower(sandbox.inHome("Mendkit.app/Contents/MacOS/mendkit"));
  RunningProgram upper(sandbox.inHome("Mendkit.app/Contents/macos/Mendkit"));
  ASSERT_GT(lower.pid(), 0);
  ASSERT_GT(upper.pid(), 0);
  EXPECT_FALSE(Rules::mendkitIsRunning());
}

// --- iTunesRepairNow ----------------------------------------------------------------------------

TEST_F(RulesTest, NoWorkFoldersMeansNoRestore) {
  EXPECT_FALSE(Rules::iTunesRepairNow());
  std::filesystem::create_directories(sandbox.inHome(workFolder("")));
  EXPECT_FALSE(Rules::iTunesRepairNow());
  EXPECT_EQ(clock.slept(), 0);
}

TEST_F(RulesTest, AYoungWorkFolderIsWaitedForThenLookedInto) {
  std::string image = write(workFolder("abc.noindex/Restore.dmg"), "");
  Date folder = created(sandbox.inHome(workFolder("abc.noindex")));
  clock.setNow(folder.addingTimeInterval(3));
  EXPECT_TRUE(Rules::iTunesRepairNow());
  EXPECT_EQ(clock.slept(), 5);
  // A creation time in the future counts by its distance as well.
  clock.setNow(folder.addingTimeInterval(-3));
  EXPECT_TRUE(Rules::iTunesRepairNow());
  EXPECT_EQ(clock.slept(), 10);
}

TEST_F(RulesTest, AYoungWorkFolderIsLookedIntoOnlyAfterTheWait) {
  write(workFolder("abc.noindex/readme"), "");
  clock.setNow(created(sandbox.inHome(workFolder("abc.noindex"))).addingTimeInterval(1));
  clock.setSleepObserver([&](double) { write(workFolder("abc.noindex/Restore.dmg"), ""); });
  EXPECT_TRUE(Rules::iTunesRepairNow()) << "the image that appeared during the wait counts";

  std::filesystem::remove_all(sandbox.inHome(workFolder("")));
  write(workFolder("gone.noindex/Restore.dmg"), "");
  clock.setNow(created(sandbox.inHome(workFolder("gone.noindex"))));
  clock.setSleepObserver(
      [&](double) { std::filesystem::remove_all(sandbox.inHome(workFolder("gone.noindex"))); });
  EXPECT_FALSE(Rules::iTunesRepairNow()) << "a folder removed during the wait is passed over";
  clock.setSleepObserver(nullptr);
}

TEST_F(RulesTest, WorkFolderAgeDecidesWaitingAndIgnoring) {
  write(workFolder("abc.noindex/Restore.dmg"), "");
  Date folder = created(sandbox.inHome(workFolder("abc.noindex")));
  clock.setNow(folder.addingTimeInterval(10));
  EXPECT_TRUE(Rules::iTunesRepairNow());
  EXPECT_EQ(clock.slept(), 0) << "10 seconds is no longer young";
  clock.setNow(folder.addingTimeInterval(120));
  EXPECT_TRUE(Rules::iTunesRepairNow());
  clock.setNow(folder.addingTimeInterval(600));
  EXPECT_TRUE(Rules::iTunesRepairNow());
  clock.setNow(folder.addingTimeInterval(600.5));
  EXPECT_FALSE(Rules::iTunesRepairNow());
  clock.setNow(folder.addingTimeInterval(660));
  EXPECT_FALSE(Rules::iTunesRepairNow());
  EXPECT_EQ(clock.slept(), 0);
}

TEST_F(RulesTest, OnlyNamesEndingInLowerCaseDmgInsideNoindexFoldersCount) {
  write(workFolder("a.noindex/Restore.DMG"), "");
  write(workFolder("b.noindex/Restore.dmg.part"), "");
  write(workFolder("plain/Restore.dmg"), "");
  write(workFolder("file.noindex"), "a file, not a folder");
  clock.setNow(created(sandbox.inHome(workFolder("a.noindex"))).addingTimeInterval(60));
  EXPECT_FALSE(Rules::iTunesRepairNow());
  write(workFolder("c.noindex-x/Restoredmg"), "");
  EXPECT_TRUE(Rules::iTunesRepairNow());
}

TEST_F(RulesTest, EveryYoungWorkFolderIsWaitedForOnce) {
  write(workFolder("a.noindex/readme"), "");
  write(workFolder("b.noindex/readme"), "");
  clock.setNow(created(sandbox.inHome(workFolder("b.noindex"))));
  EXPECT_FALSE(Rules::iTunesRepairNow());
  EXPECT_EQ(clock.slept(), 10);
}

// --- rulesForLogDate ----------------------------------------------------------------------------

TEST_F(RulesTest, TheFreshnessWindowIsSevenDaysEitherWayExclusive) {
  Date now = clock.now();
  EXPECT_TRUE(Rules::rulesForLogDate(now));
  EXPECT_TRUE(Rules::rulesForLogDate(now.addingTimeInterval(-604799.5)));
  EXPECT_TRUE(Rules::rulesForLogDate(now.addingTimeInterval(604799.5)));
  EXPECT_FALSE(Rules::rulesForLogDate(now.addingTimeInterval(-604800)));
  EXPECT_FALSE(Rules::rulesForLogDate(now.addingTimeInterval(604800)));
  EXPECT_FALSE(Rules::rulesForLogDate(std::nullopt));
  clock.setNow(Date{100});
  EXPECT_FALSE(Rules::rulesForLogDate(std::nullopt)) << "no date is never fresh";
  EXPECT_TRUE(Rules::rulesForLogDate(Date{0}));
}

// --- latestLogFileWithiTunes --------------------------------------------------------------------

TEST_F(RulesTest, TheNewestLogOfTheSourceIsFound) {
  std::string old = write(std::string(kIPhoneFolder) + "/iPhoneUpdater 1.log", "a");
  std::string newer = write(std::string(kIPhoneFolder) + "/iPhoneUpdater 2.log", "b", created(old));
  write(std::string(kIPhoneFolder) + "/x.log", "c", created(newer));
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/Library/Logs/iPhone Updater Logs/", "iPhoneUpdater"),
            sandbox.inHome(std::string(kIPhoneFolder) + "/iPhoneUpdater 2.log"));
  std::string newest =
      write(std::string(kIPhoneFolder) + "/iPhoneUpdater 0.log", "d", created(newer));
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPhoneFolder), "iPhoneUpdater"),
            newest);
}

TEST_F(RulesTest, OnlyNamesEndingInLogWithTheFileNameWordAreLogs) {
  std::string log = write(std::string(kIPodFolder) + "/iPodUpdater-1.log", "a");
  Date after = created(log);
  for (const char* name : {"iPodUpdater-2.log.gz", "iPodUpdater-3.txt", "ipodupdater-4.log",
                           "iPadUpdater-5.log", "other.log"}) {
    after = created(write(std::string(kIPodFolder) + "/" + name, "b", after));
  }
  std::filesystem::create_directories(sandbox.inHome(std::string(kIPodFolder) + "/sub"));
  write(std::string(kIPodFolder) + "/sub/iPodUpdater-9.log", "c", after);
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPodFolder), "iPodUpdater"), log);
  std::string noDot = write(std::string(kIPodFolder) + "/iPodUpdater-6log", "d", after);
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPodFolder), "iPodUpdater"), noDot);
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPodFolder), ""), std::nullopt);
}

TEST_F(RulesTest, EqualCreationTimesFavourTheLaterName) {
  std::string first = write(std::string(kIPadFolder) + "/iPadUpdater-a.log", "a");
  std::string second = sandbox.inHome(std::string(kIPadFolder) + "/iPadUpdater-b.log");
  ASSERT_EQ(link(first.c_str(), second.c_str()), 0);
  ASSERT_EQ(created(first), created(second));
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPadFolder), "iPadUpdater"), second);
}

TEST_F(RulesTest, NamesWithSpacesQuotesAndNewlinesAreLogsLikeAnyOther) {
  std::string odd = write(std::string(kIPadFolder) + "/it's \"iPadUpdater\"\n$(x).log", "a");
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPadFolder), "iPadUpdater"), odd);
}

TEST_F(RulesTest, AFolderThatIsMissingOrNoFolderHasNoLog) {
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPadFolder), "iPadUpdater"),
            std::nullopt);
  write(kIPadFolder, "iPadUpdater.log");
  EXPECT_EQ(Rules::latestLogFileWithiTunes("~/" + std::string(kIPadFolder), "iPadUpdater"),
            std::nullopt);
}

// --- analyiTunesLogisSuccess --------------------------------------------------------------------

TEST_F(RulesTest, OnlyACompletedRestoreWithoutStatusZeroIsAFailure) {
  EXPECT_FALSE(Rules::analyiTunesLogisSuccess(write("a.log", kFailedLog)));
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("b.log", kSucceededLog)));
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("c.log", "restore completed, status:1\n")));
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("d.log", "")));
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(
      write("e.log", std::string(kFailedLog) + "retry\n" + kSucceededLog)));
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("f.log", "Restore completed, status:01\n")))
      << "status:01 holds the success marker";
  EXPECT_FALSE(Rules::analyiTunesLogisSuccess(write("g.log", "Restore completed,status:0\n")));
}

TEST_F(RulesTest, ALogThatCannotBeReadAsUtf8TextIsNoFailure) {
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(sandbox.inHome("missing.log")));
  std::filesystem::create_directories(sandbox.inHome("folder.log"));
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(sandbox.inHome("folder.log")));
  ASSERT_EQ(mkfifo(sandbox.inHome("fifo.log").c_str(), 0600), 0);
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(sandbox.inHome("fifo.log"))) << "and no hang";
  for (std::string bad : {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
    EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("bad.log", std::string(kFailedLog) + bad)))
        << "bytes of length " << bad.size();
  }
  EXPECT_FALSE(Rules::analyiTunesLogisSuccess(
      write("good.log", std::string(kFailedLog) + "\xE2\x82\xAC \xF0\x9F\x93\xB1 \xC3\xA9")));
}

TEST_F(RulesTest, ALongLogIsJudgedWholeAcrossItsPieces) {
  const size_t piece = Rules::kLogReadChunkSize;
  std::string filler(piece * 2 + 100, 'a');
  // The completion marker split between the first two pieces.
  std::string split = filler;
  split.replace(piece - 7, 17, "Restore completed");
  EXPECT_FALSE(Rules::analyiTunesLogisSuccess(write("split.log", split)));
  // The success marker split right before its status.
  std::string success = filler;
  success.replace(piece - 20, 27, "Restore completed, status:0");
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("success.log", success)));
  success = filler;
  success.replace(piece * 2 - 1, 27, "Restore completed, status:0");
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("success2.log", success)));
  // A character split between pieces is still valid text.
  std::string character = split;
  character.replace(piece * 2 - 2, 4, "\xF0\x9F\x93\xB1");
  EXPECT_FALSE(Rules::analyiTunesLogisSuccess(write("character.log", character)));
  // One bad byte far behind the marker still makes the whole log unreadable.
  std::string late = split;
  late.back() = '\x80';
  EXPECT_TRUE(Rules::analyiTunesLogisSuccess(write("late.log", late)));
}

// --- getFileSHA1string --------------------------------------------------------------------------

TEST_F(RulesTest, TheDigestIsFortyLowerCaseHexDigits) {
  std::string log = write("x.log", std::string(kFailedLog) + std::string(100000, 'z'));
  EXPECT_EQ(Rules::getFileSHA1string(log), sha1sum(log));
  EXPECT_EQ(Rules::getFileSHA1string(write("abc", "abc")),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Rules::getFileSHA1string(sandbox.inHome("missing")),
            "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// --- rulesForiTunesRepairError ------------------------------------------------------------------

class RepairErrorTest : public RulesTest {
 protected:
  void SetUp() override { installMendkit(); }
  std::optional<std::string> word;
};

TEST_F(RepairErrorTest, NoLogsAtAllIsNoAndNoWord) {
  word = "untouched";
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "untouched");
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(nullptr));
}

TEST_F(RepairErrorTest, AFreshFailedLogIsReportedOnceUntilItChanges) {
  std::string log = write(std::string(kIPodFolder) + "/iPodUpdater.log", kFailedLog);
  clock.setNow(created(log).addingTimeInterval(2 * kDay));
  StderrCapture capture(sandbox.inHome("stderr.txt"));

  EXPECT_TRUE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPod");
  EXPECT_EQ(storedDigest(), sha1sum(log));

  word.reset();
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPod");

  std::ofstream(log, std::ios::app) << "more lines\n";
  EXPECT_TRUE(Rules::rulesForiTunesRepairError(nullptr));
  EXPECT_EQ(storedDigest(), sha1sum(log));

  std::string lines = capture.finish();
  EXPECT_EQ(occurrences(lines, "The File had been analysize!"), 1u) << lines;
}

// Rewrites the file in place with `contents` until its change time has moved, then gives its
// modification time back: only the change time and the content tell the two apart.
void rewriteKeepingSizeAndModificationTime(const std::string& path, std::string_view contents) {
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  ASSERT_EQ(contents.size(), static_cast<size_t>(before.st_size));
  struct stat after {};
  testing_support::Deadline giveUp(10);
  do {
    writeFile(path, contents);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
  } while (after.st_ctim.tv_sec == before.st_ctim.tv_sec &&
           after.st_ctim.tv_nsec == before.st_ctim.tv_nsec && !giveUp.passed());
  ASSERT_NE(after.st_ctim.tv_nsec + after.st_ctim.tv_sec * 1000000000L,
            before.st_ctim.tv_nsec + before.st_ctim.tv_sec * 1000000000L);
  ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(RepairErrorTest, AnUnchangedLogIsJudgedFromMemoryAndAnyChangeIsReadAgain) {
  std::string log = write(std::string(kIPodFolder) + "/iPodUpdater.log", kFailedLog);
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  auto readsOf = [&](bool expected) {
    const std::uint64_t before = Rules::logContentReads();
    EXPECT_EQ(Rules::rulesForiTunesRepairError(&word), expected);
    EXPECT_EQ(word, "iPod");
    EXPECT_EQ(storedDigest(), sha1sum(log));
    return Rules::logContentReads() - before;
  };

  // Changed less than 2 s ago: a change in the same tick of the file system's clock could go
  // unseen, so the log is read every time (analysis and digest).
  clock.setNow(created(log).addingTimeInterval(1));
  EXPECT_EQ(readsOf(true), 2u);
  EXPECT_EQ(readsOf(false), 2u);
  clock.setNow(created(log).addingTimeInterval(2 * kDay));
  EXPECT_EQ(readsOf(false), 2u);
  EXPECT_EQ(readsOf(false), 0u) << "unchanged since it was last read";
  EXPECT_EQ(readsOf(false), 0u);

  // The same size and modification time, another content: only the change time moved.
  std::string other = kFailedLog;
  other.replace(other.find("1602"), 4, "1603");
  rewriteKeepingSizeAndModificationTime(log, other);
  EXPECT_EQ(readsOf(true), 2u);
  EXPECT_EQ(readsOf(false), 0u);

  std::ofstream(log, std::ios::app) << "more lines\n";
  EXPECT_EQ(readsOf(true), 2u);

  // Another file renamed over the log, with the same content: read again, and already reported.
  const std::string replacement = sandbox.inHome("replacement.log");
  std::filesystem::copy_file(log, replacement);
  ASSERT_EQ(rename(replacement.c_str(), log.c_str()), 0);
  EXPECT_EQ(readsOf(false), 2u);
  EXPECT_EQ(readsOf(false), 0u);

  std::string lines = capture.finish();
  EXPECT_EQ(occurrences(lines, "The File had been analysize!"), 7u) << lines;
}

TEST_F(RepairErrorTest, ChecksOnTwoThreadsShareWhatWasLearnt) {
  std::string log = write(std::string(kIPadFolder) + "/iPadUpdater.log", kFailedLog);
  clock.setNow(created(log).addingTimeInterval(kDay));
  // Reported before, by an earlier run: what the checks learn of the log, they learn on their
  // own threads.
  foundation::UserDefaults::standard().setString("LastFileSha1", sha1sum(log));
  const std::uint64_t reads = Rules::logContentReads();
  auto checks = [] {
    int reported = 0;
    for (int i = 0; i < 20; ++i) {
      std::optional<std::string> device;
      reported += Rules::rulesForiTunesRepairError(&device) ? 1 : 0;
      if (device != "iPad") return -1;
    }
    return reported;
  };
  auto first = std::async(std::launch::async, checks);
  auto second = std::async(std::launch::async, checks);
  EXPECT_EQ(first.get(), 0);
  EXPECT_EQ(second.get(), 0);
  EXPECT_LE(Rules::logContentReads() - reads, 4u) << "at most one reading of each thread";
}

TEST_F(RepairErrorTest, FifosInPlaceOfLogFoldersLogsAndWorkFoldersAnswerNoAtOnce) {
  std::filesystem::create_directories(sandbox.inHome("Library/Logs"));
  std::filesystem::create_directories(sandbox.inHome(kIPodFolder));
  std::filesystem::create_directories(sandbox.inHome("Library/Caches"));
  const std::vector<std::string> fifos = {
      sandbox.inHome(kIPhoneFolder), sandbox.inHome(std::string(kIPodFolder) + "/iPodUpdater.log"),
      sandbox.inHome("Library/Caches/Cleanup At Startup"), sandbox.inHome(kIPadFolder)};
  for (const std::string& fifo : fifos) ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << fifo;
  clock.setNow(created(fifos[1]));
  auto [answer, device] = promptly(
      [] {
        std::optional<std::string> device;
        bool answer = Rules::rulesForiTunesRepairError(&device);
        return std::pair(answer, device);
      },
      fifos);
  EXPECT_FALSE(answer);
  EXPECT_EQ(device, "iPod") << "the log that is a FIFO was the one judged";
  EXPECT_EQ(storedDigest(), std::nullopt);
}

TEST_F(RepairErrorTest, ALogOlderOrNewerThanSevenDaysIsNotJudgedButNamed) {
  std::string log = write(std::string(kIPodFolder) + "/iPodUpdater.log", kFailedLog);
  clock.setNow(created(log).addingTimeInterval(8 * kDay));
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPod");
  clock.setNow(created(log).addingTimeInterval(-8 * kDay));
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  clock.setNow(created(log).addingTimeInterval(-6 * kDay));
  EXPECT_TRUE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(storedDigest(), sha1sum(log));
}

TEST_F(RepairErrorTest, OnlyTheNewestLogOfAllSourcesIsJudged) {
  std::string failed = write(std::string(kIPhoneFolder) + "/iPhoneUpdater.log", kFailedLog);
  std::string succeeded =
      write(std::string(kIPadFolder) + "/iPadUpdater.log", kSucceededLog, created(failed));
  clock.setNow(created(succeeded).addingTimeInterval(kDay));
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPad");
  EXPECT_EQ(storedDigest(), std::nullopt);
}

TEST_F(RepairErrorTest, ASourceWithoutALogNeverOutranksOneWithALog) {
  std::string log = write(std::string(kIPadFolder) + "/iPadUpdater.log", kFailedLog);
  clock.setNow(created(log));
  EXPECT_TRUE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPad");
}

TEST_F(RepairErrorTest, EqualCreationTimesFavourIPhoneThenIPod) {
  std::string ipad = write(std::string(kIPadFolder) + "/iPadUpdater.log", kFailedLog);
  std::filesystem::create_directories(sandbox.inHome(kIPodFolder));
  std::filesystem::create_directories(sandbox.inHome(kIPhoneFolder));
  std::string ipod = sandbox.inHome(std::string(kIPodFolder) + "/iPodUpdater.log");
  ASSERT_EQ(link(ipad.c_str(), ipod.c_str()), 0);
  clock.setNow(created(ipad));
  EXPECT_TRUE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPod");

  std::string iphone = sandbox.inHome(std::string(kIPhoneFolder) + "/iPhoneUpdater.log");
  ASSERT_EQ(link(ipad.c_str(), iphone.c_str()), 0);
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word)) << "the same content was reported";
  EXPECT_EQ(word, "iPhone");
}

TEST_F(RepairErrorTest, ANewerFileThatIsNoLogLeavesTheOlderLogJudged) {
  std::string log = write(std::string(kIPhoneFolder) + "/iPhoneUpdater.log", kFailedLog);
  write(std::string(kIPhoneFolder) + "/iPhoneUpdater.log.old", kSucceededLog, created(log));
  clock.setNow(created(log));
  EXPECT_TRUE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPhone");
}

TEST_F(RepairErrorTest, ALogWithoutACompletedRestoreIsNoFailure) {
  std::string log = write(std::string(kIPhoneFolder) + "/iPhoneUpdater.log", "started\n");
  clock.setNow(created(log));
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPhone");
  write(std::string(kIPhoneFolder) + "/iPhoneUpdater.log", std::string(kFailedLog) + "\xFF");
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(storedDigest(), std::nullopt);
}

// The check loop asks logsMayShowRepairError before the rule: on every state of the logs, the two
// together answer, store and log as the rule alone, and the short cut is taken where it may be.
TEST_F(RulesTest, TheLogShortCutGivesTheRuleAlonesAnswersAndStoredValues) {
  struct Outcome {
    bool answer;
    std::optional<std::string> digest;
    size_t repeats;
    bool operator==(const Outcome&) const = default;
  };
  auto outcome = [&](bool shortCut, bool* cut) {
    const std::optional<std::string> digestBefore = storedDigest();
    StderrCapture capture(sandbox.inHome("stderr.txt"));
    *cut = shortCut && !Rules::logsMayShowRepairError();
    std::optional<std::string> word;
    const bool answer = !*cut && Rules::rulesForiTunesRepairError(&word);
    Outcome result{answer, storedDigest(),
                   occurrences(capture.finish(), "The File had been analysize!")};
    // Back to the stored value found, for the other way to start from.
    if (digestBefore) {
      foundation::UserDefaults::standard().setString("LastFileSha1", *digestBefore);
    } else {
      foundation::UserDefaults::standard().removeObjectForKey("LastFileSha1");
    }
    foundation::UserDefaults::standard().synchronize();
    return result;
  };
  const std::string relative = std::string(kIPodFolder) + "/iPodUpdater.log";
  const std::string log = sandbox.inHome(relative);
  auto report = [&] {
    foundation::UserDefaults::standard().setString("LastFileSha1", sha1sum(log));
    foundation::UserDefaults::standard().synchronize();
  };
  struct Step {
    const char* facts;
    std::function<void()> make;
    double age;  // of the log when the rule is asked; 3 s is old enough for it to be remembered
    bool cutExpected;
  } steps[] = {
      {"no logs, Mendkit missing", [] {}, 3, true},
      {"a failed log, Mendkit missing", [&] { write(relative, kFailedLog); }, 3, false},
      {"Mendkit installed", [&] { installMendkit(); }, 3, false},
      {"already reported", report, 3, false},
      {"a succeeded log", [&] { writeFile(log, kSucceededLog); }, 3, true},
      {"eight days old", [] {}, 8 * kDay, true},
      {"a FIFO in its place",
       [&] {
         std::filesystem::remove(log);
         ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
       },
       3, true},
  };
  for (const Step& step : steps) {
    step.make();
    if (std::filesystem::exists(log)) clock.setNow(created(log).addingTimeInterval(step.age));
    bool cut = false, uncut = false;
    const Outcome alone = outcome(false, &uncut);
    const Outcome withShortCut = outcome(true, &cut);
    EXPECT_EQ(withShortCut, alone) << step.facts;
    EXPECT_EQ(cut, step.cutExpected) << step.facts;
  }
}

class RepairGateTest : public RulesTest {
 protected:
  // A failed log that would be reported, and a restore work folder that is in progress and young.
  void SetUp() override {
    std::string log = write(std::string(kIPhoneFolder) + "/iPhoneUpdater.log", kFailedLog);
    write(workFolder("x.noindex/Restore.dmg"), "");
    clock.setNow(created(log));
  }
  std::optional<std::string> word;
};

TEST_F(RepairGateTest, NoMendkitInstalledStopsBeforeAnythingElse) {
  word = "untouched";
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "untouched");
  EXPECT_EQ(clock.slept(), 0);
}

TEST_F(RepairGateTest, ARunningMendkitStopsBeforeITunesIsProbed) {
  installMendkit();
  RunningProgram mendkit(sandbox.inRoot("Applications/Mendkit.app/Contents/MacOS/Mendkit"));
  ASSERT_GT(mendkit.pid(), 0);
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, std::nullopt);
  EXPECT_EQ(clock.slept(), 0);
}

TEST_F(RepairGateTest, ARestoreInProgressStopsBeforeAnyLogIsRead) {
  installMendkit();
  EXPECT_FALSE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, std::nullopt);
  EXPECT_EQ(clock.slept(), 5);
  EXPECT_EQ(storedDigest(), std::nullopt);

  std::filesystem::remove(sandbox.inHome(workFolder("x.noindex/Restore.dmg")));
  EXPECT_TRUE(Rules::rulesForiTunesRepairError(&word));
  EXPECT_EQ(word, "iPhone");
}

}  // namespace
