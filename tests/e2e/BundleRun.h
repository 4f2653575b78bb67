#pragma once

#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  bool exited = false;  // false: still running when the time was up (then killed)
  int status = -1;      // exit status when exited normally, else -1
  std::string log;      // standard error: the agent's log lines
  double seconds = 0;   // how long it ran
};

// Runs the built agent with `arguments` in the current environment (the test's HOME and
// PLATFORM_ROOT), waiting at most `limitSeconds` before killing it.
RunResult runAgent(const std::vector<std::string>& arguments, double limitSeconds = 15);

}  // namespace e2e
