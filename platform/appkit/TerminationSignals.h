#pragma once

#include <functional>

namespace appkit {

class RunLoop;

// SIGTERM, SIGHUP and SIGINT turned into calls on a run loop's thread: the handler only writes
// the signal's number to a pipe that the loop watches, so whatever ending work the call does runs
// as ordinary code. A second signal while the first one's call has not ended the process ends it
// at once, as an unhandled signal would (a wedged main thread stays killable).
class TerminationSignals {
 public:
  // Installs the handlers for the process and calls `onSignal(number)` from `runLoop` for each
  // signal received. Main thread, once; later calls do nothing and return false.
  static bool install(RunLoop& runLoop, std::function<void(int signal)> onSignal);
};

}  // namespace appkit
