#include "foundation/AppleScript.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "support/TestHome.h"

using foundation::AppleScript;
using foundation::kAppleScriptCannotRun;
using foundation::kAppleScriptSyntaxError;
using foundation::kAppleScriptUserCanceled;
using foundation::NSAppleScriptErrorMessage;
using foundation::NSAppleScriptErrorNumber;
using foundation::PlistDictionary;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

std::string messageOf(const PlistDictionary& error) {
  auto found = error.find(NSAppleScriptErrorMessage);
  return found != error.end() && found->second.string() ? *found->second.string() : "<none>";
}

std::int64_t numberOf(const PlistDictionary& error) {
  auto found = error.find(NSAppleScriptErrorNumber);
  return found != error.end() ? found->second.integerValue().value_or(0) : 0;
}

// The AppleScript string text of a shell command, as the agent writes it into a source.
std::string escaped(const std::string& command) {
  std::string text;
  for (char c : command) {
    if (c == '\\' || c == '"') text += '\\';
    text += c;
  }
  return text;
}

class AppleScriptTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    _oldPath = path ? path : "";
    _bin = sandbox.inHome("bin");
    std::filesystem::create_directories(_bin);
    setPath(_bin + ":" + _oldPath);
  }
  void TearDown() override {
    setPath(_oldPath);
    AppleScript::setRunsAsRootForTesting(std::nullopt);
  }

  static void setPath(const std::string& path) { setenv("PATH", path.c_str(), 1); }

  void writeTool(const std::string& name, const std::string& script) {
    std::string path = _bin + "/" + name;
    writeFile(path, "#!/bin/sh\n" + script);
    ::chmod(path.c_str(), 0755);
  }

  // Runs `command` in the given form and answers its result; `error` receives the error info.
  std::optional<std::string> run(const std::string& command, PlistDictionary* error,
                                 bool administrator = false) {
    std::string source = "do shell script \"" + escaped(command) + "\"";
    if (administrator) source += " with administrator privileges";
    AppleScript script(source);
    std::optional<foundation::AppleEventDescriptor> result = script.executeAndReturnError(error);
    if (!result) return std::nullopt;
    return result->stringValue();
  }

  std::string _oldPath, _bin;
};

// --- compiling ---------------------------------------------------------------------------------

TEST_F(AppleScriptTest, TheStringIsUnescapedExactly) {
  AppleScript script(R"(do shell script "a \\ b \" c \\\" d")");
  ASSERT_TRUE(script.compileAndReturnError(nullptr));
  EXPECT_EQ(script.command(), R"(a \ b " c \" d)");
  EXPECT_FALSE(script.withAdministratorPrivileges());

  AppleScript privileged(
      "  do shell script \"mkdir \\\"x y\\\" \" with administrator privileges\n");
  ASSERT_TRUE(privileged.compileAndReturnError(nullptr));
  EXPECT_EQ(privileged.command(), "mkdir \"x y\" ");
  EXPECT_TRUE(privileged.withAdministratorPrivileges());
}

TEST_F(AppleScriptTest, SourcesOfAnyOtherFormAreSyntaxErrorsAndRunNothing) {
  std::string marker = sandbox.inHome("ran");
  const std::string bodies[] = {
      "",
      "do shell script",
      "do shell script \"touch " + marker,                    // no closing quote
      "do shell script \"touch " + marker + "\\\"",           // quote escaped away
      "do shell script \"touch " + marker + "\\n\"",          // other escape
      "do shell script \"touch " + marker + "\\",             // lone backslash
      "do shell script \"touch " + marker + "\" with admin",  // wrong suffix
      "do shell script \"touch " + marker + "\"  with administrator privileges",
      "do shell script \"touch " + marker + "\" & \"x\"",
      "do shell script \"touch " + marker + "\" \"again\"",
      "display dialog \"touch " + marker + "\"",
      "Do shell script \"touch " + marker + "\"",
      std::string("do shell script \"touch ") + marker + std::string(1, '\0') + "x\"",
  };
  for (const std::string& source : bodies) {
    AppleScript script(source);
    PlistDictionary error;
    EXPECT_FALSE(script.compileAndReturnError(&error)) << source;
    EXPECT_EQ(numberOf(error), kAppleScriptSyntaxError) << source;
    EXPECT_NE(messageOf(error), "") << source;

    AppleScript again(source);
    PlistDictionary runError;
    EXPECT_FALSE(again.executeAndReturnError(&runError).has_value()) << source;
    EXPECT_EQ(numberOf(runError), kAppleScriptSyntaxError) << source;
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
}

// --- running -----------------------------------------------------------------------------------

TEST_F(AppleScriptTest, TheResultIsStandardOutputWithOneTrailingNewlineRemoved) {
  EXPECT_EQ(run("printf abc", nullptr), "abc");
  EXPECT_EQ(run("printf 'two\\nlines\\n\\n'", nullptr), "two\nlines\n");
  EXPECT_EQ(run("echo out; echo noise >&2", nullptr), "out");
  EXPECT_EQ(run("true", nullptr), "");
}

TEST_F(AppleScriptTest, QuotesAndBackslashesReachTheShellIntact) {
  std::string file = sandbox.inHome("two words");
  EXPECT_EQ(
      run("printf '%s' \"a \\\"b\\\" \\\\ c\" > \"" + file + "\"; cat \"" + file + "\"", nullptr),
      "a \"b\" \\ c");
  EXPECT_EQ(readFile(file), "a \"b\" \\ c");
}

TEST_F(AppleScriptTest, AFailingCommandGivesItsMessageAndExitStatus) {
  PlistDictionary error;
  EXPECT_FALSE(run("echo partial; echo 'it broke' >&2; exit 3", &error).has_value());
  EXPECT_EQ(messageOf(error), "it broke");
  EXPECT_EQ(numberOf(error), 3);

  PlistDictionary silent;
  EXPECT_FALSE(run("exit 1", &silent).has_value());
  EXPECT_EQ(numberOf(silent), 1);
  EXPECT_NE(messageOf(silent), "");

  PlistDictionary killed;
  EXPECT_FALSE(run("kill -KILL $$", &killed).has_value());
  EXPECT_EQ(numberOf(killed), 128 + SIGKILL);
}

TEST_F(AppleScriptTest, LargeOutputOnBothStreamsIsReadWhole) {
  std::optional<std::string> result =
      run("head -c 300000 /dev/zero | tr '\\000' e >&2; head -c 300000 /dev/zero | tr '\\000' o",
          nullptr);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->size(), 300000u);
  EXPECT_EQ(result->find_first_not_of('o'), std::string::npos);

  PlistDictionary error;
  EXPECT_FALSE(run("head -c 200000 /dev/zero | tr '\\000' e >&2; exit 2", &error).has_value());
  EXPECT_EQ(messageOf(error).size(), 200000u);
}

TEST_F(AppleScriptTest, StandardInputIsEmptyAndLeftoverChildrenDoNotHoldTheCaller) {
  EXPECT_EQ(run("cat; echo after", nullptr), "after");

  auto start = std::chrono::steady_clock::now();
  std::optional<std::string> pid = run("sleep 60 & echo $!", nullptr);
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(pid.has_value());
  ASSERT_FALSE(pid->empty());
  ::kill(std::stoi(*pid), SIGKILL);
  EXPECT_LT(took, std::chrono::seconds(20));
}

TEST_F(AppleScriptTest, CommandsFindToolsEarlierOnPath) {
  writeTool("mendkit-probe", "echo probe here\n");
  EXPECT_EQ(run("mendkit-probe", nullptr), "probe here");
}

TEST_F(AppleScriptTest, TheOpenToolRunsFromTheRootAndItsPathInAnArgumentIsKept) {
  std::string tool = sandbox.inRoot("usr/bin/open");
  writeFile(tool, "#!/bin/sh\nprintf 'opened <%s>' \"$@\"\n");
  ::chmod(tool.c_str(), 0755);
  EXPECT_EQ(run("/usr/bin/open \"a /usr/bin/open b\"", nullptr), "opened <a /usr/bin/open b>");
}

// --- administrator privileges ------------------------------------------------------------------

class AdministratorScriptTest : public AppleScriptTest {
 protected:
  // A prompt that records its arguments and runs them, in pkexec's minimal environment.
  void grantingPrompt() {
    writeTool("pkexec", "printf '%s\\n' \"$@\" > '" + sandbox.inHome("prompt.log") +
                            "'\nexec env -i \"$@\"\n");
  }
  bool promptRan() { return std::filesystem::exists(sandbox.inHome("prompt.log")); }
};

TEST_F(AdministratorScriptTest, AsRootTheCommandRunsDirectly) {
  grantingPrompt();
  AppleScript::setRunsAsRootForTesting(true);
  EXPECT_EQ(run("echo direct", nullptr, true), "direct");
  EXPECT_FALSE(promptRan());
  if (::geteuid() == 0) {
    AppleScript::setRunsAsRootForTesting(std::nullopt);
    EXPECT_EQ(run("id -u", nullptr, true), "0");
    EXPECT_FALSE(promptRan());
  }
}

TEST_F(AdministratorScriptTest, OtherwiseThePromptRunsTheShellInTheCommandsEnvironment) {
  grantingPrompt();
  writeTool("mendkit-probe", "echo probe\n");
  AppleScript::setRunsAsRootForTesting(false);
  EXPECT_EQ(run("printf '%s|' \"$PLATFORM_ROOT\"; mendkit-probe", nullptr, true),
            sandbox.root() + "|probe");
  ASSERT_TRUE(promptRan());
  std::string log = readFile(sandbox.inHome("prompt.log")).value_or("");
  EXPECT_EQ(log.substr(0, 11), "/bin/sh\n-c\n") << log;

  PlistDictionary error;
  EXPECT_FALSE(run("echo denied >&2; exit 4", &error, true).has_value());
  EXPECT_EQ(messageOf(error), "denied");
  EXPECT_EQ(numberOf(error), 4);
}

TEST_F(AdministratorScriptTest, TheCommandsOwnStatus127IsNotARefusal) {
  grantingPrompt();
  AppleScript::setRunsAsRootForTesting(false);
  PlistDictionary error;
  EXPECT_FALSE(run("no-such-command-anywhere", &error, true).has_value());
  EXPECT_EQ(numberOf(error), 127);
}

TEST_F(AdministratorScriptTest, ARefusedPromptIsAnErrorAndRunsNothing) {
  for (int status : {126, 127}) {
    writeTool("pkexec", "echo 'Not authorized' >&2\nexit " + std::to_string(status) + "\n");
    AppleScript::setRunsAsRootForTesting(false);
    PlistDictionary error;
    EXPECT_FALSE(run("touch '" + sandbox.inHome("ran") + "'", &error, true).has_value());
    EXPECT_EQ(numberOf(error), kAppleScriptUserCanceled) << status;
    EXPECT_EQ(messageOf(error), "Not authorized");
    EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("ran")));
  }
}

TEST_F(AdministratorScriptTest, WithoutAPromptTheCommandDoesNotRun) {
  setPath(_bin);
  AppleScript::setRunsAsRootForTesting(false);
  PlistDictionary error;
  EXPECT_FALSE(run("touch '" + sandbox.inHome("ran") + "'", &error, true).has_value());
  EXPECT_EQ(numberOf(error), kAppleScriptCannotRun);
  EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("ran")));
}

}  // namespace
