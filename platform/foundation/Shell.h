#pragma once

#include <string>
#include <string_view>

namespace foundation {

// Runs `command` with /bin/sh -c and waits, as the C library's system() does, answering the wait
// status as system() would (-1 when the shell could not be started). The shell finds tools on PATH
// with the platform's tools folder appended (a tool earlier on PATH wins); "/usr/bin/open" is
// $PLATFORM_ROOT/usr/bin/open where that exists, else the platform's own `open`.
// Thread-safe; the caller's thread blocks.
int runShellCommand(const std::string& command);

// The PATH value commands run with, and the folder of the platform's own tools.
std::string commandSearchPath();
std::string platformToolsDirectory();

// The path at which the shell must run a tool the agent names by absolute path (see above).
std::string resolvedToolPath(std::string_view tool);

// `command` with each command word "/usr/bin/open" replaced by the resolved tool (see above).
std::string withToolPathsMapped(const std::string& command);

// `value` as one single-quoted shell word: the shell hands it on unchanged, whatever it holds.
std::string shellQuoted(std::string_view value);

}  // namespace foundation
