#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ToolRun.h"
#include "support/TestHome.h"

namespace tools_tests {

// A test home and root, and every process the test learnt of killed at the end.
class ToolsTest : public testing_support::HomeTest {
 protected:
  ~ToolsTest() override;

  // Notes a process (and its group, should it lead one) for killing at the end.
  void track(pid_t pid) { _tracked.push_back(pid); }
  // The pid a record from `fifo` starts with, tracked.
  pid_t reportedPid(const std::vector<std::string>& record);

  // An executable shell script at `path` running `body`.
  void writeScript(const std::string& path, const std::string& body);
  // An application bundle at `path` whose executable is a script running `body`.
  void writeBundle(const std::string& path, const std::string& body,
                   const std::string& executable = "App");

 private:
  std::vector<pid_t> _tracked;
};

// `value` as one single-quoted shell word.
std::string shellWord(const std::string& value);

}  // namespace tools_tests
