#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace testing_support {

// A real child process whose executable lies at a path of the test's choosing: a copy of the
// system's `cat`, fed through pipes. The constructor returns once the child answers, so that the
// system shows it fully started; the child is killed and reaped when the object is destroyed.
class RunningProgram {
 public:
  // Copies /bin/cat to `executable` unless something is there already (creating folders) and
  // starts it. `environment` entries ("NAME=value") replace or add to the test's environment.
  // Fails the test (pid() is then -1) when the copy, the start or the first answer fails.
  explicit RunningProgram(const std::string& executable,
                          const std::vector<std::string>& environment = {});
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return _child ? _child->pid() : -1; }

 private:
  std::optional<Subprocess> _child;  // none until started, and once stopped
};

}  // namespace testing_support
