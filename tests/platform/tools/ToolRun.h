#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileDescriptor.h"

namespace tools_tests {

// A process that exists and is no zombie.
bool isRunning(pid_t pid);
// Waits up to `bound` seconds for a process (not necessarily a child) to end; true when it has.
bool waitGone(pid_t pid, double bound = 30);
std::optional<pid_t> sessionOf(pid_t pid);
// Waits up to `bound` seconds until the process runs the program named `command` and sleeps in
// it; true when it does.
bool waitSleepingIn(pid_t pid, const std::string& command, double bound = 30);
// The descriptor numbers the process holds open.
std::vector<int> openDescriptors(pid_t pid);

// A named pipe through which the programs under test report. Records are NUL-separated fields
// ended by a newline: { printf '%s\0' "$$" "$@"; printf '\n'; } > FIFO
class Fifo {
 public:
  explicit Fifo(std::string path);
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  const std::string& path() const { return _path; }
  // The next record's fields, or nullopt when none arrives within `bound` seconds.
  std::optional<std::vector<std::string>> readRecord(double bound = 30);
  void write(std::string_view bytes);

 private:
  std::string _path;
  foundation::FileDescriptor _fd;
  std::string _buffered;
};

}  // namespace tools_tests
