#include "JobLauncher.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

bool redirect(int target, const char* path, int flags) {
  foundation::FileDescriptor fd(::open(path, flags | O_CLOEXEC, 0644));
  // dup2 clears close-on-exec on the copy
  return fd && ::dup2(fd.get(), target) == target;
}

// In the forked child: never returns.
[[noreturn]] void becomeJob(const LaunchRequest& request, char* const* argv, char* const* envp,
                            int reportFd) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  ::setsid();

  constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;
  if (!redirect(STDIN_FILENO, "/dev/null", O_RDONLY)) failInChild(reportFd, kStandardInput);
  const char* out = request.standardOutPath ? request.standardOutPath->c_str() : "/dev/null";
  if (!redirect(STDOUT_FILENO, out, kAppend)) failInChild(reportFd, kStandardOutput);
  const char* err = request.standardErrorPath ? request.standardErrorPath->c_str() : "/dev/null";
  if (!redirect(STDERR_FILENO, err, kAppend)) failInChild(reportFd, kStandardError);
  if (request.workingDirectory && ::chdir(request.workingDirectory->c_str()) != 0) {
    failInChild(reportFd, kWorkingDirectory);
  }
  // Everything else the caller left open closes on exec; the report pipe already does.
  if (::syscall(SYS_close_range, 3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < 65536; ++fd) {
      if (fd != reportFd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  ::execvpe(request.executable.c_str(), argv, envp);
  failInChild(reportFd, kExecute);
}

std::string describe(const LaunchRequest& request, const ChildFailure& failure) {
  std::string what;
  switch (failure.step) {
    case kStandardInput:
      what = "cannot open /dev/null";
      break;
    case kStandardOutput:
      what = "cannot open StandardOutPath " + *request.standardOutPath;
      break;
    case kStandardError:
      what = "cannot open StandardErrorPath " + *request.standardErrorPath;
      break;
    case kWorkingDirectory:
      what = "cannot enter WorkingDirectory " + *request.workingDirectory;
      break;
    default:
      what = "cannot run " + request.executable;
      break;
  }
  return what + ": " + std::strerror(failure.error);
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

LaunchResult launchJob(const LaunchRequest& request) {
  if (request.executable.empty()) return {std::nullopt, "no Program or ProgramArguments to run"};
  std::vector<std::string> arguments = request.arguments;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = environmentWith(request.environment);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return {std::nullopt, std::strerror(errno)};
  foundation::FileDescriptor reportRead(report[0]), reportWrite(report[1]);
  pid_t child = ::fork();
  if (child < 0) return {std::nullopt, std::string("cannot fork: ") + std::strerror(errno)};
  if (child == 0) {
    reportRead.reset();
    becomeJob(request, argv.data(), envp.data(), reportWrite.get());
  }
  // Only the child keeps the write end: the read below ends when it has executed or failed.
  reportWrite.reset();
  // The identity is taken before the child can exec or end: the pid cannot be reused meanwhile.
  auto identity = identifyProcess(child);

  ChildFailure failure{};
  ssize_t got;
  do {
    got = ::read(reportRead.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  reportRead.reset();
  if (got == static_cast<ssize_t>(sizeof failure)) {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {std::nullopt, describe(request, failure)};
  }
  if (!identity) return {std::nullopt, "the job ended before it could be recorded"};
  return {identity, ""};
}

}  // namespace launchd
