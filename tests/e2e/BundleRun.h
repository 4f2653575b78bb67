#pragma once

#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace e2e {

// Runs the built agent with `arguments` in the current environment (the test's HOME and
// PLATFORM_ROOT), waiting at most `limitSeconds` for it to end before killing it. Its log lines
// (standard error) are in `err`. What it leaves running may keep its output open: only its own
// end counts.
inline testing_support::ChildResult runAgent(const std::vector<std::string>& arguments,
                                             double limitSeconds = 15) {
  std::vector<std::string> argv = {MENDKIT_AGENT_EXECUTABLE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return testing_support::runChild(argv, {.untilOutputCloses = false}, limitSeconds);
}

}  // namespace e2e
