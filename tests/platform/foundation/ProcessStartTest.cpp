#include "foundation/ProcessStart.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "foundation/FileDescriptor.h"
#include "support/TestHome.h"

namespace {

using foundation::ProcessOptions;
using foundation::startProcess;
using testing_support::HomeTest;
using testing_support::readFile;

using ProcessStartTest = HomeTest;

// A child that runs `script` with sh.
ProcessOptions reporter(const std::string& script) {
  ProcessOptions options;
  options.arguments = {"sh", "-c", script};
  return options;
}

// The child gets its variables, folder and streams, and none of the caller's other descriptors.
TEST_F(ProcessStartTest, TheChildRunsWithItsEnvironmentFolderAndStreams) {
  const std::string out = sandbox.inHome("out"), folder = sandbox.inHome("");
  foundation::FileDescriptor file(::open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  foundation::FileDescriptor leaked(::open("/dev/null", O_RDONLY));  // not close-on-exec
  ASSERT_TRUE(file && leaked);
  ProcessOptions options = reporter(
      "echo \"$MARK|$HOME|$(pwd)\"; read line || echo eof; "
      "[ -e /proc/self/fd/" +
      std::to_string(leaked.get()) + " ] || echo closed; echo e >&2");
  options.environment = {{"MARK", "a b"}, {"HOME", "/elsewhere"}};
  options.workingDirectory = folder;
  // Standard error goes where standard output does: onto the caller's descriptor of the file.
  options.streams = {ProcessOptions::kNullDevice, file.get(), file.get()};
  options.closeOtherDescriptors = true;
  foundation::Result<pid_t> child = startProcess(options);
  ASSERT_TRUE(child) << child.error().message;
  foundation::Result<int> status = foundation::waitForProcess(child.value());
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(status.value()) && WEXITSTATUS(status.value()) == 0);
  std::string pwd = folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
  EXPECT_EQ(readFile(out), "a b|/elsewhere|" + pwd + "\neof\nclosed\ne\n");
}

// A step that fails in the child is named with its errno, and the child is reaped.
TEST_F(ProcessStartTest, AFailedStepIsNamedAndItsChildReaped) {
  ProcessOptions options = reporter("exit 0");
  options.workingDirectory = sandbox.inHome("missing");
  foundation::Result<pid_t> child = startProcess(options);
  ASSERT_FALSE(child);
  EXPECT_STREQ(child.error().call, "chdir");
  EXPECT_EQ(child.error().code, ENOENT);

  options = reporter("");
  options.executable = sandbox.inHome("no-such-program");
  child = startProcess(options);
  ASSERT_FALSE(child);
  EXPECT_STREQ(child.error().call, "execvp");
  EXPECT_EQ(child.error().message,
            "cannot run " + options.executable + ": " + std::strerror(ENOENT));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "a failed child was left to reap";
}

}  // namespace
