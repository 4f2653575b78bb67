#include "BundleRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

RunResult runAgent(const std::vector<std::string>& arguments, double limitSeconds) {
  RunResult result;
  char logPath[] = "/tmp/mendkit-e2e-log-XXXXXX";
  int logFd = mkstemp(logPath);
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
  close(logFd);
  if (spawned != 0) {
    unlink(logPath);
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
  std::ifstream in(logPath);
  std::stringstream text;
  text << in.rdbuf();
  result.log = text.str();
  unlink(logPath);
  return result;
}

}  // namespace e2e
