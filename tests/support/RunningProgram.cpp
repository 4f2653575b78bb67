#include "support/RunningProgram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "support/Environment.h"

extern char** environ;

namespace testing_support {

RunningProgram::RunningProgram(const std::string& executable,
                               const std::vector<std::string>& environment) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(executable).parent_path(), error);
  std::filesystem::copy_file("/bin/cat", executable, std::filesystem::copy_options::skip_existing,
                             error);
  if (error) {
    ADD_FAILURE() << "cannot copy /bin/cat to " << executable << ": " << error.message();
    return;
  }

  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot make pipes";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);

  std::vector<std::string> variables = environmentWith(environment);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string argv0 = executable;
  char* argv[] = {argv0.data(), nullptr};

  int failed = posix_spawn(&_pid, executable.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  _input = toChild[1];
  _output = fromChild[0];
  if (failed != 0) {
    _pid = -1;
    ADD_FAILURE() << "cannot start " << executable << ": " << std::strerror(failed);
    return;
  }

  // The echo proves the program is running its own code, past every step of its start.
  char echo = 0;
  pollfd ready{_output, POLLIN, 0};
  bool answered = ::write(_input, "!", 1) == 1 && ::poll(&ready, 1, 10'000) == 1 &&
                  ::read(_output, &echo, 1) == 1 && echo == '!';
  if (!answered) {
    ADD_FAILURE() << executable << " did not answer";
    stop();
  }
}

RunningProgram::~RunningProgram() { stop(); }

void RunningProgram::stop() {
  if (_pid > 0) {
    ::kill(_pid, SIGKILL);
    int status = 0;
    while (::waitpid(_pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  _pid = -1;
  if (_input >= 0) ::close(_input);
  if (_output >= 0) ::close(_output);
  _input = _output = -1;
}

}  // namespace testing_support
