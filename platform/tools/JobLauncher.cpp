#include "JobLauncher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "JobFile.h"
#include "foundation/FileDescriptor.h"
#include "foundation/Paths.h"
#include "foundation/ProcessStart.h"
#include "foundation/Shell.h"

namespace launchd {
namespace {

// The step a job's start failed at, and its errno.
struct ChildFailure {
  int step;
  int error;
};
enum Step { kStandardInput, kStandardOutput, kStandardError, kWorkingDirectory, kExecute };

// How long the child may take from fork to exec.
constexpr std::chrono::seconds kStartTimeout{10};

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

// The step's failure as an Error naming the call that failed.
foundation::Error describe(const LaunchRequest& request, const ChildFailure& failure) {
  static constexpr const char* kCalls[] = {"open", "open", "open", "chdir", "execvp"};
  const char* call =
      kCalls[failure.step >= kStandardInput && failure.step <= kExecute ? failure.step : kExecute];
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

  foundation::ProcessOptions options;
  options.executable = request.executable;
  options.arguments = request.arguments;
  options.environment = request.environment;
  options.workingDirectory = request.workingDirectory;
  options.streams = {streams[0].get(), streams[1].get(), streams[2].get()};
  options.newSession = true;
  options.closeOtherDescriptors = true;
  sigset_t signals;
  sigfillset(&signals);
  options.defaultSignals = signals;
  sigemptyset(&signals);
  options.signalMask = signals;
  options.startTimeout = kStartTimeout;
  foundation::Result<pid_t> child = foundation::startProcess(options);
  for (foundation::FileDescriptor& stream : streams) stream.reset();
  if (!child) {
    const foundation::Error& error = child.error();
    bool inDirectory = error.call && std::strcmp(error.call, "chdir") == 0;
    return inDirectory ? describe(request, {kWorkingDirectory, error.code}) : error;
  }
  // Not yet reaped, the job's leader keeps its pid (and its identity) even once it has ended.
  auto identity = identifyProcess(child.value());
  if (!identity) return foundation::Error{"the job ended before it could be recorded"};
  return std::move(*identity);
}

}  // namespace launchd
