#pragma once

#include <functional>
#include <vector>

#include "RunningApplication.h"

namespace appkit {

// The user's workspace, read afresh from the system on every call. Stateless and thread-safe.
class Workspace {
 public:
  Workspace() = delete;

  // The applications of this user's session now, in ascending process id order: every process
  // (read from /proc) of the same real user whose home is ours, the home being HOME in the
  // process's environment or, without one, the user's entry in the user database. Processes of
  // other users, or of the same user under another home (a sandbox), are not listed. A process
  // that ends while being read is left out.
  static std::vector<RunningApplication> runningApplications();

  // Whether some application that runningApplications() would list now, with a known executable
  // path, satisfies `matches`. Cheaper than the list: `matches` is asked first, for every process
  // whose executable can be read, and only a process it accepts is then checked for this session;
  // the first such process ends the scan. A process that ends while being read is skipped.
  // `matches` runs on the calling thread and must not call back into the workspace.
  static bool anyApplication(const std::function<bool(const RunningApplication&)>& matches);
};

}  // namespace appkit
