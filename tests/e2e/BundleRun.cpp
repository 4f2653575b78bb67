#include "BundleRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace e2e {

RunResult runAgent(const std::vector<std::string>& arguments, double limitSeconds) {
  RunResult result;
  // The agent's standard error goes to an anonymous in-memory file: nothing is written outside
  // the test's sandbox.
  int logFd = memfd_create("agent-log", MFD_CLOEXEC);
  if (logFd < 0) return result;

  std::vector<std::string> argv = {MENDKIT_AGENT_EXECUTABLE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, logFd, STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  auto start = std::chrono::steady_clock::now();
  int spawned = posix_spawn(&child, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    close(logFd);
    return result;
  }

  int status = 0;
  auto limit = start + std::chrono::duration<double>(limitSeconds);
  while (true) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      result.exited = WIFEXITED(status);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() > limit) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char buffer[16384];
  for (off_t at = 0;;) {
    ssize_t got = pread(logFd, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.log.append(buffer, static_cast<size_t>(got));
    at += got;
  }
  close(logFd);
  return result;
}

}  // namespace e2e
