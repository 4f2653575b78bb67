#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Runs `command` with /bin/sh -c and waits, as the C library's system() does, answering the wait
// status as system() would (-1 when the shell could not be started). The shell finds tools on PATH
// with the platform's tools folder appended (a tool earlier on PATH wins); "/usr/bin/open" is
// resolved as resolvedToolPath says.
// Thread-safe; the caller's thread blocks.
int runShellCommand(const std::string& command);

// The PATH value commands run with, and the folder of the platform's own tools: the one beside
// the main bundle (installed or built), else the build tree's.
std::string commandSearchPath();
std::string platformToolsDirectory();

// The path at which a tool the agent names by absolute path runs: "/usr/bin/open" is
// $PLATFORM_ROOT/usr/bin/open where a platform root other than "/" is set and that is an
// executable file, else the `open` in `toolsFolder` (by default the platform's tools folder); any
// other path as platformPath maps it.
std::string resolvedToolPath(std::string_view tool, std::string_view toolsFolder);
std::string resolvedToolPath(std::string_view tool);

// `command` with "/usr/bin/open" replaced by the resolved tool, as one single-quoted word, where
// it stands as a command word (see commandWordOffsets); everywhere else, inside quotes and as an
// argument, it is left as written.
std::string withToolPathsMapped(const std::string& command);

// `value` as one single-quoted shell word: the shell hands it on unchanged, whatever it holds.
std::string shellQuoted(std::string_view value);

// `value` as one shell word that the shell hands on unchanged: as it is when it is made only of
// characters the shell gives no meaning ([A-Za-z0-9_./+,:@%-], not empty), else shellQuoted.
std::string shellArgument(std::string_view value);
// `value` between double quotes, with a backslash before each `$`, backquote, `"` and `\`, so that
// the shell hands it on unchanged; an ordinary value reads exactly as "value".
std::string shellDoubleQuoted(std::string_view value);

// How a program run by runCapturingOutput ended and what it wrote.
struct CapturedOutput {
  int status = -1;  // the wait status as waitpid gives it; -1 when the program could not be started
  std::string standardOutput;
  std::string standardError;
};

// Runs the program at `arguments[0]` (an absolute path) with `arguments` as its argument vector,
// in the environment runShellCommand gives its shell (PATH as above), standard input from
// /dev/null, and answers what it wrote to standard output and error until it ended. Processes it
// leaves behind are not waited for: what they write after it ended is dropped. Thread-safe; the
// caller's thread blocks.
CapturedOutput runCapturingOutput(const std::vector<std::string>& arguments);

}  // namespace foundation
