#include "ToolKiFunction.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "foundation/FileDescriptor.h"
#include "support/StderrCapture.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using foundation::FileDescriptor;
using foundation::NSApplicationDirectory;
using foundation::NSDesktopDirectory;
using testing_support::ChildResult;
using testing_support::occurrences;
using testing_support::StderrCapture;
using testing_support::writeFile;

namespace {

std::string loginName() {
  passwd* entry = getpwuid(getuid());
  return entry && entry->pw_name ? entry->pw_name : "";
}

class ToolKiFunctionTest : public testing_support::HomeTest {
 protected:
  void makeFolder(const std::string& path) { std::filesystem::create_directories(path); }
};

// --- isAdministrator ----------------------------------------------------------------------------

class AdministratorTest : public ToolKiFunctionTest {
 protected:
  // Runs the check in a process that sees `groups` and `users` as its databases, as the user
  // `uid` when given (else as this test's user). Its log is in `err`.
  ChildResult check(const std::string& groups, const std::string& users,
                    std::optional<uid_t> uid = std::nullopt) {
    writeFile(sandbox.inHome("group"), groups);
    writeFile(sandbox.inHome("passwd"), users);
    std::vector<std::string> argv{ADMIN_CHECK_PATH, sandbox.inHome("group"),
                                  sandbox.inHome("passwd")};
    if (uid) argv.push_back(std::to_string(*uid));
    return testing_support::runChild(argv);
  }

  // The user's passwd line, taken from the real database.
  static std::string userLine() {
    passwd* entry = getpwuid(getuid());
    if (!entry) return "";
    return std::string(entry->pw_name) + ":x:" + std::to_string(entry->pw_uid) + ":" +
           std::to_string(entry->pw_gid) + "::" + entry->pw_dir + ":/bin/sh\n";
  }
};

TEST_F(AdministratorTest, TheRealDatabasesGiveOneLineWithTheLoginName) {
  StderrCapture capture(sandbox.inHome("stderr.txt"));
  bool administrator = ToolKiFunction::isAdministrator();
  std::string log = capture.finish();
  std::string yes = loginName() + " isAdministrator!", no = loginName() + " is not Administrator!";
  EXPECT_EQ(occurrences(log, yes), administrator ? 1u : 0u) << log;
  EXPECT_EQ(occurrences(log, no), administrator ? 0u : 1u) << log;
}

TEST_F(AdministratorTest, AListedMemberIsAnAdministrator) {
  ChildResult outcome =
      check("wheel:x:10:\nadmin:x:80:alice," + loginName() + ",bob\n", userLine());
  if (outcome.exitStatus == 77) GTEST_SKIP() << "no private databases: " << outcome.err;
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(occurrences(outcome.err, loginName() + " isAdministrator!"), 1u) << outcome.err;
  EXPECT_EQ(occurrences(outcome.err, "is not Administrator!"), 0u) << outcome.err;
}

TEST_F(AdministratorTest, OnlyAnExactListedNameCounts) {
  std::string upper = loginName();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The user's own primary group is called "admin" here, but the member list names others.
  std::string groups = "admin:x:" + std::to_string(getgid()) + ":" + upper + "," + loginName() +
                       "x,x" + loginName() + "\n";
  ChildResult outcome = check(groups, userLine());
  if (outcome.exitStatus == 77) GTEST_SKIP() << "no private databases: " << outcome.err;
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(occurrences(outcome.err, loginName() + " is not Administrator!"), 1u) << outcome.err;
  EXPECT_EQ(occurrences(outcome.err, "isAdministrator!"), 0u) << outcome.err;
}

TEST_F(AdministratorTest, WithoutAnAdminGroupTheUserIsNoAdministrator) {
  ChildResult outcome = check("wheel:x:10:" + loginName() + "\n", userLine());
  if (outcome.exitStatus == 77) GTEST_SKIP() << "no private databases: " << outcome.err;
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(occurrences(outcome.err, loginName() + " is not Administrator!"), 1u) << outcome.err;
}

TEST_F(AdministratorTest, WithoutAUserRecordTheUserIdIsNamed) {
  if (getuid() != 0) GTEST_SKIP() << "taking another user id needs the superuser";
  constexpr uid_t kUnknown = 54321;
  ChildResult outcome = check("admin:x:80:" + loginName() + ",54321\n", userLine(), kUnknown);
  if (outcome.exitStatus == 77) GTEST_SKIP() << "no private databases: " << outcome.err;
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(occurrences(outcome.err, "uid 54321 is not Administrator!"), 1u) << outcome.err;
  EXPECT_EQ(occurrences(outcome.err, "isAdministrator!"), 0u) << outcome.err;
}

// --- parsingURlHaveString -----------------------------------------------------------------------

TEST(ParsingURlHaveString, TheLastComponentHoldsTheNameInAnyCaseAndEndsInApp) {
  EXPECT_TRUE(ToolKiFunction::parsingURlHaveString("/Applications/Mendkit.app", "Mendkit.app"));
  EXPECT_TRUE(ToolKiFunction::parsingURlHaveString("/Applications/mendkit.app", "Mendkit.app"));
  EXPECT_TRUE(ToolKiFunction::parsingURlHaveString("/Applications/Old Mendkit.app", "Mendkit.app"));
  EXPECT_FALSE(ToolKiFunction::parsingURlHaveString("/Applications/Mendkit.APP", "Mendkit.app"));
  EXPECT_FALSE(
      ToolKiFunction::parsingURlHaveString("/Applications/Mendkit.app.zip", "Mendkit.app"));
  EXPECT_FALSE(
      ToolKiFunction::parsingURlHaveString("/Applications/Mendkit.app/Other.app", "Mendkit.app"));
  EXPECT_FALSE(ToolKiFunction::parsingURlHaveString("/Applications/Mendkit.app/", "Mendkit.app"));
  EXPECT_FALSE(ToolKiFunction::parsingURlHaveString("/Applications/Tool.app", ""));
}

TEST(ParsingURlHaveString, CaseIsIgnoredInEveryScriptAndNormalForm) {
  EXPECT_TRUE(
      ToolKiFunction::parsingURlHaveString("/Applications/M\u00C4NDKIT.app", "m\u00E4ndkit.app"));
  EXPECT_TRUE(ToolKiFunction::parsingURlHaveString(
      "/Applications/\u0394\u0395\u039B\u03A4\u0391.app", "\u03B4\u03B5\u03BB\u03C4\u03B1.app"));
  EXPECT_TRUE(ToolKiFunction::parsingURlHaveString("/Applications/STRASSE.app", "Stra\u00DFe.app"))
      << "full folding: sharp s is ss";
  EXPECT_TRUE(
      ToolKiFunction::parsingURlHaveString("/Applications/MA\u0308NDKIT.app", "m\u00E4ndkit.app"))
      << "a decomposed name equals the composed one";
  EXPECT_FALSE(
      ToolKiFunction::parsingURlHaveString("/Applications/MANDKIT.app", "m\u00E4ndkit.app"));
  EXPECT_FALSE(ToolKiFunction::parsingURlHaveString("/Applications/Caf\u00E9.app", "Cafe"))
      << "a letter with an accent is another letter";
}

// Bytes that are not UTF-8 are compared as they are, ASCII letters without regard to case.
TEST(ParsingURlHaveString, BytesThatAreNotUtf8MatchOnlyThemselves) {
  EXPECT_TRUE(
      ToolKiFunction::parsingURlHaveString("/Applications/\xFFOld Mendkit.app", "mendkit.app"));
  EXPECT_TRUE(
      ToolKiFunction::parsingURlHaveString("/Applications/M\xC4NDKIT.app", "m\xC4ndkit.app"));
  EXPECT_FALSE(
      ToolKiFunction::parsingURlHaveString("/Applications/M\xC4NDKIT.app", "m\u00E4ndkit.app"));
  EXPECT_FALSE(
      ToolKiFunction::parsingURlHaveString("/Applications/M\xC4NDKIT.app", "m\xE4ndkit.app"));
}

// --- listForDirectory and aplicationIsInstall ---------------------------------------------------

TEST_F(ToolKiFunctionTest, ListingsGiveVisibleEntriesOfApplicationsAndDesktop) {
  EXPECT_EQ(ToolKiFunction::listForDirectory(NSApplicationDirectory), std::nullopt);
  makeFolder(sandbox.inRoot("Applications/Tool.app"));
  makeFolder(sandbox.inRoot("Applications/.Hidden.app"));
  makeFolder(sandbox.inRoot("Applications/Utilities/Inner.app"));
  std::optional<std::vector<std::string>> applications =
      ToolKiFunction::listForDirectory(NSApplicationDirectory);
  ASSERT_TRUE(applications);
  std::sort(applications->begin(), applications->end());
  EXPECT_EQ(*applications,
            (std::vector<std::string>{"/Applications/Tool.app", "/Applications/Utilities"}));
  writeFile(sandbox.inHome("Desktop/notes.txt"), "x");
  EXPECT_EQ(ToolKiFunction::listForDirectory(NSDesktopDirectory),
            std::vector<std::string>{sandbox.inHome("Desktop/notes.txt")});
}

TEST_F(ToolKiFunctionTest, ApplicationsWinOverTheDesktop) {
  makeFolder(sandbox.inHome("Desktop/Mendkit.app"));
  std::string found = "untouched";
  EXPECT_TRUE(ToolKiFunction::aplicationIsInstall("Mendkit", &found));
  EXPECT_EQ(found, sandbox.inHome("Desktop/Mendkit.app"));
  makeFolder(sandbox.inRoot("Applications/Mendkit.app"));
  EXPECT_TRUE(ToolKiFunction::aplicationIsInstall("Mendkit", &found));
  EXPECT_EQ(found, "/Applications/Mendkit.app");
  EXPECT_TRUE(ToolKiFunction::aplicationIsInstall("mendKIT", nullptr));
}

TEST_F(ToolKiFunctionTest, HiddenNestedAndMissingBundlesAreNotFound) {
  makeFolder(sandbox.inRoot("Applications/.Mendkit.app"));
  makeFolder(sandbox.inRoot("Applications/Utilities/Mendkit.app"));
  makeFolder(sandbox.inHome("Desktop/Mendkit.app.zip"));
  std::string found = "untouched";
  EXPECT_FALSE(ToolKiFunction::aplicationIsInstall("Mendkit", &found));
  EXPECT_FALSE(ToolKiFunction::aplicationIsInstall("", &found));
  EXPECT_FALSE(ToolKiFunction::aplicationIsInstall(std::nullopt, &found));
  EXPECT_EQ(found, "untouched");
}

TEST_F(ToolKiFunctionTest, TheApplicationsFolderIsMachineWide) {
  EXPECT_EQ(ToolKiFunction::ApllicationPath(), "/Applications");
}

// --- deleteFile ---------------------------------------------------------------------------------

TEST_F(ToolKiFunctionTest, DeletingRemovesFoldersWithTheirContents) {
  const std::string odd = sandbox.inHome("it's a \"disk\"\nimage.dmg");
  writeFile(odd, "x");
  writeFile(sandbox.inHome("mounted/inner/file"), "y");
  EXPECT_FALSE(ToolKiFunction::deleteFile(""));
  EXPECT_FALSE(ToolKiFunction::deleteFile(std::nullopt));
  EXPECT_TRUE(ToolKiFunction::deleteFile(odd));
  EXPECT_FALSE(std::filesystem::exists(odd));
  EXPECT_TRUE(ToolKiFunction::deleteFile(sandbox.inHome("mounted")));
  EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("mounted")));
  EXPECT_FALSE(ToolKiFunction::deleteFile(sandbox.inHome("mounted")));
}

// --- openAplication -----------------------------------------------------------------------------

// A stand-in for the open tool, installed under the platform root: it reports its process id and
// arguments on one inherited descriptor, then waits for a line on another before it ends.
class OpenTest : public ToolKiFunctionTest {
 protected:
  void SetUp() override {
    std::string tool = sandbox.inRoot("usr/bin/open");
    writeFile(tool,
              "#!/bin/sh\n"
              "printf '%s\\n' \"$$\" >>/dev/fd/$OPEN_REPORT_FD\n"
              "for a in \"$@\"; do printf '[%s]' \"$a\" >>/dev/fd/$OPEN_REPORT_FD; done\n"
              "read line </dev/fd/$OPEN_RELEASE_FD\n");
    ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
    int report[2], release[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
    _report.reset(report[0]);
    _toolReport.reset(report[1]);
    ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
    _toolRelease.reset(release[0]);
    _release.reset(release[1]);
    // The tool's ends are inherited; ours are closed on exec.
    ASSERT_EQ(fcntl(_toolReport.get(), F_SETFD, 0), 0);
    ASSERT_EQ(fcntl(_toolRelease.get(), F_SETFD, 0), 0);
    setenv("OPEN_REPORT_FD", std::to_string(_toolReport.get()).c_str(), 1);
    setenv("OPEN_RELEASE_FD", std::to_string(_toolRelease.get()).c_str(), 1);
  }
  void TearDown() override {
    unsetenv("OPEN_REPORT_FD");
    unsetenv("OPEN_RELEASE_FD");
  }

  // Drops this process's copies of the tool's ends, so that the report ends when the tool does.
  void keepOnlyOurEnds() {
    _toolReport.reset();
    _toolRelease.reset();
  }

  // Reads the report until `stop` is in it or it ends; empty after 10 s without progress.
  std::string read(const std::string& stop) {
    std::string text;
    char buffer[256];
    pollfd wait{_report.get(), POLLIN, 0};
    while (text.find(stop) == std::string::npos && poll(&wait, 1, 10'000) == 1) {
      ssize_t got = ::read(_report.get(), buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

  void release() { ASSERT_EQ(write(_release.get(), "go\n", 3), 3); }

  FileDescriptor _report, _release;          // this test's ends
  FileDescriptor _toolReport, _toolRelease;  // the ends the tool inherits
};

// Whether the process still exists (as a zombie too); waits up to 10 s for it to be reaped.
bool disappears(pid_t pid) {
  std::string proc = "/proc/" + std::to_string(pid);
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::filesystem::exists(proc)) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST_F(OpenTest, TheToolStartsWithThePathAsItsOnlyArgumentAndIsNotWaitedFor) {
  const std::string path = "/Applications/My \"Tool\" it's\n$(rm -rf x).app";
  ASSERT_TRUE(ToolKiFunction::openAplication(path));
  keepOnlyOurEnds();
  std::string first = read("\n");
  ASSERT_FALSE(first.empty()) << "the tool did not start";
  pid_t pid = std::stoi(first);
  // The tool is still waiting for its release: the call came back without waiting for it.
  EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(pid)));
  release();
  std::string rest = first.substr(first.find('\n') + 1) + read("\x01");
  EXPECT_EQ(rest, "[" + path + "]");
  EXPECT_TRUE(disappears(pid)) << "the ended tool was left unreaped";
}

TEST_F(OpenTest, NoPathStartsNothing) {
  EXPECT_FALSE(ToolKiFunction::openAplication(std::nullopt));
  keepOnlyOurEnds();
  EXPECT_EQ(read("\n"), "");
}

}  // namespace
