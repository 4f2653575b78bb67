#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/Bundle.h"
#include "foundation/Shell.h"
#include "support/TestHome.h"

using foundation::CapturedOutput;
using foundation::resolvedToolPath;
using foundation::runCapturingOutput;
using foundation::runShellCommand;
using foundation::shellArgument;
using foundation::shellDoubleQuoted;
using foundation::shellQuoted;
using foundation::withToolPathsMapped;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class ShellQuotingTest : public testing_support::HomeTest {
 protected:
  // Values that would split a word or run something if the shell saw them bare.
  std::vector<std::string> hostileValues() const {
    std::string pwned = sandbox.inHome("pwned");
    return {"with space",
            "quo'te",
            "double\"quote",
            "$(touch " + pwned + ")",
            "`touch " + pwned + "`",
            "back\\slash",
            "trailing\\",
            "$HOME",
            "tab\there",
            "new\nline",
            "glob*?[a]",
            "~root",
            "a;touch " + pwned,
            "",
            "-n"};
  }

  // What the shell hands `printf '%s'` when `word` is written into the command.
  std::string echoed(const std::string& word) {
    CapturedOutput output = runCapturingOutput({"/bin/sh", "-c", "printf '%s' " + word});
    EXPECT_TRUE(WIFEXITED(output.status) && WEXITSTATUS(output.status) == 0) << word;
    return output.standardOutput;
  }
};

TEST_F(ShellQuotingTest, OrdinaryValuesKeepTheirText) {
  const std::string path = "/home/u/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist";
  EXPECT_EQ(shellArgument(path), path);
  EXPECT_EQ(shellArgument("com.kelvanoria.Mendkit.agent"), "com.kelvanoria.Mendkit.agent");
  EXPECT_EQ(shellArgument("a+b,c:d@e%f_g-h"), "a+b,c:d@e%f_g-h");
  EXPECT_EQ(shellDoubleQuoted(path), "\"" + path + "\"");
  EXPECT_EQ(shellDoubleQuoted("with space"), "\"with space\"");
}

TEST_F(ShellQuotingTest, AnyValueReachesTheShellAsExactlyOneWord) {
  for (const std::string& value : hostileValues()) {
    EXPECT_EQ(echoed(shellArgument(value)), value) << value;
    EXPECT_EQ(echoed(shellDoubleQuoted(value)), value) << value;
    std::string twoWords = runCapturingOutput({"/bin/sh", "-c",
                                               "printf '<%s>' " + shellArgument(value) + " " +
                                                   shellDoubleQuoted(value)})
                               .standardOutput;
    EXPECT_EQ(twoWords, "<" + value + "><" + value + ">") << value;
  }
  EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("pwned")));
}

TEST_F(ShellQuotingTest, CapturingOutputOfAProgramThatCannotStart) {
  CapturedOutput output = runCapturingOutput({sandbox.inHome("missing-program")});
  EXPECT_EQ(output.status, -1);
  EXPECT_EQ(runCapturingOutput({}).status, -1);
}

// --- the open tool's mapping --------------------------------------------------------------------

TEST_F(ShellQuotingTest, TheOpenToolIsMappedOnlyWhereItIsTheCommandWord) {
  const std::string tool = shellQuoted(resolvedToolPath("/usr/bin/open"));
  ASSERT_NE(tool, "'/usr/bin/open'");
  const std::string o = "/usr/bin/open";
  const std::pair<std::string, std::string> mapped[] = {
      {o + " -a", tool + " -a"},
      {"true; " + o + "&&" + o + "||" + o + "|" + o + "&\n" + o,
       "true; " + tool + "&&" + tool + "||" + tool + "|" + tool + "&\n" + tool},
      {"(" + o + ")", "(" + tool + ")"},
      {"echo \"$(" + o + " \"x\")\"", "echo \"$(" + tool + " \"x\")\""},
      {"if ! " + o + "; then { " + o + "; } fi", "if ! " + tool + "; then { " + tool + "; } fi"},
      {"A='x y' 2>/dev/null <in " + o + " x", "A='x y' 2>/dev/null <in " + tool + " x"},
      {"case $a in " + o + "|b) " + o + " a;; (c) x;; esac; " + o,
       "case $a in " + o + "|b) " + tool + " a;; (c) x;; esac; " + tool},
      {"echo # " + o + "\n" + o, "echo # " + o + "\n" + tool},
  };
  for (const auto& [command, expected] : mapped) {
    EXPECT_EQ(withToolPathsMapped(command), expected) << command;
  }
  const std::string unchanged[] = {
      "echo " + o,
      "echo '" + o + "'",
      "\"" + o + "\" x",
      "\\" + o + " x",
      "echo \"a " + o + " b\"",
      "echo 'a " + o + " b'",
      "echo a\\ " + o,
      "echo `" + o + "`",
      "echo ${x:-" + o + "} $((1)) >" + o,
      "x" + o + "; " + o + "x; " + o + "/x",
      "cat <<E\n" + o + "\nE",
      "echo 'unbalanced; " + o,
  };
  for (const std::string& command : unchanged) {
    EXPECT_EQ(withToolPathsMapped(command), command) << command;
  }
}

TEST_F(ShellQuotingTest, ToolPathsAndArgumentsHoldingTheToolRunNothingElse) {
  // The tool under a platform root, then in the tools folder beside the bundle: each path holds
  // a command substitution that must never run.
  const std::string pwned = sandbox.inHome("pwned");
  const std::string root = sandbox.base() + "/root$(cd;touch pwned)";
  const std::string tools = sandbox.base() + "/tools$(cd;touch pwned)";
  const std::string recorder = "#!/bin/sh\nprintf '<%s>' \"$@\" > \"$HOME/opened\"\n";
  for (const std::string& tool : {root + "/usr/bin/open", tools + "/platform/bin/open"}) {
    writeFile(tool, recorder);
    ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
  }
  const std::string bundle = tools + "/MendkitAgent.app";
  writeFile(bundle + "/Contents/Info.plist", "<plist version=\"1.0\"><dict/></plist>");
  foundation::Bundle::setMainForTesting(foundation::Bundle::atPath(bundle));

  const std::string argument = sandbox.inHome("a /usr/bin/open b");
  const std::string echoed = sandbox.inHome("echoed");
  const std::string command = "/usr/bin/open " + shellDoubleQuoted(argument) + " " +
                              shellArgument(argument) + "; echo \"x /usr/bin/open\" > " +
                              shellArgument(echoed);
  for (bool rooted : {true, false}) {
    setenv("PLATFORM_ROOT", (rooted ? root : sandbox.root()).c_str(), 1);
    EXPECT_EQ(resolvedToolPath("/usr/bin/open"),
              rooted ? root + "/usr/bin/open" : tools + "/platform/bin/open");
    std::filesystem::remove(sandbox.inHome("opened"));
    EXPECT_EQ(runShellCommand(command), 0);
    EXPECT_EQ(readFile(sandbox.inHome("opened")), "<" + argument + "><" + argument + ">");
    EXPECT_EQ(readFile(echoed), "x /usr/bin/open\n") << rooted;
    EXPECT_FALSE(std::filesystem::exists(pwned)) << rooted;
  }
  // With no platform root, /usr/bin/open is the system's program of that name (Debian has one).
  setenv("PLATFORM_ROOT", "/", 1);
  EXPECT_EQ(resolvedToolPath("/usr/bin/open"), tools + "/platform/bin/open");
  foundation::Bundle::setMainForTesting(std::nullopt);
}

TEST_F(ShellQuotingTest, AnInstalledBundleFindsTheToolsFolderBesideIt) {
  const std::string lib = sandbox.base() + "/usr/lib/mendkit-agent";
  writeFile(lib + "/MendkitAgent.app/Contents/Info.plist",
            "<plist version=\"1.0\"><dict/></plist>");
  std::filesystem::create_directories(lib + "/bin");
  foundation::Bundle::setMainForTesting(foundation::Bundle::atPath(lib + "/MendkitAgent.app"));
  EXPECT_EQ(foundation::platformToolsDirectory(), lib + "/bin");
  EXPECT_TRUE(foundation::commandSearchPath().ends_with(":" + lib + "/bin"));
  foundation::Bundle::setMainForTesting(std::nullopt);
}

}  // namespace
