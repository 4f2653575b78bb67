#include "support/RunningProgram.h"

#include <gtest/gtest.h>

#include <filesystem>

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
  _child.emplace(std::vector<std::string>{executable},
                 ChildOptions{.environment = environment, .input = true});
  if (_child->pid() <= 0) {
    _child.reset();
    return;
  }
  // The echo proves the program is running its own code, past every step of its start.
  if (!_child->send("!") || !_child->awaitOutput("!", 10)) {
    ADD_FAILURE() << executable << " did not answer";
    _child.reset();
  }
}

RunningProgram::~RunningProgram() = default;

}  // namespace testing_support
