#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/Shell.h"
#include "support/TestHome.h"

using foundation::CapturedOutput;
using foundation::runCapturingOutput;
using foundation::shellArgument;
using foundation::shellDoubleQuoted;

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

}  // namespace
