#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

extern char** environ;

namespace bench {

// A private X server (Xvfb, 1440x900, black root window) for a benchmark, killed when destroyed.
// name() is ":N", or empty when the server did not start within 10 s.
class PrivateDisplay {
 public:
  PrivateDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb",        "-displayfd", "3",   "-screen", "0",
                          "1440x900x24", "-nolisten",  "tcp", "-br",     nullptr};
    if (posix_spawnp(&_server, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      _server = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string text;
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (_server > 0 && text.find('\n') == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          giveUp - std::chrono::steady_clock::now());
      pollfd entry{fds[0], POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, int(left.count())) <= 0) break;
      char buffer[32];
      ssize_t count = read(fds[0], buffer, sizeof buffer);
      if (count <= 0) break;
      text.append(buffer, std::size_t(count));
    }
    close(fds[0]);
    if (text.find('\n') != std::string::npos) _name = ":" + text.substr(0, text.find('\n'));
  }
  ~PrivateDisplay() {
    if (_server <= 0) return;
    ::kill(_server, SIGTERM);
    waitpid(_server, nullptr, 0);
  }
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  const std::string& name() const { return _name; }

 private:
  pid_t _server = -1;
  std::string _name;
};

}  // namespace bench
