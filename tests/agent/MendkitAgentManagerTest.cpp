#include "MendkitAgentManager.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "foundation/Bundle.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"
#include "foundation/Shell.h"
#include "support/StderrCapture.h"
#include "support/TestHome.h"

using foundation::Bundle;
using foundation::PlistArray;
using foundation::PlistDictionary;
using foundation::PlistValue;
using testing_support::occurrences;
using testing_support::readFile;
using testing_support::StderrCapture;
using testing_support::writeFile;

namespace {

constexpr const char* kLabel = "com.kelvanoria.Mendkit.agent";
using Command = std::vector<std::string>;

class MendkitAgentManagerTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    _oldPath = path ? path : "";
    std::string bin = sandbox.base() + "/bin";
    _record = sandbox.base() + "/launchctl.log";
    // launchctl writes each call as its words, separated by \037 and ended by \036.
    writeTool(bin + "/launchctl",
              "{ printf launchctl; for a in \"$@\"; do printf '\\037%s' \"$a\"; done; "
              "printf '\\036'; } >> " +
                  foundation::shellQuoted(_record) + "\n");
    // For a user who is no root: the administrator prompt lets every command run.
    writeTool(bin + "/pkexec", "exec \"$@\"\n");
    setenv("PATH", (bin + ":" + _oldPath).c_str(), 1);

    _bundlePath = sandbox.base() + "/Apps/MendkitAgent.app";
    writeFile(_bundlePath + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>com.kelvanoria.Mendkit.agent</string>"
              "</dict></plist>\n");
    std::optional<Bundle> bundle = Bundle::atPath(_bundlePath);
    ASSERT_TRUE(bundle.has_value());
    Bundle::setMainForTesting(std::move(bundle));
  }

  void TearDown() override {
    Bundle::setMainForTesting(std::nullopt);
    setenv("PATH", _oldPath.c_str(), 1);
  }

  static void writeTool(const std::string& path, const std::string& script) {
    writeFile(path, "#!/bin/sh\n" + script);
    ::chmod(path.c_str(), 0755);
  }

  // Every launchctl call so far, as its arguments.
  std::vector<Command> commands() const {
    std::vector<Command> calls;
    std::string log = readFile(_record).value_or("");
    size_t from = 0;
    for (size_t end = log.find('\036'); end != std::string::npos; end = log.find('\036', from)) {
      std::string call = log.substr(from, end - from);
      Command words;
      size_t at = call.find('\037');
      while (at != std::string::npos) {
        size_t next = call.find('\037', at + 1);
        words.push_back(call.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        at = next;
      }
      calls.push_back(words);
      from = end + 1;
    }
    return calls;
  }

  std::string writeTemplate(const PlistDictionary& job) {
    std::string path = sandbox.base() + "/template.plist";
    EXPECT_TRUE(foundation::writePropertyListFile(path, PlistValue(job)));
    return path;
  }

  static PlistDictionary sampleTemplate() {
    return PlistDictionary{{"Label", kLabel},
                           {"RunAtLoad", true},
                           {"LimitLoadToSessionType", "Aqua"},
                           {"Extra", PlistDictionary{{"Nested", PlistArray{1, "two"}}}}};
  }

  std::string jobFile() const {
    return foundation::homeDirectory() + "/Library/LaunchAgents/" + kLabel + ".plist";
  }

  PlistArray expectedArguments() const {
    return PlistArray{"/usr/bin/open", "-g", "-W", _bundlePath, "--args", "-r"};
  }

  std::string log() const { return sandbox.base() + "/stderr.txt"; }

  std::string _oldPath, _record, _bundlePath;
};

// --- installLaunchAgent ------------------------------------------------------------------------

using InstallTest = MendkitAgentManagerTest;

TEST_F(InstallTest, TheJobFileHoldsEveryTemplateKeyAndTheSixArguments) {
  std::string templatePath = writeTemplate(sampleTemplate());
  MendkitAgentManager::installLaunchAgent(templatePath);

  std::optional<std::string> text = readFile(jobFile());
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->rfind("<?xml", 0), 0u) << *text;
  auto written = foundation::readPropertyListFile(jobFile());
  ASSERT_TRUE(written.ok());
  PlistDictionary expected = sampleTemplate();
  expected["ProgramArguments"] = expectedArguments();
  EXPECT_EQ(*written, PlistValue(expected));
}

TEST_F(InstallTest, TheShippedTemplateInstallsUnderItsLabelAndIsNotRestartedByLaunchd) {
  auto shipped = foundation::readPropertyListFile(MENDKIT_JOB_TEMPLATE);
  ASSERT_TRUE(shipped.ok() && shipped->dictionary());
  ASSERT_NE(shipped->objectForKey("Label"), nullptr);
  EXPECT_EQ(*shipped->objectForKey("Label"), PlistValue(kLabel));
  const PlistValue* keepAlive = shipped->objectForKey("KeepAlive");
  EXPECT_TRUE(!keepAlive || keepAlive->boolValue() == false);

  MendkitAgentManager::installLaunchAgent(std::string(MENDKIT_JOB_TEMPLATE));
  auto written = foundation::readPropertyListFile(jobFile());
  ASSERT_TRUE(written.ok());
  PlistDictionary expected = *shipped->dictionary();
  expected["ProgramArguments"] = expectedArguments();
  EXPECT_EQ(*written, PlistValue(expected));
}

TEST_F(InstallTest, TheTemplatesProgramArgumentsAreReplacedWhole) {
  PlistDictionary job = sampleTemplate();
  job["ProgramArguments"] = PlistArray{"/bin/false", "a", "b", "c", "d", "e", "f", "g"};
  MendkitAgentManager::installLaunchAgent(writeTemplate(job));
  auto written = foundation::readPropertyListFile(jobFile());
  ASSERT_TRUE(written.ok());
  ASSERT_NE(written->objectForKey("ProgramArguments"), nullptr);
  EXPECT_EQ(*written->objectForKey("ProgramArguments"), PlistValue(expectedArguments()));
}

TEST_F(InstallTest, TheLastCommandIsTheUnloadOfTheJobFileAndNoLoadRuns) {
  std::string templatePath = writeTemplate(sampleTemplate());
  MendkitAgentManager::installLaunchAgent(templatePath);
  EXPECT_EQ(commands(), (std::vector<Command>{{"unload", "-w", jobFile()}}));

  // The installer's sequence: the earlier job is removed first.
  std::filesystem::remove(_record);
  MendkitAgentManager::removeAndUnloadLaunchAgent(std::string(kLabel));
  MendkitAgentManager::installLaunchAgent(templatePath);
  EXPECT_EQ(commands(),
            (std::vector<Command>{
                {"remove", kLabel}, {"unload", "-w", jobFile()}, {"unload", "-w", jobFile()}}));
  EXPECT_TRUE(std::filesystem::exists(jobFile()));
}

TEST_F(InstallTest, AnExistingJobFileIsLeftAloneAndLogged) {
  writeFile(jobFile(), "earlier contents");
  StderrCapture capture(log());
  MendkitAgentManager::installLaunchAgent(writeTemplate(sampleTemplate()));
  std::string lines = capture.finish();
  EXPECT_EQ(occurrences(lines, "agent is already install!"), 1u) << lines;
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(readFile(jobFile()), "earlier contents");
}

TEST_F(InstallTest, AnUnreadableTemplateDoesNothingAndLogsNothing) {
  writeFile(sandbox.base() + "/garbage.plist", "this is no property list");
  writeFile(sandbox.base() + "/array.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array>"
            "</plist>");
  std::string noLabel = writeTemplate(PlistDictionary{{"RunAtLoad", true}});
  std::string numberLabel = sandbox.base() + "/number.plist";
  ASSERT_TRUE(
      foundation::writePropertyListFile(numberLabel, PlistValue(PlistDictionary{{"Label", 5}})));
  const std::optional<std::string> templates[] = {std::nullopt,
                                                  sandbox.base() + "/missing.plist",
                                                  sandbox.base() + "/garbage.plist",
                                                  sandbox.base() + "/array.plist",
                                                  noLabel,
                                                  numberLabel};
  StderrCapture capture(log());
  for (const auto& path : templates) MendkitAgentManager::installLaunchAgent(path);
  EXPECT_EQ(capture.finish(), "");
  EXPECT_TRUE(commands().empty());
  EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("Library/LaunchAgents")));
}

TEST_F(InstallTest, AFolderThatCannotBeMadeFallsBackToTheScriptAndThenStops) {
  writeFile(sandbox.inHome("Library"), "a file where the library folder should be");
  StderrCapture capture(log());
  MendkitAgentManager::installLaunchAgent(writeTemplate(sampleTemplate()));
  std::string lines = capture.finish();
  EXPECT_EQ(occurrences(lines, "Appscript fail! {"), 1u) << lines;
  EXPECT_EQ(occurrences(lines, "launchpath can not be writable {"), 1u) << lines;
  EXPECT_EQ(occurrences(lines, "Label = com.kelvanoria.Mendkit.agent;"), 1u) << lines;
  EXPECT_LT(lines.find("Appscript fail!"), lines.find("launchpath can not be writable"));
  EXPECT_TRUE(commands().empty());
}

TEST_F(InstallTest, WithoutAnApplicationBundleNoJobFileIsWritten) {
  Bundle::setMainForTesting(std::nullopt);
  if (Bundle::main()) GTEST_SKIP() << "the test runs inside a bundle";
  MendkitAgentManager::installLaunchAgent(writeTemplate(sampleTemplate()));
  EXPECT_FALSE(std::filesystem::exists(jobFile()));
  EXPECT_TRUE(commands().empty());
}

// Lowers the size limit of files this process writes, and of its children, for one scope; a write
// past it fails instead of ending the process.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &_old);
    _oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = _old;
    lowered.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  }
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &_old);
    std::signal(SIGXFSZ, _oldSignal);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit _old{};
  void (*_oldSignal)(int) = SIG_DFL;
};

// launchd cannot read an empty or torn job file: whenever the install stops, through a kill or a
// write that fails part way, there is the whole file or none, and nothing else beside it.
TEST_F(InstallTest, TheJobFileAppearsWholeOrNotAtAll) {
  std::string templatePath = writeTemplate(sampleTemplate());
  std::string folder = sandbox.inHome("Library/LaunchAgents");
  auto entries = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  };
  {
    ScopedFileSizeLimit limit(64);
    MendkitAgentManager::installLaunchAgent(templatePath);
  }
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(entries(), std::vector<std::string>{});

  MendkitAgentManager::installLaunchAgent(templatePath);
  EXPECT_EQ(entries(), std::vector<std::string>{std::string(kLabel) + ".plist"});
  auto job = foundation::readPropertyListFile(jobFile());
  ASSERT_TRUE(job);
  const PlistValue* arguments = job->objectForKey("ProgramArguments");
  ASSERT_TRUE(arguments);
  EXPECT_EQ(*arguments, PlistValue(expectedArguments()));
}

// --- launchAgentIsInstall / launchAgentIsLoad --------------------------------------------------

TEST_F(MendkitAgentManagerTest, AnyItemAtTheJobFilePathCountsAsInstalled) {
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsInstall(kLabel));
  writeFile(jobFile(), "");
  EXPECT_TRUE(MendkitAgentManager::launchAgentIsInstall(kLabel));
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsInstall("com.kelvanoria.Other"));
  std::filesystem::remove(jobFile());
  std::filesystem::create_directories(jobFile());
  EXPECT_TRUE(MendkitAgentManager::launchAgentIsInstall(kLabel));
}

class LoadedTest : public MendkitAgentManagerTest {
 protected:
  void writeDatabase(const PlistDictionary& entries) {
    std::string path = sandbox.inRoot("private/var/db/com.apple.xpc.launchd/disabled." +
                                      std::to_string(::getuid()) + ".plist");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(foundation::writePropertyListFile(path, PlistValue(entries)));
  }
};

TEST_F(LoadedTest, OnlyAnEntryOfNoForTheLabelIsLoaded) {
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsLoad(kLabel));  // no database

  writeDatabase({{"com.kelvanoria.Other", false}});
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsLoad(kLabel));
  writeDatabase({{kLabel, false}});
  EXPECT_TRUE(MendkitAgentManager::launchAgentIsLoad(kLabel));
  writeDatabase({{kLabel, true}});
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsLoad(kLabel));
  writeDatabase({{kLabel, 0}});
  EXPECT_TRUE(MendkitAgentManager::launchAgentIsLoad(kLabel));
  writeDatabase({{kLabel, "false"}});
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsLoad(kLabel));
  writeDatabase({{std::string(kLabel) + ".x", false}, {"com.kelvanoria", false}});
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsLoad(kLabel));
}

TEST_F(LoadedTest, AnUnreadableDatabaseIsNotLoaded) {
  writeDatabase({{kLabel, false}});
  writeFile(sandbox.inRoot("private/var/db/com.apple.xpc.launchd/disabled." +
                           std::to_string(::getuid()) + ".plist"),
            "<plist><dict><key>");
  EXPECT_FALSE(MendkitAgentManager::launchAgentIsLoad(kLabel));
}

// --- loadLaunchAgent / removeAndUnloadLaunchAgent ----------------------------------------------

TEST_F(MendkitAgentManagerTest, LoadingRemovesTheJobFirstInBothDirections) {
  MendkitAgentManager::loadLaunchAgent(std::string(kLabel), true);
  MendkitAgentManager::loadLaunchAgent(std::string(kLabel), false);
  EXPECT_EQ(commands(), (std::vector<Command>{{"remove", kLabel},
                                              {"load", "-w", jobFile()},
                                              {"remove", kLabel},
                                              {"unload", "-w", jobFile()}}));
}

TEST_F(MendkitAgentManagerTest, RemovingRunsBothCommandsAndDeletesTheFile) {
  writeFile(jobFile(), "job");
  MendkitAgentManager::removeAndUnloadLaunchAgent(std::string(kLabel));
  EXPECT_FALSE(std::filesystem::exists(jobFile()));
  MendkitAgentManager::removeAndUnloadLaunchAgent(std::string(kLabel));
  EXPECT_EQ(commands(), (std::vector<Command>{{"remove", kLabel},
                                              {"unload", "-w", jobFile()},
                                              {"remove", kLabel},
                                              {"unload", "-w", jobFile()}}));
}

TEST_F(MendkitAgentManagerTest, WithoutALabelNothingRuns) {
  writeFile(jobFile(), "job");
  for (const std::optional<std::string>& label :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    MendkitAgentManager::removeAndUnloadLaunchAgent(label);
    MendkitAgentManager::loadLaunchAgent(label, true);
    MendkitAgentManager::loadLaunchAgent(label, false);
  }
  EXPECT_TRUE(commands().empty());
  EXPECT_TRUE(std::filesystem::exists(jobFile()));
}

// --- runComandUseAppleScript -------------------------------------------------------------------

TEST_F(MendkitAgentManagerTest, AnEmptyCommandIsNoAndLogsNothing) {
  StderrCapture capture(log());
  EXPECT_FALSE(MendkitAgentManager::runComandUseAppleScript(std::nullopt));
  EXPECT_FALSE(MendkitAgentManager::runComandUseAppleScript(std::string()));
  EXPECT_EQ(capture.finish(), "");
}

TEST(MendkitAgentManagerScript, OnlyANonAdministratorIsAskedForAdministratorPrivileges) {
  EXPECT_EQ(MendkitAgentManager::appleScriptSource("mkdir \"/a b\"", true),
            "do shell script \"mkdir \\\"/a b\\\" \"");
  EXPECT_EQ(MendkitAgentManager::appleScriptSource("echo \\", false),
            "do shell script \"echo \\\\ \" with administrator privileges");
}

TEST_F(MendkitAgentManagerTest, TheShellReceivesQuotesAndBackslashesIntact) {
  std::string folder = sandbox.base() + "/two words";
  StderrCapture capture(log());
  EXPECT_TRUE(MendkitAgentManager::runComandUseAppleScript("mkdir \"" + folder + "\""));
  std::string file = sandbox.base() + "/out.txt";
  EXPECT_TRUE(MendkitAgentManager::runComandUseAppleScript(
      "printf '%s' \"a \\\"b\\\" \\\\ c\" > \"" + file + "\"; echo done"));
  std::string lines = capture.finish();
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_FALSE(std::filesystem::exists(sandbox.base() + "/two"));
  EXPECT_EQ(readFile(file), "a \"b\" \\ c");
  EXPECT_EQ(occurrences(lines, "Appscript succes \n"), 1u) << lines;
  EXPECT_EQ(occurrences(lines, "Appscript succes done\n"), 1u) << lines;
  EXPECT_EQ(occurrences(lines, "Administrator!"), 2u) << lines;
}

TEST_F(MendkitAgentManagerTest, AFailingCommandIsNoAndLogsTheErrorInformation) {
  StderrCapture capture(log());
  EXPECT_FALSE(MendkitAgentManager::runComandUseAppleScript("echo refused >&2; exit 5"));
  std::string lines = capture.finish();
  EXPECT_EQ(occurrences(lines, "Appscript fail! {"), 1u) << lines;
  EXPECT_EQ(occurrences(lines, "NSAppleScriptErrorMessage = refused;"), 1u) << lines;
  EXPECT_EQ(occurrences(lines, "NSAppleScriptErrorNumber = 5;"), 1u) << lines;
}

// --- values from the home folder ---------------------------------------------------------------

class HostileHomeTest : public MendkitAgentManagerTest {
 protected:
  void SetUp() override {
    MendkitAgentManagerTest::SetUp();
    _oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(sandbox.base());
  }
  void TearDown() override {
    std::filesystem::current_path(_oldCwd);
    MendkitAgentManagerTest::TearDown();
  }

  std::vector<std::string> hostileHomes() const {
    std::string pwned = sandbox.base() + "/pwned";
    return {"with space",
            "quo'te",
            "double\"quote",
            "$(touch " + pwned + ")",
            "`touch " + pwned + "`",
            "back\\slash",
            "end\\",
            "dollar$HOME;touch pwned"};
  }
  bool injected() const {
    return std::filesystem::exists(sandbox.base() + "/pwned") ||
           std::filesystem::exists(sandbox.base() + "/pwned\n");
  }

  std::filesystem::path _oldCwd;
};

TEST_F(HostileHomeTest, EveryCommandGetsTheJobFileAsOneArgumentAndRunsNothingElse) {
  std::string templatePath = writeTemplate(sampleTemplate());
  for (const std::string& name : hostileHomes()) {
    std::string home = sandbox.base() + "/homes/" + name;
    std::filesystem::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    std::filesystem::remove(_record);

    MendkitAgentManager::removeAndUnloadLaunchAgent(std::string(kLabel));
    MendkitAgentManager::installLaunchAgent(templatePath);
    EXPECT_TRUE(std::filesystem::exists(home + "/Library/LaunchAgents/" + kLabel + ".plist"))
        << name;
    MendkitAgentManager::loadLaunchAgent(std::string(kLabel), true);
    std::string job = jobFile();
    EXPECT_EQ(commands(), (std::vector<Command>{{"remove", kLabel},
                                                {"unload", "-w", job},
                                                {"unload", "-w", job},
                                                {"remove", kLabel},
                                                {"load", "-w", job}}))
        << name;
    MendkitAgentManager::removeAndUnloadLaunchAgent(std::string(kLabel));
    EXPECT_FALSE(std::filesystem::exists(job)) << name;
    EXPECT_FALSE(injected()) << name;
  }
}

TEST_F(HostileHomeTest, TheFolderCommandThroughTheScriptMakesExactlyThatFolder) {
  for (const std::string& name : hostileHomes()) {
    std::string folder = sandbox.base() + "/folders/" + name + "/LaunchAgents";
    std::filesystem::create_directories(std::filesystem::path(folder).parent_path());
    EXPECT_TRUE(MendkitAgentManager::runComandUseAppleScript("mkdir " +
                                                             foundation::shellDoubleQuoted(folder)))
        << name;
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << name;
    EXPECT_FALSE(injected()) << name;
  }
}

// --- the open tool's mapping -------------------------------------------------------------------

TEST_F(HostileHomeTest, HomesNamingTheOpenToolKeepTheirJobFilePathWhereverTheToolLies) {
  // The tool lies under a platform root, or else in the tools folder beside the bundle; both
  // paths hold a command substitution that must never run.
  std::string root = sandbox.base() + "/root$(touch pwned)";
  writeTool(root + "/usr/bin/open", "exit 0\n");
  std::string tools = sandbox.base() + "/tools$(touch pwned)";
  writeFile(tools + "/MendkitAgent.app/Contents/Info.plist",
            "<plist version=\"1.0\"><dict/></plist>");
  std::filesystem::create_directories(tools + "/platform/bin");
  Bundle::setMainForTesting(Bundle::atPath(tools + "/MendkitAgent.app"));

  std::string templatePath = writeTemplate(sampleTemplate());
  for (bool rooted : {true, false}) {
    setenv("PLATFORM_ROOT", (rooted ? root : sandbox.root()).c_str(), 1);
    for (const char* name : {"a /usr/bin/open b", "x;/usr/bin/open", "q'/usr/bin/open"}) {
      std::string home = sandbox.base() + "/homes/" + name;
      std::filesystem::create_directories(home);
      setenv("HOME", home.c_str(), 1);
      std::filesystem::remove(_record);

      MendkitAgentManager::installLaunchAgent(templatePath);
      MendkitAgentManager::loadLaunchAgent(std::string(kLabel), true);
      MendkitAgentManager::removeAndUnloadLaunchAgent(std::string(kLabel));
      std::string job = jobFile();
      EXPECT_EQ(commands(), (std::vector<Command>{{"unload", "-w", job},
                                                  {"remove", kLabel},
                                                  {"load", "-w", job},
                                                  {"remove", kLabel},
                                                  {"unload", "-w", job}}))
          << name << " " << rooted;
      EXPECT_FALSE(std::filesystem::exists(job)) << name;
      EXPECT_FALSE(injected()) << name << " " << rooted;
    }
  }
}

}  // namespace
