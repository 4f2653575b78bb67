#pragma once

#include <string>
#include <vector>

namespace platform_tests {

// What a child process did: whether it ended within the bound, how, and what it wrote.
struct ChildResult {
  bool finished = false;  // false: the bound passed and the child was killed
  bool exited = false;    // ended through exit() or return from main
  int exitStatus = -1;
  int signal = 0;      // the signal that ended it, if any
  std::string output;  // standard output and standard error, interleaved
};

// Runs `argv` (argv[0] an executable path) with this process's environment and waits, up to
// `realSecondsBound` of real time, for it to end.
ChildResult runChild(const std::vector<std::string>& argv, double realSecondsBound = 60);

}  // namespace platform_tests
