#include "JobLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "JobFile.h"
#include "foundation/FileDescriptor.h"
#include "foundation/Paths.h"
#include "foundation/Shell.h"

extern char** environ;

namespace launchd {
namespace {

// What the child reports through its pipe when a step fails: the step and its errno.
struct ChildFailure {
  int step;
  int error;
};
enum Step { kStandardInput, kStandardOutput, kStandardError, kWorkingDirectory, kExecute };

// How long the child may take from fork to exec.
constexpr std::chrono::seconds kStartTimeout{10};

// Waits until `fd` can be read (or has hung up) for at most `timeout`; false when it did not.
bool awaitReadable(int fd, std::chrono::milliseconds timeout) {
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

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view variable(*entry);
    std::string name(variable.substr(0, variable.find('=')));
    if (!overrides.count(name)) variables.emplace_back(variable);
  }
  for (const auto& [name, value] : overrides) variables.push_back(name + "=" + value);
  return variables;
}

[[noreturn]] void failInChild(int reportFd, Step step) {
  ChildFailure failure{step, errno};
  [[maybe_unused]] ssize_t ignored = ::write(reportFd, &failure, sizeof failure);
  ::_exit(127);
}

// Opens a standard stream's file without ever blocking: a FIFO that no process reads is refused
// (ENXIO) rather than waited on. The answer blocks again, as a job expects of its output, and is
// numbered above the standard streams, so that moving it onto one never overwrites another.
foundation::FileDescriptor openStream(const char* path, int flags) {
  foundation::FileDescriptor fd(::open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644));
  if (!fd) return fd;
  int kept = errno;
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  if (fd.get() > STDERR_FILENO) return fd;
  foundation::FileDescriptor moved(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
  errno = kept;
  return moved;
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

// In the forked child, with the standard streams opened by the parent: never returns. Nothing here
// can block, and the caller's descriptors (its lock among them) are closed first.
[[noreturn]] void becomeJob(const LaunchRequest& request, const int streams[3], char* const* argv,
                            char* const* envp, int reportFd) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  ::setsid();

  // dup2 clears close-on-exec on the copy
  for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
    if (::dup2(streams[target], target) != target) failInChild(reportFd, Step(target));
  }
  closeAllBut(reportFd);
  if (request.workingDirectory && ::chdir(request.workingDirectory->c_str()) != 0) {
    failInChild(reportFd, kWorkingDirectory);
  }
  ::execvpe(request.executable.c_str(), argv, envp);
  failInChild(reportFd, kExecute);
}

// The step's failure as an Error naming the call that failed.
foundation::Error describe(const LaunchRequest& request, const ChildFailure& failure) {
  static constexpr const char* kCalls[] = {"open", "open", "open", "chdir", "execvpe"};
  const char* call = failure.step >= kStandardInput && failure.step <= kExecute
                         ? kCalls[failure.step]
                         : kCalls[kExecute];
  std::string what;
  switch (failure.step) {
    case kStandardInput:
      what = "cannot open /dev/null";
      break;
    case kStandardOutput:
      what = "cannot open StandardOutPath " + request.standardOutPath.value_or("/dev/null");
      break;
    case kStandardError:
      what = "cannot open StandardErrorPath " + request.standardErrorPath.value_or("/dev/null");
      break;
    case kWorkingDirectory:
      what = "cannot enter WorkingDirectory " + *request.workingDirectory;
      break;
    default:
      what = "cannot run " + request.executable;
      break;
  }
  if (failure.error == ENXIO && failure.step != kExecute) {
    return foundation::Error{what + ": it is a FIFO that no process reads", failure.error, call};
  }
  return foundation::Error::fromErrno(call, std::move(what), failure.error);
}

}  // namespace

LaunchRequest launchRequestFor(const JobDescription& job, std::string_view toolsFolder) {
  LaunchRequest request;
  request.executable = foundation::resolvedToolPath(job.executable(), toolsFolder);
  request.arguments = job.arguments;
  if (request.arguments.empty()) request.arguments.push_back(job.executable());
  auto mapped = [](const std::optional<std::string>& path) -> std::optional<std::string> {
    if (!path) return std::nullopt;
    return foundation::platformPath(foundation::expandTildeInPath(*path));
  };
  request.standardOutPath = mapped(job.standardOutPath);
  request.standardErrorPath = mapped(job.standardErrorPath);
  request.workingDirectory = mapped(job.workingDirectory);
  request.environment = job.environment;
  return request;
}

foundation::Result<JobProcess> launchJob(const LaunchRequest& request) {
  if (request.executable.empty()) return foundation::Error{"no Program or ProgramArguments to run"};
  std::vector<std::string> arguments = request.arguments;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = environmentWith(request.environment);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;
  const std::optional<std::string>* paths[3] = {nullptr, &request.standardOutPath,
                                                &request.standardErrorPath};
  foundation::FileDescriptor streams[3];
  for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
    bool given = paths[target] && paths[target]->has_value();
    streams[target] = openStream(given ? (*paths[target])->c_str() : "/dev/null",
                                 target == STDIN_FILENO ? O_RDONLY : kAppend);
    if (!streams[target]) return describe(request, {target, errno});
  }
  const int streamFds[3] = {streams[0].get(), streams[1].get(), streams[2].get()};

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    return foundation::Error{std::strerror(errno), errno, "pipe2"};
  foundation::FileDescriptor reportRead(report[0]), reportWrite(report[1]);
  pid_t child = ::fork();
  if (child < 0) return foundation::Error::fromErrno("fork", "cannot fork");
  if (child == 0) {
    reportRead.reset();
    becomeJob(request, streamFds, argv.data(), envp.data(), reportWrite.get());
  }
  // Only the child keeps the write end: the read below ends when it has executed or failed.
  reportWrite.reset();
  for (foundation::FileDescriptor& stream : streams) stream.reset();
  // The identity is taken before the child can exec or end: the pid cannot be reused meanwhile.
  auto identity = identifyProcess(child);

  ChildFailure failure{};
  ssize_t got = -1;
  if (!awaitReadable(reportRead.get(), kStartTimeout)) {
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return foundation::Error{"cannot run " + request.executable + ": it did not start within " +
                             std::to_string(kStartTimeout.count()) + " seconds"};
  }
  do {
    got = ::read(reportRead.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  reportRead.reset();
  if (got == static_cast<ssize_t>(sizeof failure)) {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return describe(request, failure);
  }
  if (!identity) return foundation::Error{"the job ended before it could be recorded"};
  return std::move(*identity);
}

}  // namespace launchd
