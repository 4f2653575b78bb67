#include "support/Subprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "support/Environment.h"
#include "support/StderrCapture.h"

namespace testing_support {
namespace {

using foundation::FileDescriptor;

// The wait status noted for a child that could not be waited for.
constexpr int kLostStatus = -1;
// Without a pidfd, how often a wait looks for the child's end.
constexpr int kPollMilliseconds = 10;

// A descriptor that polls readable once `pid` has ended; none where the kernel has no pidfd.
FileDescriptor pidfdOpen(pid_t pid) {
  return FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

// Both ends of a new close-on-exec pipe, or false (failing the test).
bool makePipe(FileDescriptor* readEnd, FileDescriptor* writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot make a pipe: " << std::strerror(errno);
    return false;
  }
  readEnd->reset(ends[0]);
  writeEnd->reset(ends[1]);
  return true;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& value : strings) result.push_back(value.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv, const ChildOptions& options)
    : _untilOutputCloses(options.untilOutputCloses) {
  if (argv.empty()) {
    ADD_FAILURE() << "no program to start";
    return;
  }
  // The child's ends: duplicated onto its standard streams, and closed here once it has started.
  FileDescriptor childInput, childOut, childErr;
  if (options.input && !makePipe(&childInput, &_input)) return;
  if (options.output != ChildOutput::Discarded && !makePipe(&_out, &childOut)) return;
  if (options.output == ChildOutput::Captured && !makePipe(&_err, &childErr)) return;
  const FileDescriptor& errEnd = options.output == ChildOutput::Interleaved ? childOut : childErr;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  auto connect = [&](const FileDescriptor& end, int stream, int nullMode) {
    if (end) {
      posix_spawn_file_actions_adddup2(&actions, end.get(), stream);
    } else {
      posix_spawn_file_actions_addopen(&actions, stream, "/dev/null", nullMode, 0);
    }
  };
  connect(childInput, STDIN_FILENO, O_RDONLY);
  connect(childOut, STDOUT_FILENO, O_WRONLY);
  connect(errEnd, STDERR_FILENO, O_WRONLY);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (options.newProcessGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  std::vector<std::string> arguments = argv, variables = environmentWith(options.environment);
  _start = Clock::now();
  int failed = ::posix_spawn(&_pid, arguments[0].c_str(), &actions, &attributes,
                             pointers(arguments).data(), pointers(variables).data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    _pid = -1;
    _input.reset();
    _out.reset();
    _err.reset();
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(failed);
    return;
  }
  _pidfd = pidfdOpen(_pid);
}

Subprocess::~Subprocess() { kill(); }

bool Subprocess::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(_input.get(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool Subprocess::awaitOutput(std::string_view text, double seconds, size_t times) {
  Deadline deadline(seconds);
  while (occurrences(_result.out, std::string(text)) < times) {
    if (!_out) return false;
    if (!collect(deadline) && deadline.passed()) return false;
  }
  return true;
}

ChildResult Subprocess::wait(double seconds) {
  if (_waited || _pid <= 0) return _result;
  _waited = true;
  _input.reset();  // end of input: a child reading it to the end can finish
  Deadline deadline(seconds);
  auto done = [&] { return ended() && (!_untilOutputCloses || !outputOpen()); };
  while (!done()) {
    if (!collect(deadline) && deadline.passed()) break;
  }
  _result.finished = done();
  kill();
  // What the pipes already hold; a bounded number of reads, should something go on writing.
  for (int reads = 0; reads < 64 && outputOpen() && collect(Deadline(0)); ++reads) {
  }
  _out.reset();
  _err.reset();
  if (*_status != kLostStatus && WIFEXITED(*_status)) {
    _result.exited = true;
    _result.exitStatus = WEXITSTATUS(*_status);
  } else if (*_status != kLostStatus && WIFSIGNALED(*_status)) {
    _result.signal = WTERMSIG(*_status);
  }
  return _result;
}

pid_t Subprocess::release() {
  _waited = true;
  _input.reset();
  _out.reset();
  _err.reset();
  _pidfd.reset();
  return std::exchange(_pid, -1);
}

void Subprocess::reapIfEnded() {
  if (_pid <= 0 || ended()) return;
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(_pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got == 0) return;
  if (got < 0) {
    ADD_FAILURE() << "cannot wait for child " << _pid << ": " << std::strerror(errno);
    status = kLostStatus;
  }
  _status = status;
  _result.seconds = std::chrono::duration<double>(Clock::now() - _start).count();
  _pidfd.reset();
}

bool Subprocess::collect(const Deadline& deadline) {
  FileDescriptor* sources[] = {&_out, &_err};
  std::string* sinks[] = {&_result.out, &_result.err};
  std::vector<pollfd> fds;
  std::vector<int> which;
  for (int index = 0; index < 2; ++index) {
    if (!*sources[index]) continue;
    fds.push_back(pollfd{sources[index]->get(), POLLIN, 0});
    which.push_back(index);
  }
  const bool watchEnd = !ended() && _pid > 0;
  int timeout = deadline.millisecondsLeft();
  if (watchEnd && _pidfd) fds.push_back(pollfd{_pidfd.get(), POLLIN, 0});
  if (watchEnd && !_pidfd) timeout = std::min(timeout, kPollMilliseconds);

  int ready = ::poll(fds.data(), fds.size(), timeout);
  bool happened = false;
  for (size_t at = 0; ready > 0 && at < which.size(); ++at) {
    if (!fds[at].revents) continue;
    char buffer[65536];
    ssize_t got = ::read(fds[at].fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) {
      sinks[which[at]]->append(buffer, static_cast<size_t>(got));
    } else {
      sources[which[at]]->reset();  // end of file, or a pipe that cannot be read
    }
    happened = true;
  }
  if (watchEnd) {
    reapIfEnded();
    happened = happened || ended();
  }
  return happened;
}

void Subprocess::kill() {
  if (_pid <= 0 || ended()) return;
  ::kill(_pid, SIGKILL);
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(_pid, &status, 0)) < 0 && errno == EINTR) {
  }
  _status = got == _pid ? status : kLostStatus;
  _result.seconds = std::chrono::duration<double>(Clock::now() - _start).count();
  _pidfd.reset();
}

ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options,
                     double seconds) {
  return Subprocess(argv, options).wait(seconds);
}

std::optional<int> waitForChild(pid_t pid, double seconds) {
  if (pid <= 0) return std::nullopt;  // waitpid would take any child
  FileDescriptor pidfd = pidfdOpen(pid);
  Deadline deadline(seconds);
  for (;;) {
    int status = 0;
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) return status;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;  // not a child of this process
    int timeout = deadline.millisecondsLeft();
    if (timeout == 0) break;
    pollfd ended{pidfd.get(), POLLIN, 0};
    ::poll(&ended, pidfd ? 1 : 0, pidfd ? timeout : std::min(timeout, kPollMilliseconds));
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return std::nullopt;
}

}  // namespace testing_support
