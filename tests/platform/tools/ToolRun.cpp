#include "ToolRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "foundation/DirectoryStream.h"
#include "support/Deadline.h"

using foundation::FileDescriptor;
using testing_support::Deadline;

namespace tools_tests {
namespace {

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

bool isRunning(pid_t pid) {
  auto fields = statFields(pid);
  return fields && !fields->empty() && (*fields)[0] != 'Z' && (*fields)[0] != 'X';
}

bool waitSleepingIn(pid_t pid, const std::string& command, double bound) {
  Deadline deadline(bound);
  const std::string name = "(" + command + ") S";
  for (;;) {
    std::optional<std::string> line = statLine(pid);
    if (!line) return false;
    if (line->find(name) == line->find(' ') + 1) return true;
    if (deadline.millisecondsLeft() == 0) return false;
    ::usleep(1000);
  }
}

bool waitGone(pid_t pid, double bound) {
  FileDescriptor pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!pidfd) return errno == ESRCH;
  pollfd ready{pidfd.get(), POLLIN, 0};
  Deadline deadline(bound);
  int got;
  while ((got = ::poll(&ready, 1, deadline.millisecondsLeft())) < 0 && errno == EINTR) {
  }
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
  foundation::DirectoryStream dir(folder);
  while (const dirent* entry = dir.next()) {
    if (entry->d_name[0] != '.') fds.push_back(std::atoi(entry->d_name));
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

Fifo::Fifo(std::string path) : _path(std::move(path)) {
  if (::mkfifo(_path.c_str(), 0600) != 0) ADD_FAILURE() << "cannot make " << _path;
  // Read and write: writers never see a missing reader, and we never see end-of-file.
  _fd.reset(::open(_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!_fd) ADD_FAILURE() << "cannot open " << _path;
}

std::optional<std::vector<std::string>> Fifo::readRecord(double bound) {
  Deadline deadline(bound);
  size_t end;
  while ((end = _buffered.find('\n')) == std::string::npos) {
    pollfd ready{_fd.get(), POLLIN, 0};
    int got = ::poll(&ready, 1, deadline.millisecondsLeft());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    char buffer[4096];
    ssize_t n = ::read(_fd.get(), buffer, sizeof buffer);
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
  ASSERT_EQ(::write(_fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

}  // namespace tools_tests
