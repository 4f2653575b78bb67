#pragma once

#include <signal.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Result.h"

namespace foundation {

// How to start a child process. Everything is prepared before the fork: between fork and exec the
// child only makes async-signal-safe calls, so any thread of a threaded program may start one.
struct ProcessOptions {
  // A standard stream left as the caller has it, or put on /dev/null; any other value is a
  // descriptor of the caller's that the stream becomes.
  static constexpr int kInherited = -1;
  static constexpr int kNullDevice = -2;

  // The argument vector; arguments[0] names the program unless `executable` is given.
  std::vector<std::string> arguments;
  // The file to run; a name without '/' is searched on the caller's PATH, as execvp does.
  std::string executable;
  // Variables added to the caller's environment, or replacing those of the same name.
  std::map<std::string, std::string> environment;
  std::optional<std::string> workingDirectory;
  // Standard input, output and error.
  std::array<int, 3> streams{kInherited, kInherited, kInherited};
  bool newSession = false;
  // Closes every descriptor above the standard streams, close-on-exec or not.
  bool closeOtherDescriptors = false;
  // Signals whose disposition goes back to the default (ignored ones included).
  std::optional<sigset_t> defaultSignals;
  // The child's signal mask; the calling thread's when not given.
  std::optional<sigset_t> signalMask;
  // How long the child may take to get from fork to exec; it is killed after that. No limit when
  // not given.
  std::optional<std::chrono::seconds> startTimeout;
};

// Starts `options` and answers the child's pid once the program runs, or why it does not: a
// failure of the caller's (Error::call "pipe2", "fcntl", "open", "fork"), a step of the child's
// ("dup2" for a stream, "setsid", "chdir", "execvp", whose message is "cannot run <program>:
// <reason>"), or a start that took longer than the timeout (code ETIMEDOUT). A child that failed
// is reaped; one that runs is the caller's to wait for.
Result<pid_t> startProcess(const ProcessOptions& options);

// As startProcess, but the child runs `body` instead of a program and then exits with status 0;
// `arguments`, `executable`, `environment` and `startTimeout` are not used. In a threaded caller
// `body` may make async-signal-safe calls only.
Result<pid_t> forkProcess(const ProcessOptions& options, const std::function<void()>& body);

// Waits for the child `pid` to end and answers its wait status, as waitpid gives it.
Result<int> waitForProcess(pid_t pid);

}  // namespace foundation
