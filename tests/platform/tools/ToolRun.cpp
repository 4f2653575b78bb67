#include "ToolRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "support/Environment.h"

extern char** environ;

using testing_support::environmentWith;

namespace tools_tests {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& value : strings) result.push_back(value.data());
  result.push_back(nullptr);
  return result;
}

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// The line of /proc/<pid>/stat: "<pid> (<name>) <state> ...".
std::optional<std::string> statLine(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!file || !std::getline(file, line) || line.rfind(')') == std::string::npos) {
    return std::nullopt;
  }
  return line;
}

// The fields after the process's name, from its state on.
std::optional<std::string> statFields(pid_t pid) {
  std::optional<std::string> line = statLine(pid);
  if (!line) return std::nullopt;
  return line->substr(line->rfind(')') + 2);
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, double bound) {
  ToolResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<std::string> args = argv, variables = environmentWith(environment);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, pointers(args).data(),
                           pointers(variables).data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (failed != 0) {
    ::close(out[0]);
    ::close(err[0]);
    ADD_FAILURE() << "cannot start " << argv[0];
    return result;
  }

  auto deadline = deadlineAfter(bound);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    int ready = ::poll(fds, 2, millisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    for (int index = 0; index < 2; ++index) {
      if (fds[index].fd < 0 || !fds[index].revents) continue;
      char buffer[4096];
      ssize_t got = ::read(fds[index].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[index]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[index].fd);
        fds[index].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  std::optional<int> status = waitTool(pid, open == 0 ? bound : 0);
  result.finished = open == 0 && status.has_value();
  result.exitStatus = status.value_or(-1);
  return result;
}

pid_t startTool(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = argv;
  pid_t pid = -1;
  int failed =
      posix_spawn(&pid, args[0].c_str(), &actions, nullptr, pointers(args).data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}

std::optional<int> waitTool(pid_t pid, double bound) {
  int pidfd = pidfdOpen(pid);
  bool ended = true;
  if (pidfd >= 0) {
    pollfd ready{pidfd, POLLIN, 0};
    auto deadline = deadlineAfter(bound);
    int got;
    while ((got = ::poll(&ready, 1, millisecondsLeft(deadline))) < 0 && errno == EINTR) {
    }
    ended = got == 1;
    ::close(pidfd);
  }
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended) return std::nullopt;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isRunning(pid_t pid) {
  auto fields = statFields(pid);
  return fields && !fields->empty() && (*fields)[0] != 'Z' && (*fields)[0] != 'X';
}

bool waitSleepingIn(pid_t pid, const std::string& command, double bound) {
  auto deadline = deadlineAfter(bound);
  const std::string name = "(" + command + ") S";
  for (;;) {
    std::optional<std::string> line = statLine(pid);
    if (!line) return false;
    if (line->find(name) == line->find(' ') + 1) return true;
    if (millisecondsLeft(deadline) == 0) return false;
    ::usleep(1000);
  }
}

bool waitGone(pid_t pid, double bound) {
  int pidfd = pidfdOpen(pid);
  if (pidfd < 0) return errno == ESRCH;
  pollfd ready{pidfd, POLLIN, 0};
  auto deadline = deadlineAfter(bound);
  int got;
  while ((got = ::poll(&ready, 1, millisecondsLeft(deadline))) < 0 && errno == EINTR) {
  }
  ::close(pidfd);
  return got == 1;
}

std::optional<pid_t> sessionOf(pid_t pid) {
  auto fields = statFields(pid);
  if (!fields) return std::nullopt;
  char state;
  long parent, group, session;
  if (std::sscanf(fields->c_str(), "%c %ld %ld %ld", &state, &parent, &group, &session) != 4) {
    return std::nullopt;
  }
  return static_cast<pid_t>(session);
}

std::vector<int> openDescriptors(pid_t pid) {
  std::vector<int> fds;
  std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') fds.push_back(std::atoi(entry->d_name));
    }
    ::closedir(dir);
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

Fifo::Fifo(std::string path) : _path(std::move(path)) {
  if (::mkfifo(_path.c_str(), 0600) != 0) ADD_FAILURE() << "cannot make " << _path;
  // Read and write: writers never see a missing reader, and we never see end-of-file.
  _fd = ::open(_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (_fd < 0) ADD_FAILURE() << "cannot open " << _path;
}

Fifo::~Fifo() {
  if (_fd >= 0) ::close(_fd);
}

std::optional<std::vector<std::string>> Fifo::readRecord(double bound) {
  auto deadline = deadlineAfter(bound);
  size_t end;
  while ((end = _buffered.find('\n')) == std::string::npos) {
    pollfd ready{_fd, POLLIN, 0};
    int got = ::poll(&ready, 1, millisecondsLeft(deadline));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    char buffer[4096];
    ssize_t n = ::read(_fd, buffer, sizeof buffer);
    if (n > 0) _buffered.append(buffer, static_cast<size_t>(n));
  }
  std::string record = _buffered.substr(0, end);
  _buffered.erase(0, end + 1);
  std::vector<std::string> fields;
  for (size_t from = 0; from < record.size();) {
    size_t nul = record.find('\0', from);
    if (nul == std::string::npos) nul = record.size();
    fields.push_back(record.substr(from, nul - from));
    from = nul + 1;
  }
  return fields;
}

void Fifo::write(std::string_view bytes) {
  ASSERT_EQ(::write(_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

}  // namespace tools_tests
