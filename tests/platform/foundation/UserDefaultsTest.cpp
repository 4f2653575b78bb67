#include "foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "foundation/Bundle.h"
#include "foundation/FileDescriptor.h"
#include "foundation/PropertyList.h"
#include "support/StderrCapture.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/TestSync.h"

using namespace foundation;
using testing_support::HomeTest;
using testing_support::occurrences;
using testing_support::readFile;
using testing_support::runChild;
using testing_support::StderrCapture;
using testing_support::Subprocess;
using testing_support::writeFile;

namespace {

// The writer's command line with `arguments`.
std::vector<std::string> writer(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{DEFAULTS_WRITER_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

// The last whole number the output printed, or `otherwise`.
std::int64_t lastNumber(const std::string& output, std::int64_t otherwise) {
  size_t end = output.rfind('\n');
  if (end == std::string::npos) return otherwise;
  size_t start = output.rfind('\n', end - 1);
  start = start == std::string::npos ? 0 : start + 1;
  return std::stoll(output.substr(start, end - start));
}

class UserDefaultsTest : public HomeTest {
 protected:
  std::string prefs(const std::string& domain = "test.domain") {
    return sandbox.inHome("Library/Preferences/" + domain + ".plist");
  }
  PlistDictionary fileContents(const std::string& path) {
    auto root = readPropertyListFile(path);
    EXPECT_TRUE(root && root->dictionary()) << path << " does not hold a dictionary";
    return root && root->dictionary() ? *root->dictionary() : PlistDictionary{};
  }
};

}  // namespace

// --- values and their types

TEST_F(UserDefaultsTest, AbsentKeysGiveTheirDefaults) {
  UserDefaults defaults(prefs());
  EXPECT_FALSE(defaults.objectForKey("NeverPopDialog"));
  EXPECT_FALSE(defaults.boolForKey("NeverPopDialog"));
  EXPECT_EQ(defaults.integerForKey("ServiceSiteID"), 0);
  EXPECT_FALSE(defaults.stringForKey("LastFileSha1"));
  EXPECT_FALSE(defaults.dateForKey("PopDialogDate"));
  EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_FALSE(std::filesystem::exists(prefs())) << "nothing to write, yet a file was made";
}

TEST_F(UserDefaultsTest, ValuesAreStoredAsTheirPropertyListTypes) {
  {
    UserDefaults defaults(prefs());
    defaults.setBool("Never", true);
    defaults.setBool("Ever", false);
    defaults.setInteger("Site", -5);
    defaults.setInteger("Big", std::int64_t{1} << 40);
    EXPECT_TRUE(defaults.setDate("When", Date{1'800'000'000.0}));
    defaults.setString("Sha", "ab cd");
    ASSERT_TRUE(defaults.synchronize());
  }
  std::string xml = readFile(prefs()).value_or("");
  EXPECT_NE(xml.find("<key>Never</key>\n\t<true/>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<key>Ever</key>\n\t<false/>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<integer>-5</integer>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<integer>1099511627776</integer>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<date>2027-01-15T08:00:00Z</date>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<string>ab cd</string>"), std::string::npos) << xml;

  UserDefaults again(prefs());
  EXPECT_TRUE(again.objectForKey("Never")->isBoolean());
  EXPECT_TRUE(again.boolForKey("Never"));
  EXPECT_FALSE(again.boolForKey("Ever"));
  EXPECT_EQ(again.integerForKey("Site"), -5);
  EXPECT_EQ(again.integerForKey("Big"), std::int64_t{1} << 40);
  EXPECT_EQ(again.dateForKey("When"), Date{1'800'000'000.0});
  EXPECT_EQ(again.stringForKey("Sha"), "ab cd");
}

TEST_F(UserDefaultsTest, TypedReadsOfOtherTypes) {
  UserDefaults defaults(prefs());
  defaults.setString("yes", " YES");
  defaults.setString("no", "no");
  defaults.setString("number", "42abc");
  defaults.setObject("real", 3.9);
  defaults.setInteger("seven", 7);
  defaults.setBool("true", true);
  defaults.setDate("date", Date{0});
  EXPECT_TRUE(defaults.boolForKey("yes"));
  EXPECT_FALSE(defaults.boolForKey("no"));
  EXPECT_TRUE(defaults.boolForKey("number"));
  EXPECT_EQ(defaults.integerForKey("number"), 42);
  EXPECT_EQ(defaults.integerForKey("real"), 3);
  EXPECT_EQ(defaults.integerForKey("true"), 1);
  EXPECT_FALSE(defaults.stringForKey("seven"));
  EXPECT_FALSE(defaults.dateForKey("seven"));
  EXPECT_FALSE(defaults.boolForKey("date"));
  EXPECT_EQ(defaults.integerForKey("date"), 0);
}

TEST_F(UserDefaultsTest, ReadsSeeThisObjectsChangesBeforeSynchronize) {
  UserDefaults writer(prefs());
  UserDefaults other(prefs());
  writer.setInteger("a", 1);
  writer.setInteger("b", 2);
  ASSERT_TRUE(writer.synchronize());
  writer.setInteger("a", 10);
  writer.removeObjectForKey("b");
  EXPECT_EQ(writer.integerForKey("a"), 10);
  EXPECT_FALSE(writer.objectForKey("b"));
  EXPECT_EQ(writer.dictionaryRepresentation(), (PlistDictionary{{"a", std::int64_t{10}}}));
  EXPECT_EQ(other.integerForKey("a"), 1) << "an unsynchronized change leaked to the file";
  EXPECT_EQ(other.integerForKey("b"), 2);
  ASSERT_TRUE(writer.synchronize());
  EXPECT_EQ(other.integerForKey("a"), 10);
  EXPECT_FALSE(other.objectForKey("b"));
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"a", std::int64_t{10}}}));
}

// --- change observers

TEST_F(UserDefaultsTest, ChangeObserversHearEachChangeMadeThroughTheObjectOnceItIsReadable) {
  UserDefaults defaults(prefs());
  UserDefaults other(prefs());
  std::vector<std::string> heard;
  UserDefaults::ChangeObserverId id = defaults.addChangeObserver([&](std::string_view key) {
    heard.push_back(std::string(key) + "=" + defaults.stringForKey(key).value_or("-"));
  });
  defaults.setString("a", "1");
  defaults.setInteger("b", 2);
  defaults.removeObjectForKey("a");
  EXPECT_FALSE(defaults.setDate("far", Date{1e12}));  // refused: no change to hear
  other.setString("c", "3");
  ASSERT_TRUE(other.synchronize());
  ASSERT_TRUE(defaults.synchronize());
  defaults.removeChangeObserver(id);
  defaults.setString("a", "after");
  EXPECT_EQ(heard, (std::vector<std::string>{"a=1", "b=-", "a=-"}));

  int calls = 0;
  UserDefaults::ChangeObserverId self = 0;
  self = defaults.addChangeObserver([&](std::string_view) {
    ++calls;
    defaults.removeChangeObserver(self);  // from inside its own call
  });
  defaults.setBool("k", false);
  defaults.setBool("k", true);
  EXPECT_EQ(calls, 1);
}

TEST_F(UserDefaultsTest, RemovingAChangeObserverWaitsForItsCallOnAnotherThread) {
  UserDefaults defaults(prefs());
  testing_support::Counter entered;
  testing_support::Gate release;
  std::atomic<bool> running{false};
  UserDefaults::ChangeObserverId id = defaults.addChangeObserver([&](std::string_view) {
    running = true;
    entered.increment();
    release.waitOpen();
    running = false;
  });
  std::thread writer([&] { defaults.setBool("k", true); });
  ASSERT_TRUE(entered.waitFor(1));
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    defaults.removeChangeObserver(id);
    removed = true;
  });
  bool settled = testing_support::waitUntilOtherThreadsSleep();
  EXPECT_FALSE(removed) << "the observer was removed while its call was running";
  release.open();
  writer.join();
  remover.join();
  EXPECT_TRUE(settled);
  EXPECT_TRUE(removed);
  EXPECT_FALSE(running);
  defaults.setBool("k", false);
  EXPECT_EQ(entered.value(), 1);
}

TEST_F(UserDefaultsTest, AValueNoFileCanHoldIsRefused) {
  UserDefaults defaults(prefs());
  EXPECT_FALSE(defaults.setDate("far", Date{1e12}));
  EXPECT_FALSE(defaults.objectForKey("far"));
  defaults.setInteger("next", 1);
  EXPECT_TRUE(defaults.synchronize()) << "one bad value must not block later writes";
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"next", std::int64_t{1}}}));
}

TEST_F(UserDefaultsTest, WhatTheFileCannotHoldIsRefusedAndTheFileLeftAsItWas) {
  UserDefaults defaults(prefs());
  defaults.setBool("NeverPopDialog", true);
  ASSERT_TRUE(defaults.synchronize());
  std::optional<std::string> before = readFile(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_FALSE(defaults.setObject("bell", PlistValue(std::string("ring\x07"))));
  EXPECT_FALSE(defaults.setObject("esc\x1b", PlistValue(std::string("v"))));
  EXPECT_FALSE(defaults.setObject("\xc3", PlistValue(std::int64_t{1})));  // not UTF-8
  EXPECT_TRUE(defaults.setObject("fine", PlistValue(std::string("tab\tline\n caf\xc3\xa9"))));
  defaults.setString("padding", std::string(4 << 20, 'p'));  // past what a read accepts
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_EQ(occurrences(capture.finish(), "more than the 4194304 a settings file may hold"), 1u);
  EXPECT_EQ(readFile(prefs()), before);
  EXPECT_FALSE(defaults.objectForKey("padding")) << "the refused change still reads as stored";
  defaults.setInteger("next", 1);
  EXPECT_TRUE(defaults.synchronize()) << "a refused write must not block later ones";
  EXPECT_EQ(fileContents(prefs()).size(), 2u);
}

TEST_F(UserDefaultsTest, StoredDatesOfAnyYearAreKeptAndABadOneBlocksNoWrite) {
  writeFile(prefs(),
            "<plist version=\"1.0\"><dict>"
            "<key>far</key><date>2500-01-01T00:00:00Z</date>"
            "<key>old</key><date>1900-01-01T00:00:00Z</date>"
            "<key>bad</key><date>99999-01-01T00:00:00Z</date>"
            "</dict></plist>");
  UserDefaults defaults(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_EQ(defaults.dateForKey("far"), Date{16725225600.0});
  EXPECT_EQ(defaults.dateForKey("old"), Date{-2208988800.0});
  EXPECT_FALSE(defaults.objectForKey("bad"));
  defaults.setInteger("x", 1);
  ASSERT_TRUE(defaults.synchronize());
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "holds 1 value a property list cannot carry"), 1u) << log;
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"far", Date{16725225600.0}},
                                                    {"old", Date{-2208988800.0}},
                                                    {"x", std::int64_t{1}}}));
}

TEST_F(UserDefaultsTest, StandardDefaultsFollowTheMainBundleAndTheHome) {
  ASSERT_EQ(Bundle::main(), nullptr) << "the test runs outside a bundle";
  UserDefaults& unbundled = UserDefaults::standard();
  EXPECT_EQ(unbundled.path(), prefs("foundation_tests"));
  EXPECT_EQ(&UserDefaults::standard(), &unbundled);

  writeFile(sandbox.inHome("Agent.app/Contents/Info.plist"),
            "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
            "<string>com.example.agent</string></dict></plist>");
  Bundle::setMainForTesting(Bundle::atPath(sandbox.inHome("Agent.app")));
  UserDefaults& bundled = UserDefaults::standard();
  EXPECT_EQ(bundled.path(), prefs("com.example.agent"));
  EXPECT_EQ(bundled.domain(), "com.example.agent");
  bundled.setBool("NeverPopDialog", true);
  EXPECT_TRUE(bundled.synchronize()) << "missing Preferences folders are made on write";
  Bundle::setMainForTesting(std::nullopt);
  EXPECT_TRUE(fileContents(prefs("com.example.agent")).count("NeverPopDialog"));
}

TEST_F(UserDefaultsTest, StandardDefaultsStartAfreshInANewHome) {
  UserDefaults::standard().setInteger("ServiceSiteID", 101);
  ASSERT_TRUE(UserDefaults::standard().synchronize());
  testing_support::TestHome other;
  EXPECT_EQ(UserDefaults::standard().path(),
            other.inHome("Library/Preferences/foundation_tests.plist"));
  EXPECT_EQ(UserDefaults::standard().integerForKey("ServiceSiteID"), 0);
}

// --- the file shared with other objects and processes

TEST_F(UserDefaultsTest, AnotherObjectSeesEverySynchronizedValue) {
  // Equal-sized files written within one tick of the file times, the reader skipping every other
  // one: a new file may get the inode of the one the reader last saw, so size, times and inode
  // alone can't tell them apart.
  UserDefaults writer(prefs());
  UserDefaults reader(prefs());
  for (int i = 0; i < 300; ++i) {
    std::string value = i % 2 ? "odd" : "evn";
    writer.setString("parity", value);
    ASSERT_TRUE(writer.synchronize());
    ASSERT_EQ(reader.stringForKey("parity"), value) << "write #" << i;
    writer.setString("parity", "mid");
    ASSERT_TRUE(writer.synchronize());
  }
}

TEST_F(UserDefaultsTest, AnotherProcessSeesValuesAfterSynchronize) {
  UserDefaults defaults(prefs());
  EXPECT_EQ(runChild(writer({"get", prefs(), "ServiceSiteID"})).out, "absent\n");
  defaults.setInteger("ServiceSiteID", 101);
  EXPECT_EQ(runChild(writer({"get", prefs(), "ServiceSiteID"})).out, "absent\n");
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(runChild(writer({"get", prefs(), "ServiceSiteID"})).out, "101\n");

  EXPECT_EQ(defaults.integerForKey("Other"), 0);
  ASSERT_EQ(runChild(writer({"set", prefs(), "Other", "7"})).exitStatus, 0);
  EXPECT_EQ(defaults.integerForKey("Other"), 7);
  EXPECT_EQ(defaults.integerForKey("ServiceSiteID"), 101);
}

TEST_F(UserDefaultsTest, ProcessesWritingDifferentKeysKeepEachOthersValues) {
  UserDefaults defaults(prefs());
  defaults.setString("Mine", "kept");
  ASSERT_TRUE(defaults.synchronize());
  Subprocess first(writer({"count", prefs(), "First", "500"}));
  Subprocess second(writer({"count", prefs(), "Second", "500"}));
  ASSERT_EQ(first.wait(60).exitStatus, 0);
  ASSERT_EQ(second.wait(60).exitStatus, 0);
  PlistDictionary contents = fileContents(prefs());
  EXPECT_EQ(contents["First"], PlistValue(500));
  EXPECT_EQ(contents["Second"], PlistValue(500));
  EXPECT_EQ(contents["Mine"], PlistValue("kept"));
  EXPECT_EQ(defaults.integerForKey("First"), 500);
}

TEST_F(UserDefaultsTest, SynchronizeAppliesOnlyThisObjectsChanges) {
  UserDefaults a(prefs());
  UserDefaults b(prefs());
  a.setInteger("old", 1);
  a.setInteger("gone", 1);
  ASSERT_TRUE(a.synchronize());
  a.setInteger("a", 1);
  a.removeObjectForKey("gone");
  b.setInteger("b", 2);
  b.setInteger("old", 2);
  ASSERT_TRUE(b.synchronize());
  ASSERT_TRUE(a.synchronize());
  EXPECT_EQ(
      fileContents(prefs()),
      (PlistDictionary{{"a", std::int64_t{1}}, {"b", std::int64_t{2}}, {"old", std::int64_t{2}}}));
  EXPECT_EQ(b.integerForKey("a"), 1);
  EXPECT_FALSE(b.objectForKey("gone"));
}

TEST_F(UserDefaultsTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
  const std::string path = prefs("killed");
  std::mt19937 random(20240601);
  std::int64_t known = 0;  // the value the file held after the previous round
  for (int round = 0; round < 200; ++round) {
    Subprocess child(writer({"churn", path, "Counter"}));
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(child.awaitOutput("\n", 60, random() % 3)) << "round " << round;
    volatile std::uint32_t sink = 0;  // a busy wait of random length, to kill at any moment
    for (std::uint32_t spin = random() % 400000; spin > 0; --spin) sink = sink + 1;
    // Killed at once, then what it printed before.
    std::int64_t acknowledged = lastNumber(child.wait(0).out, known);

    if (!std::filesystem::exists(path)) {
      ASSERT_EQ(known, 0) << "the file vanished in round " << round;
      continue;
    }
    auto root = readPropertyListFile(path);
    ASSERT_TRUE(root && root->dictionary()) << "torn file in round " << round;
    std::int64_t value = root->objectForKey("Counter")->integerValue().value_or(-1);
    ASSERT_TRUE(value == acknowledged || value == acknowledged + 1)
        << "round " << round << ": file holds " << value << ", last synchronized " << acknowledged;
    const std::string* padding = root->objectForKey("CounterPadding")->string();
    ASSERT_TRUE(padding);
    EXPECT_EQ(*padding, std::string(2000 + value % 7 * 300, static_cast<char>('a' + value % 26)))
        << "the file mixes two writes";
    known = value;
  }
  EXPECT_GT(known, 100) << "the writer was killed too early to test anything";
  size_t leftovers = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(sandbox.inHome("Library/Preferences"))) {
    leftovers += entry.path().filename().string().rfind(".killed.plist.", 0) == 0 ? 1 : 0;
  }
  EXPECT_LE(leftovers, 1u) << "temporary files of killed writers pile up";
}

// --- files that can't be used

TEST_F(UserDefaultsTest, ACorruptFileReadsAsEmptyIsLoggedOnceAndIsKept) {
  const std::string garbage = "<plist><dict><key>half";
  writeFile(prefs(), garbage);
  UserDefaults defaults(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_FALSE(defaults.objectForKey("half"));
  EXPECT_EQ(defaults.integerForKey("x"), 0);
  EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
  defaults.setInteger("x", 1);
  ASSERT_TRUE(defaults.synchronize());
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "is not a valid property list; reading it as empty"), 1u) << log;
  EXPECT_EQ(occurrences(log, "moved it to " + prefs() + ".corrupt"), 1u) << log;
  EXPECT_EQ(readFile(prefs() + ".corrupt"), garbage);
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"x", std::int64_t{1}}}));

  // A second corruption does not replace the first one kept.
  writeFile(prefs(), "<plist><array>");
  StderrCapture again(sandbox.inHome("stderr2.txt"));
  EXPECT_FALSE(defaults.objectForKey("x"));
  defaults.setInteger("y", 2);
  ASSERT_TRUE(defaults.synchronize());
  again.finish();
  EXPECT_EQ(readFile(prefs() + ".corrupt"), garbage);
  EXPECT_EQ(readFile(prefs() + ".corrupt.2"), "<plist><array>");
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"y", std::int64_t{2}}}));
}

TEST_F(UserDefaultsTest, AnOversizeFileIsSetAsideUnread) {
  std::string xml = *propertyListXml(PlistValue(
      PlistDictionary{{"kept", std::int64_t{1}}, {"padding", std::string(5 << 20, 'p')}}));
  writeFile(prefs(), xml);
  UserDefaults defaults(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_FALSE(defaults.objectForKey("kept"));
  EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
  defaults.setInteger("x", 1);
  ASSERT_TRUE(defaults.synchronize());
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "is larger than"), 1u) << log;
  EXPECT_EQ(readFile(prefs() + ".corrupt"), xml);
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"x", std::int64_t{1}}}));
}

TEST_F(UserDefaultsTest, ALinkedSettingsFileIsWrittenThroughAndStaysALink) {
  std::string real = sandbox.inHome("dotfiles/agent.plist");
  writeFile(real, *propertyListXml(PlistValue(PlistDictionary{{"kept", std::int64_t{1}}})));
  std::filesystem::create_directories(sandbox.inHome("Library/Preferences"));
  std::filesystem::create_symlink("../../dotfiles/agent.plist", prefs());
  UserDefaults defaults(prefs());
  defaults.setInteger("x", 2);
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_TRUE(std::filesystem::is_symlink(prefs()));
  EXPECT_EQ(fileContents(real),
            (PlistDictionary{{"kept", std::int64_t{1}}, {"x", std::int64_t{2}}}));
}

TEST_F(UserDefaultsTest, AFileIsReadAgainOnlyWhenItChanged) {
  // Bytes this process has read so far, from any file.
  auto bytesRead = [] {
    std::string io = readFile("/proc/self/io").value_or("");
    size_t at = io.find("rchar: ");
    return at == std::string::npos ? std::int64_t{-1} : std::stoll(io.substr(at + 7));
  };
  constexpr std::int64_t kPadding = 2 << 20;
  writeFile(prefs(), *propertyListXml(PlistValue(PlistDictionary{
                         {"padding", std::string(static_cast<size_t>(kPadding), 'p')}})));
  UserDefaults defaults(prefs());
  ASSERT_TRUE(defaults.objectForKey("padding"));
  std::int64_t before = bytesRead();
  ASSERT_GE(before, kPadding);
  defaults.setInteger("x", 1);
  ASSERT_TRUE(defaults.synchronize());
  defaults.setInteger("y", 2);
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(defaults.integerForKey("x"), 1);
  EXPECT_LT(bytesRead() - before, kPadding / 2) << "the unchanged file was read again";

  // A change by another writer is still seen, and kept.
  UserDefaults other(prefs());
  other.setInteger("z", 3);
  ASSERT_TRUE(other.synchronize());
  defaults.setInteger("x", 4);
  ASSERT_TRUE(defaults.synchronize());
  PlistDictionary contents = fileContents(prefs());
  EXPECT_EQ(contents["z"], PlistValue(3));
  EXPECT_EQ(contents["x"], PlistValue(4));
  EXPECT_EQ(contents["y"], PlistValue(2));
}

TEST_F(UserDefaultsTest, AFileThatIsNotADictionaryCountsAsCorrupt) {
  writeFile(prefs(), "<plist version=\"1.0\"><array><string>a</string></array></plist>");
  UserDefaults defaults(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
  defaults.setBool("b", true);
  EXPECT_TRUE(defaults.synchronize());
  capture.finish();
  EXPECT_TRUE(std::filesystem::exists(prefs() + ".corrupt"));
  EXPECT_TRUE(fileContents(prefs()).count("b"));
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsNeverWrittenOver) {
  std::filesystem::create_directories(prefs());  // a folder where the file should be
  UserDefaults defaults(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_FALSE(defaults.objectForKey("a"));
  EXPECT_FALSE(defaults.objectForKey("a"));
  defaults.setInteger("a", 1);
  EXPECT_FALSE(defaults.synchronize());
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "reading it as empty"), 1u) << log;
  EXPECT_TRUE(std::filesystem::is_directory(prefs()));
  EXPECT_EQ(defaults.integerForKey("a"), 1) << "the change stays pending";
}

TEST_F(UserDefaultsTest, AFifoInPlaceOfTheFileNeitherHangsNorIsReplaced) {
  std::filesystem::create_directories(std::filesystem::path(prefs()).parent_path());
  ASSERT_EQ(mkfifo(prefs().c_str(), 0600), 0);
  UserDefaults defaults(prefs());
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_FALSE(defaults.objectForKey("a"));
  defaults.setInteger("a", 1);
  EXPECT_FALSE(defaults.synchronize());
  capture.finish();
  struct stat info {};
  ASSERT_EQ(lstat(prefs().c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(UserDefaultsTest, AFailedSynchronizeKeepsTheChangesForTheNextOne) {
  writeFile(sandbox.inHome("Library"), "a file where a folder belongs");
  UserDefaults defaults(prefs());
  defaults.setInteger("ServiceSiteID", 101);
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  EXPECT_FALSE(defaults.synchronize());
  capture.finish();
  EXPECT_EQ(defaults.integerForKey("ServiceSiteID"), 101);
  std::filesystem::remove(sandbox.inHome("Library"));
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_EQ(fileContents(prefs()), (PlistDictionary{{"ServiceSiteID", std::int64_t{101}}}));
}

// --- threads

TEST_F(UserDefaultsTest, NoWriteIsLostWhileTheLockFileIsRemovedUnderItsLock) {
  std::atomic<bool> done{false};
  std::thread remover([&] {
    while (!done) {
      foundation::FileDescriptor lock(::open((prefs() + ".lock").c_str(), O_RDWR | O_CLOEXEC));
      if (lock.valid() && ::flock(lock.get(), LOCK_EX) == 0) ::unlink((prefs() + ".lock").c_str());
    }
  });
  auto writer = [&](const std::string& prefix) {
    UserDefaults own(prefs());  // one object each: only the lock file keeps them apart
    for (int i = 0; i < 100; ++i) {
      own.setInteger(prefix + std::to_string(i), i);
      EXPECT_TRUE(own.synchronize());
    }
  };
  std::thread first(writer, "a"), second(writer, "b");
  first.join(), second.join();
  done = true;
  remover.join();
  EXPECT_EQ(fileContents(prefs()).size(), 200u) << "writes were lost";
}

TEST_F(UserDefaultsTest, ManyThreadsShareOneObject) {
  UserDefaults defaults(prefs());
  constexpr int kThreads = 4;
  constexpr int kSteps = 150;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string key = "thread" + std::to_string(t);
      for (int step = 1; step <= kSteps; ++step) {
        defaults.setInteger(key, step);
        if (step % 10 == 0 && !defaults.synchronize()) ++wrong;
        if (defaults.integerForKey(key) != step) ++wrong;
        if (defaults.dictionaryRepresentation().count(key) != 1) ++wrong;
        UserDefaults::standard().setInteger(key, step);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  PlistDictionary contents = fileContents(prefs());
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(contents["thread" + std::to_string(t)], PlistValue(kSteps));
    EXPECT_EQ(UserDefaults::standard().integerForKey("thread" + std::to_string(t)), kSteps);
  }
}
