#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <list>
#include <set>

#include "JobProcess.h"
#include "JobRegistry.h"
#include "ToolsTest.h"
#include "foundation/FileDescriptor.h"
#include "foundation/PropertyList.h"
#include "support/DesktopEntry.h"
#include "support/StderrCapture.h"
#include "support/Subprocess.h"

namespace tools_tests {
namespace {

using foundation::PlistArray;
using foundation::PlistDictionary;
using foundation::PlistValue;
using testing_support::ChildOutput;
using testing_support::ChildResult;
using testing_support::execArguments;
using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::writeFile;

class LaunchctlTest : public ToolsTest {
 protected:
  ChildResult launchctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LAUNCHCTL_PATH);
    return testing_support::runChild(arguments);
  }

  std::string databasePath() {
    return sandbox.inRoot("private/var/db/com.apple.xpc.launchd/disabled." +
                          std::to_string(getuid()) + ".plist");
  }
  PlistDictionary database() {
    auto value = foundation::readPropertyListFile(databasePath());
    return value && value->dictionary() ? *value->dictionary() : PlistDictionary{};
  }

  std::string writeJob(const std::string& label, const std::vector<std::string>& arguments,
                       PlistDictionary extra = {}, std::string folder = "") {
    PlistArray argv(arguments.begin(), arguments.end());
    extra["Label"] = label;
    extra["ProgramArguments"] = argv;
    if (folder.empty()) folder = sandbox.inHome("Library/LaunchAgents");
    std::string path = folder + "/" + label + ".plist";
    writeFile(path, "");
    EXPECT_TRUE(foundation::writePropertyListFile(path, extra));
    return path;
  }

  // A job that reports its pid through `reports`, then sleeps as the same process.
  std::string sleeperJob(const std::string& label, PlistDictionary extra = {},
                         const std::string& before = "", const std::string& folder = "") {
    std::string script = before + "{ printf '%s\\0' \"$$\"; printf '\\n'; } > " +
                         shellWord(reports.path()) + "; exec sleep 1000";
    return writeJob(label, {"/bin/sh", "-c", script}, std::move(extra), folder);
  }

  // The names of the files in the autostart folder (a missing folder has none).
  std::set<std::string> autostartFiles(const std::string& configFolder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(configFolder + "/autostart", error)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  // The pid of the job loaded under `label`, 0 when none is.
  pid_t loadedPid(const std::string& label) {
    auto job = launchd::JobRegistry().find(label);
    return job ? job->process.pid : 0;
  }

  Fifo reports{sandbox.base() + "/reports"};
};

// --- the override database ---

TEST_F(LaunchctlTest, LoadWRecordsTheJobEnabledAndUnloadWDisabled) {
  std::string job = sleeperJob("com.example.flip");
  ASSERT_EQ(launchctl({"load", "-w", job}).exitStatus, 0);
  reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  EXPECT_EQ(database()["com.example.flip"], PlistValue(false));

  ASSERT_EQ(launchctl({"unload", "-w", job}).exitStatus, 0);
  EXPECT_EQ(database()["com.example.flip"], PlistValue(true));
}

TEST_F(LaunchctlTest, WritingAnEntryKeepsEveryOtherEntry) {
  writeFile(databasePath(), "");
  ASSERT_TRUE(foundation::writePropertyListFile(databasePath(),
                                                PlistDictionary{{"other", true}, {"odd", "text"}}));
  std::string job = writeJob("com.example.keep", {"/bin/true"});
  launchctl({"unload", "-w", job});
  EXPECT_EQ(database(),
            (PlistDictionary{{"other", true}, {"odd", "text"}, {"com.example.keep", true}}));
}

TEST_F(LaunchctlTest, UnloadWOfAJobNeverLoadedRecordsItDisabledQuietly) {
  std::string job = writeJob("com.example.idle", {"/bin/true"});
  ChildResult result = launchctl({"unload", "-w", job});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(database()["com.example.idle"], PlistValue(true));

  // A first installation stops a job whose file is not written yet.
  std::string missing = sandbox.inHome("Library/LaunchAgents/com.example.none.plist");
  result = launchctl({"unload", "-w", missing});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, "");
}

TEST_F(LaunchctlTest, ConcurrentInvocationsLoseNoEntry) {
  constexpr int kCount = 16;
  std::list<Subprocess> children;
  for (int index = 0; index < kCount; ++index) {
    std::string job = writeJob("com.example.c" + std::to_string(index), {"/bin/true"});
    children.emplace_back(std::vector<std::string>{LAUNCHCTL_PATH, "unload", "-w", job},
                          testing_support::ChildOptions{.output = ChildOutput::Discarded});
  }
  for (Subprocess& child : children) EXPECT_EQ(child.wait(60).exitStatus, 3);
  PlistDictionary entries = database();
  EXPECT_EQ(entries.size(), static_cast<size_t>(kCount));
  for (int index = 0; index < kCount; ++index) {
    EXPECT_EQ(entries["com.example.c" + std::to_string(index)], PlistValue(true)) << index;
  }
}

TEST_F(LaunchctlTest, AnUnreadableDatabaseIsNotReplaced) {
  writeFile(databasePath(), "not a property list");
  std::string job = writeJob("com.example.torn", {"/bin/true"});
  ChildResult result = launchctl({"unload", "-w", job});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("cannot write the override database"), std::string::npos);
  EXPECT_EQ(readFile(databasePath()), "not a property list");
}

// --- starting and stopping ---

TEST_F(LaunchctlTest, LoadStartsTheJobDetachedWithItsOutputRedirected) {
  std::string out = sandbox.base() + "/job.out";
  std::string job = sleeperJob("com.example.run", {{"StandardOutPath", out}}, "echo started; ");
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);  // inherited by launchctl; the job must not keep it
  foundation::FileDescriptor leakedRead(ends[0]), leakedWrite(ends[1]);
  ChildResult result = launchctl({"load", job});
  leakedRead.reset();
  leakedWrite.reset();
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");

  pid_t pid = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  EXPECT_TRUE(isRunning(pid));
  EXPECT_EQ(sessionOf(pid), pid);
  // Until the sleeper sleeps, its shell and then the dynamic loader hold other descriptors for
  // moments; a descriptor the job inherited would stay for good.
  waitSleepingIn(pid, "sleep");
  EXPECT_EQ(openDescriptors(pid), (std::vector<int>{0, 1, 2}));
  char target[256] = {};
  ASSERT_GT(readlink(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), target, 255), 0);
  EXPECT_STREQ(target, "/dev/null");
  EXPECT_EQ(readFile(out), "started\n");
}

TEST_F(LaunchctlTest, UnloadStopsTheJobBeforeItReturnsAndForgetsIt) {
  std::string job = sleeperJob("com.example.stop");
  ASSERT_EQ(launchctl({"load", job}).exitStatus, 0);
  pid_t pid = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  ASSERT_TRUE(isRunning(pid));

  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 0);
  EXPECT_FALSE(isRunning(pid));
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 3);
  EXPECT_EQ(database().count("com.example.stop"), 0u);  // no -w, no entry
}

TEST_F(LaunchctlTest, RemoveStopsTheJobByLabel) {
  std::string job = sleeperJob("com.example.remove");
  ASSERT_EQ(launchctl({"load", job}).exitStatus, 0);
  pid_t pid = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));

  EXPECT_EQ(launchctl({"remove", "com.example.remove"}).exitStatus, 0);
  EXPECT_TRUE(waitGone(pid));
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 3);
}

TEST_F(LaunchctlTest, RemoveOfAnUnknownLabelExits3Quietly) {
  ChildResult result = launchctl({"remove", "com.example.nobody"});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(launchctl({"remove", "../escape"}).exitStatus, 3);
}

TEST_F(LaunchctlTest, AJobIgnoringSigtermIsKilledAfterItsExitTimeOut) {
  std::string job = sleeperJob("com.example.stubborn", {{"ExitTimeOut", 1}}, "trap '' TERM; ");
  ASSERT_EQ(launchctl({"load", job}).exitStatus, 0);
  pid_t pid = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_FALSE(isRunning(pid));
}

TEST_F(LaunchctlTest, LoadingTwiceStartsOnce) {
  std::string job = sleeperJob("com.example.twice");
  ASSERT_EQ(launchctl({"load", job}).exitStatus, 0);
  ChildResult again = launchctl({"load", "-w", job});
  EXPECT_EQ(again.exitStatus, 0);
  EXPECT_EQ(again.err, job + ": service already loaded\n");
  pid_t pid = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 0);
  EXPECT_FALSE(isRunning(pid));
  EXPECT_EQ(reports.readRecord(0), std::nullopt);  // no second start reported
}

TEST_F(LaunchctlTest, ADisabledJobStartsOnlyWithW) {
  std::string job = sleeperJob("com.example.off");
  launchctl({"unload", "-w", job});
  ChildResult refused = launchctl({"load", job});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_EQ(refused.err, job + ": service disabled\n");
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 3);  // never loaded

  std::string marked = sleeperJob("com.example.marked", {{"Disabled", true}});
  EXPECT_EQ(launchctl({"load", marked}).exitStatus, 1);
  EXPECT_EQ(launchctl({"load", "-w", marked}).exitStatus, 0);
  reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
}

TEST_F(LaunchctlTest, AReusedPidIsNeverSignalled) {
  // A live group leader stands in for a process that got the job's pid after the job ended.
  Subprocess stranger({"/bin/sleep", "1000"},
                      {.output = ChildOutput::Discarded, .newProcessGroup = true});
  ASSERT_GT(stranger.pid(), 0);
  auto identity = launchd::identifyProcess(stranger.pid());
  ASSERT_TRUE(identity);

  std::string job = writeJob("com.example.reused", {"/bin/true"});
  auto plant = [&](std::uint64_t startTime) {
    launchd::JobRegistry registry;
    ASSERT_TRUE(registry.lock());
    launchd::JobProcess process = *identity;
    process.startTime = startTime;
    ASSERT_TRUE(registry.add({"com.example.reused", job, process, 0}));
  };
  plant(identity->startTime + 1);
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 0);
  EXPECT_TRUE(isRunning(stranger.pid()));

  plant(identity->startTime);  // the real identity: now it is the job's, and is stopped
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 0);
  ChildResult stopped = stranger.wait(60);
  EXPECT_TRUE(stopped.finished);
  EXPECT_NE(stopped.signal, 0);
}

// --- errors ---

TEST_F(LaunchctlTest, UnreadableJobFilesFailWithStatus1) {
  std::string missing = sandbox.inHome("nothing.plist");
  ChildResult result = launchctl({"load", "-w", missing});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, missing + ": No such file or directory\n");

  std::string garbage = sandbox.inHome("garbage.plist");
  writeFile(garbage, "<plist><dict><key>Label");
  EXPECT_EQ(launchctl({"load", garbage}).exitStatus, 1);
  EXPECT_EQ(launchctl({"unload", "-w", garbage}).exitStatus, 1);

  std::string unlabelled = sandbox.inHome("unlabelled.plist");
  writeFile(unlabelled, "");
  ASSERT_TRUE(foundation::writePropertyListFile(unlabelled, PlistDictionary{{"Label", "a/b"}}));
  EXPECT_EQ(launchctl({"load", unlabelled}).exitStatus, 1);
  EXPECT_TRUE(database().empty());
}

TEST_F(LaunchctlTest, AProgramThatCannotRunFailsAndIsNotLoaded) {
  std::string job = writeJob("com.example.absent", {"/nonexistent/program"});
  ChildResult result = launchctl({"load", job});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, job + ": cannot run /nonexistent/program: No such file or directory\n");
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 3);
}

TEST_F(LaunchctlTest, AFifoNoOneReadsAsOutputIsRefusedAtOnceAndHoldsNothing) {
  std::string fifo = sandbox.base() + "/out.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string job = writeJob("com.example.fifo", {"/bin/true"}, {{"StandardOutPath", fifo}});
  ChildResult result = testing_support::runChild({LAUNCHCTL_PATH, "load", job}, {}, 10);
  ASSERT_TRUE(result.finished) << "load waited on the FIFO";
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, job + ": cannot open StandardOutPath " + fifo +
                            ": it is a FIFO that no process reads\n");
  EXPECT_EQ(loadedPid("com.example.fifo"), 0);
  EXPECT_EQ(testing_support::runChild({LAUNCHCTL_PATH, "unload", job}, {}, 10).exitStatus, 3);
}

// The bound of an optimised build; unoptimised sanitizer builds run the same work several times
// slower, while reading the overrides once per job file took seconds even optimised.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kThousandLoadSeconds = 3.0;
#else
constexpr double kThousandLoadSeconds = 0.2;
#endif

TEST_F(LaunchctlTest, AThousandJobFilesAgainstAThousandOverridesLoadInAFifthOfASecond) {
  PlistDictionary overrides;
  std::vector<std::string> arguments{"load"};
  for (int index = 0; index < 1000; ++index) {
    std::string label = "com.example.many" + std::to_string(index);
    overrides[label] = true;
    arguments.push_back(sandbox.inHome("Library/LaunchAgents/" + label + ".plist"));
    writeFile(arguments.back(), *foundation::propertyListXml(PlistDictionary{
                                    {"Label", label}, {"ProgramArguments", PlistArray{"x"}}}));
  }
  writeFile(databasePath(), *foundation::propertyListXml(overrides));
  ChildResult result = launchctl(arguments);
  EXPECT_EQ(testing_support::occurrences(result.err, ": service disabled\n"), 1000u);
  EXPECT_LT(result.seconds, kThousandLoadSeconds);
  std::printf("[ figure   ] 1000 job files, 1000 overrides: load in %.3f s\n", result.seconds);
}

TEST_F(LaunchctlTest, UsageErrorsExit64) {
  for (std::vector<std::string> arguments :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"load"},
                                             {"unload", "-w"},
                                             {"load", "-x", "job"},
                                             {"remove"},
                                             {"remove", "a", "b"},
                                             {"bootstrap"},
                                             {"bootstrap", "gui/0"}}) {
    ChildResult result = launchctl(arguments);
    EXPECT_EQ(result.exitStatus, 64) << testing::PrintToString(arguments);
    EXPECT_NE(result.err.find("usage: launchctl"), std::string::npos);
  }
}

// --- the job's program ---

TEST_F(LaunchctlTest, UsrBinOpenIsTheOneUnderThePlatformRootWhenThereIsOne) {
  writeScript(sandbox.inRoot("usr/bin/open"), "{ printf '%s\\0' \"$$\" \"$@\"; printf '\\n'; } > " +
                                                  shellWord(reports.path()) + "; exec sleep 1000");
  std::string job = writeJob("com.example.rooted", {"/usr/bin/open", "-g", "it's $HOME", ""});
  ASSERT_EQ(launchctl({"load", job}).exitStatus, 0);
  auto record = reports.readRecord().value_or(std::vector<std::string>{});
  reportedPid(record);
  EXPECT_EQ(record, (std::vector<std::string>{record.at(0), "-g", "it's $HOME", ""}));
}

TEST_F(LaunchctlTest, UsrBinOpenIsThePlatformsOwnOpenOtherwise) {
  std::string bundle = sandbox.base() + "/Agent.app";
  writeBundle(bundle, "{ printf '%s\\0' \"$$\" \"$@\"; printf '\\n'; } > " +
                          shellWord(reports.path()) + "; exec sleep 1000");
  std::string job =
      writeJob("com.example.agent", {"/usr/bin/open", "-g", "-W", bundle, "--args", "-r"});
  ASSERT_EQ(launchctl({"load", "-w", job}).exitStatus, 0);
  auto record = reports.readRecord().value_or(std::vector<std::string>{});
  pid_t app = reportedPid(record);
  EXPECT_EQ(record, (std::vector<std::string>{record.at(0), "-r"}));

  // open -W keeps the application in the job: stopping the job stops the application.
  EXPECT_EQ(launchctl({"unload", job}).exitStatus, 0);
  EXPECT_FALSE(isRunning(app));
}

// --- logging in ---

TEST_F(LaunchctlTest, LoadWWritesALoginEntryThatStartsTheJobAgainAtLogin) {
  std::string home = sandbox.base() + "/h o'm\"e $HOME `id` \\ 100%\tx\ny";
  std::string config = sandbox.base() + "/config";
  setenv("HOME", home.c_str(), 1);  // both restored by the sandbox
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  std::string agents = home + "/Library/LaunchAgents";
  std::string job = sleeperJob("com.example.login", {{"RunAtLoad", true}}, "", agents);

  ASSERT_EQ(launchctl({"load", "-w", job}).exitStatus, 0);
  pid_t first = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  std::set<std::string> files = autostartFiles(config);
  ASSERT_EQ(files.size(), 1u);  // no temporary file left beside it
  std::string name = *files.begin();
  EXPECT_TRUE(name.ends_with(".desktop")) << name;
  std::string entry = readFile(config + "/autostart/" + name).value_or("");
  EXPECT_TRUE(entry.starts_with("[Desktop Entry]\n")) << entry;
  for (const char* line : {"\nType=Application\n", "\nX-GNOME-Autostart-enabled=true\n"}) {
    EXPECT_NE(entry.find(line), std::string::npos) << line << " missing in\n" << entry;
  }
  EXPECT_NE(entry.find("\nName="), std::string::npos);
  std::string launchctlPath = std::filesystem::canonical(LAUNCHCTL_PATH);
  EXPECT_NE(entry.find("\nTryExec=" + launchctlPath + "\n"), std::string::npos) << entry;
  std::vector<std::string> login = execArguments(entry);
  EXPECT_EQ(login, (std::vector<std::string>{launchctlPath, "bootstrap",
                                             "gui/" + std::to_string(getuid()), agents}));

  // The session ends; the job stays enabled, and the next login starts it again.
  ASSERT_EQ(launchctl({"unload", job}).exitStatus, 0);
  EXPECT_FALSE(isRunning(first));
  EXPECT_EQ(autostartFiles(config), files);
  ASSERT_FALSE(login.empty());
  ChildResult atLogin = testing_support::runChild(login);
  EXPECT_EQ(atLogin.exitStatus, 0) << atLogin.err;
  pid_t second = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  EXPECT_TRUE(isRunning(second));

  ASSERT_EQ(launchctl({"unload", "-w", job}).exitStatus, 0);
  EXPECT_FALSE(isRunning(second));
  EXPECT_TRUE(autostartFiles(config).empty());
}

TEST_F(LaunchctlTest, TheLoginEntryExistsOnlyWhileALoginWouldLoadAJob) {
  unsetenv("XDG_CONFIG_HOME");  // restored by the sandbox; ~/.config stands in
  std::string config = sandbox.inHome(".config");
  std::string first = writeJob("com.example.first", {"/bin/true"});
  EXPECT_EQ(launchctl({"unload", "-w", first}).exitStatus, 3);
  std::string background =
      writeJob("com.example.background", {"/bin/true"}, {{"LimitLoadToSessionType", "Background"}});
  EXPECT_EQ(launchctl({"load", "-w", background}).exitStatus, 0);
  std::string marked = writeJob("com.example.marked", {"/bin/true"}, {{"Disabled", true}});
  EXPECT_EQ(launchctl({"load", marked}).exitStatus, 1);
  std::string elsewhere = writeJob("com.example.elsewhere", {"/bin/true"}, {}, sandbox.base());
  EXPECT_EQ(launchctl({"load", "-w", elsewhere}).exitStatus, 0);
  EXPECT_TRUE(autostartFiles(config).empty());

  std::string second = writeJob("com.example.second", {"/bin/true"});
  EXPECT_EQ(launchctl({"load", "-w", first, second}).exitStatus, 0);
  EXPECT_EQ(autostartFiles(config).size(), 1u);
  EXPECT_EQ(launchctl({"unload", "-w", first}).exitStatus, 0);
  EXPECT_EQ(autostartFiles(config).size(), 1u);  // the second is still enabled

  // The last enabled job file deleted, as an uninstall does: the next launchctl removes the entry.
  ASSERT_EQ(::unlink(second.c_str()), 0);
  EXPECT_EQ(launchctl({"remove", "com.example.second"}).exitStatus, 0);
  EXPECT_TRUE(autostartFiles(config).empty());
}

TEST_F(LaunchctlTest, BootstrapStartsTheEnabledGraphicalJobsAndSkipsABadFile) {
  std::string agents = sandbox.inHome("Library/LaunchAgents");
  std::string off = sleeperJob("com.example.off");
  ASSERT_EQ(launchctl({"unload", "-w", off}).exitStatus, 3);
  sleeperJob("com.example.on", {{"RunAtLoad", true}});
  sleeperJob("com.example.background", {{"LimitLoadToSessionType", "Background"}});
  sleeperJob("com.example.both", {{"LimitLoadToSessionType", PlistArray{"LoginWindow", "Aqua"}}});
  writeFile(agents + "/com.example.broken.plist", "<plist><dict><key>Label");
  std::string domain = "gui/" + std::to_string(getuid());

  ChildResult result = launchctl({"bootstrap", domain, agents});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, agents + "/com.example.broken.plist: Invalid property list\n");
  pid_t one = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  pid_t other = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  pid_t on = loadedPid("com.example.on"), both = loadedPid("com.example.both");
  EXPECT_EQ((std::set<pid_t>{one, other}), (std::set<pid_t>{on, both}));
  EXPECT_EQ(loadedPid("com.example.off"), 0);
  EXPECT_EQ(loadedPid("com.example.background"), 0);

  // A second login while they run starts nothing; one after the job ended starts it anew.
  ASSERT_GT(both, 0);
  ::kill(-both, SIGKILL);
  ASSERT_TRUE(waitGone(both));
  EXPECT_EQ(launchctl({"bootstrap", domain, agents}).exitStatus, 1);
  pid_t again = reportedPid(reports.readRecord().value_or(std::vector<std::string>{}));
  EXPECT_EQ(loadedPid("com.example.both"), again);
  EXPECT_NE(again, both);
  EXPECT_EQ(loadedPid("com.example.on"), on);
  EXPECT_TRUE(isRunning(on));
}

TEST_F(LaunchctlTest, BootstrapRefusesAnotherDomainAndAMissingFolder) {
  std::string agents = sandbox.inHome("Library/LaunchAgents");
  sleeperJob("com.example.on", {{"RunAtLoad", true}});
  for (std::string domain :
       {"gui/" + std::to_string(getuid() + 1), "user/" + std::to_string(getuid()),
        std::string("gui/"), std::string("gui/0x"), std::string("system")}) {
    ChildResult result = launchctl({"bootstrap", domain, agents});
    EXPECT_EQ(result.exitStatus, 1) << domain;
    EXPECT_NE(result.err.find("\"" + domain + "\""), std::string::npos) << result.err;
  }
  std::string missing = sandbox.inHome("Library/Nowhere");
  ChildResult result = launchctl({"bootstrap", "gui/" + std::to_string(getuid()), missing});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, missing + ": No such file or directory\n");
  EXPECT_EQ(loadedPid("com.example.on"), 0);
}

}  // namespace
}  // namespace tools_tests
