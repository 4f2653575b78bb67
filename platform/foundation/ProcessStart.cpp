#include "ProcessStart.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "FileDescriptor.h"

extern char** environ;

namespace foundation {
namespace {

// What the child writes to its report pipe when a step fails: the step and its errno. The pipe is
// close-on-exec, so the parent reads end of file once the program runs.
struct ChildReport {
  int step;
  int error;
};
// Steps 0 to 2 are the standard streams.
enum Step { kSession = 3, kWorkingDirectory, kExecute };

const char* const kStreamNames[3] = {"standard input", "standard output", "standard error"};

// Everything the child needs, made before the fork.
struct Prepared {
  std::vector<std::string> words, variables;
  std::vector<char*> argv, envp;
  const char* file = nullptr;
  char* const* environment = environ;
  int streams[3] = {ProcessOptions::kInherited, ProcessOptions::kInherited,
                    ProcessOptions::kInherited};
  FileDescriptor nullInput, nullOutput;
};

std::vector<char*> pointersTo(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

Result<void> prepare(const ProcessOptions& options, bool executes, Prepared& prepared) {
  if (executes) {
    prepared.words = options.arguments;
    prepared.argv = pointersTo(prepared.words);
    prepared.file = !options.executable.empty() ? options.executable.c_str()
                    : prepared.words.empty()    ? ""
                                                : prepared.words.front().c_str();
    if (!options.environment.empty()) {
      for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view variable(*entry);
        if (!options.environment.count(std::string(variable.substr(0, variable.find('='))))) {
          prepared.variables.emplace_back(variable);
        }
      }
      for (const auto& [name, value] : options.environment) {
        prepared.variables.push_back(name + "=" + value);
      }
      prepared.envp = pointersTo(prepared.variables);
      prepared.environment = prepared.envp.data();
    }
  }
  for (int target = 0; target < 3; ++target) {
    int source = options.streams[target];
    if (source == ProcessOptions::kNullDevice) {
      FileDescriptor& null = target == STDIN_FILENO ? prepared.nullInput : prepared.nullOutput;
      if (!null)
        null.reset(::open("/dev/null",
                          (target == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_CLOEXEC | O_NOCTTY));
      if (!null) return Error::fromErrno("open", "cannot open /dev/null");
      source = null.get();
    }
    prepared.streams[target] = source;
  }
  return {};
}

[[noreturn]] void failInChild(int reportFd, int step) {
  ChildReport report{step, errno};
  [[maybe_unused]] ssize_t ignored = ::write(reportFd, &report, sizeof report);
  ::_exit(127);
}

// Closes every descriptor from 3 up but `keep`.
void closeAllBut(int keep) {
  auto closeRange = [](unsigned first, unsigned last) {
    if (first > last || ::syscall(SYS_close_range, first, last, 0) == 0) return;
    for (unsigned fd = first; fd <= last && fd < 65536; ++fd) ::close(static_cast<int>(fd));
  };
  closeRange(3, static_cast<unsigned>(keep) - 1);
  closeRange(static_cast<unsigned>(keep) + 1, ~0U);
}

// In the forked child, with every signal blocked: never returns. Async-signal-safe calls only
// until `body` (or the exec).
[[noreturn]] void becomeChild(const ProcessOptions& options, const Prepared& prepared,
                              const sigset_t& mask, int reportFd,
                              const std::function<void()>* body) {
  if (options.defaultSignals) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
      if (sigismember(&*options.defaultSignals, signal) == 1)
        ::sigaction(signal, &standard, nullptr);
    }
  }
  if (options.newSession && ::setsid() < 0) failInChild(reportFd, kSession);

  // A source that is itself another standard stream moves out of the way first, so that no
  // redirection overwrites one still to come.
  int sources[3];
  for (int target = 0; target < 3; ++target) {
    sources[target] = prepared.streams[target];
    if (sources[target] >= 0 && sources[target] <= STDERR_FILENO && sources[target] != target) {
      sources[target] = ::fcntl(sources[target], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      if (sources[target] < 0) failInChild(reportFd, target);
    }
  }
  for (int target = 0; target < 3; ++target) {
    int source = sources[target];
    if (source < 0) continue;
    // dup2 clears close-on-exec on the copy; a stream already in place has it cleared here.
    bool placed =
        source == target ? ::fcntl(target, F_SETFD, 0) == 0 : ::dup2(source, target) == target;
    if (!placed) failInChild(reportFd, target);
  }
  if (options.closeOtherDescriptors) closeAllBut(reportFd);
  if (options.workingDirectory && ::chdir(options.workingDirectory->c_str()) != 0) {
    failInChild(reportFd, kWorkingDirectory);
  }
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  if (body) {
    ::close(reportFd);
    (*body)();
    ::_exit(0);
  }
  ::execvpe(prepared.file, prepared.argv.data(), prepared.environment);
  failInChild(reportFd, kExecute);
}

Error childFailure(const ProcessOptions& options, const Prepared& prepared, ChildReport report) {
  switch (report.step) {
    case STDIN_FILENO:
    case STDOUT_FILENO:
    case STDERR_FILENO:
      return Error::fromErrno("dup2", std::string("cannot redirect ") + kStreamNames[report.step],
                              report.error);
    case kSession:
      return Error::fromErrno("setsid", "cannot start a session", report.error);
    case kWorkingDirectory:
      return Error::fromErrno("chdir", "cannot enter " + *options.workingDirectory, report.error);
    default:
      return Error::fromErrno("execvp", std::string("cannot run ") + prepared.file, report.error);
  }
}

// Waits until `fd` can be read (or has hung up) for at most `timeout`; false when it did not.
bool awaitReadable(int fd, std::chrono::seconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    int ready = ::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

void reap(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

Result<pid_t> start(const ProcessOptions& options, const std::function<void()>* body) {
  Prepared prepared;
  if (Result<void> ready = prepare(options, body == nullptr, prepared); !ready) {
    return ready.error();
  }
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return Error::fromErrno("pipe2");
  FileDescriptor reportRead(report[0]), reportWrite(report[1]);
  // Above the standard streams, where no redirection in the child can overwrite it.
  if (reportWrite.get() <= STDERR_FILENO) {
    reportWrite.reset(::fcntl(reportWrite.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (!reportWrite) return Error::fromErrno("fcntl");
  }

  // Blocked across the fork, so that no handler of the caller's runs in the child.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t child = ::fork();
  int forkError = errno;
  if (child == 0) {
    becomeChild(options, prepared, options.signalMask.value_or(previous), reportWrite.get(), body);
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (child < 0) return Error::fromErrno("fork", "cannot fork", forkError);
  reportWrite.reset();

  if (!body && options.startTimeout && !awaitReadable(reportRead.get(), *options.startTimeout)) {
    ::kill(child, SIGKILL);
    reap(child);
    return Error{std::string("cannot run ") + prepared.file + ": it did not start within " +
                     std::to_string(options.startTimeout->count()) + " seconds",
                 ETIMEDOUT, "poll"};
  }
  ChildReport failure{};
  ssize_t got = -1;
  do {
    got = ::read(reportRead.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof failure)) return child;
  reap(child);
  return childFailure(options, prepared, failure);
}

}  // namespace

Result<pid_t> startProcess(const ProcessOptions& options) { return start(options, nullptr); }

Result<pid_t> forkProcess(const ProcessOptions& options, const std::function<void()>& body) {
  return start(options, &body);
}

Result<int> waitForProcess(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Error::fromErrno("waitpid");
  }
  return status;
}

}  // namespace foundation
